#include "VST3Module.h"

#include "plugins/ElfLibraryCheck.h"
#include "plugins/PluginLog.h"
#include "plugins/VST3Text.h"

#include <algorithm>
#include <condition_variable>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/utsname.h>

namespace fs = std::filesystem;

namespace {

// Upper bounds on what a factory may report.
constexpr vst::int32 kMaxClasses = 4096;

// Recursive: a module that fails while being opened is closed under the lock.
std::recursive_mutex& registryMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

// Open modules by binary path, so each library is entered once at a time.
// An entry stays until its module has left the library: one whose last
// holder let go but which has not yet run ModuleExit reads as expired.
std::map<std::string, std::weak_ptr<VST3Module>>& registry()
{
    static std::map<std::string, std::weak_ptr<VST3Module>> modules;
    return modules;
}

// Signalled whenever a module has left its library.
std::condition_variable_any& moduleClosed()
{
    static std::condition_variable_any closed;
    return closed;
}

std::string architectureFolder()
{
    utsname machine{};
    if (uname(&machine) != 0)
        return "x86_64-linux";
    return std::string(machine.machine) + "-linux";
}

bool hasExtension(const fs::path& path, const char* extension)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == extension;
}

std::string stripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::vector<std::string> splitSubCategories(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t bar = text.find('|', start);
        const std::string part = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!part.empty())
            parts.push_back(part);
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return parts;
}

} // namespace

std::string VST3Module::binaryPath(const std::string& requested, std::string& error)
{
    const fs::path path(stripTrailingSlashes(requested));
    std::error_code ec;
    if (requested.empty() || !fs::exists(path, ec)) {
        error = "no such file or folder";
        return {};
    }
    if (fs::is_regular_file(path, ec))
        return path.string();
    if (!fs::is_directory(path, ec)) {
        error = "not a bundle folder or a shared library";
        return {};
    }
    const fs::path contents = path / "Contents";
    if (!fs::is_directory(contents, ec)) {
        error = "the bundle has no Contents folder";
        return {};
    }
    const fs::path arch = contents / architectureFolder();
    if (!fs::is_directory(arch, ec)) {
        error = "the bundle has no " + architectureFolder() + " folder";
        return {};
    }
    const fs::path named = arch / (path.stem().string() + ".so");
    if (fs::is_regular_file(named, ec))
        return named.string();
    // A bundle whose binary is named otherwise: the first library in the folder.
    std::vector<fs::path> libraries;
    for (fs::directory_iterator it(arch, ec), end; !ec && it != end; it.increment(ec))
        if (hasExtension(it->path(), ".so") && it->is_regular_file(ec))
            libraries.push_back(it->path());
    if (libraries.empty()) {
        error = "no .so file in " + arch.string();
        return {};
    }
    std::sort(libraries.begin(), libraries.end());
    return libraries.front().string();
}

std::shared_ptr<VST3Module> VST3Module::open(const std::string& path, std::string& error)
{
    const std::string binary = binaryPath(path, error);
    if (binary.empty())
        return nullptr;
    std::error_code ec;
    const std::string key = fs::weakly_canonical(binary, ec).string();

    std::unique_lock<std::recursive_mutex> lock(registryMutex());
    for (;;) {
        const auto found = registry().find(key);
        if (found == registry().end())
            break;
        if (auto shared = found->second.lock())
            return shared;
        // The last holder is closing this library: entering it again now
        // would run ModuleExit and dlclose under the new module.
        moduleClosed().wait(lock);
    }

    if (!ElfLibraryCheck::isLoadable(binary, error))
        return nullptr;
    // Every symbol is resolved now: a library that needs one the system
    // lacks is refused with the loader's reason, instead of the loader
    // ending the program at the first call that needs it.
    void* library = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        error = reason ? reason : "the library cannot be opened";
        return nullptr;
    }
    using EntryFunction = bool (*)(void*);
    using ExitFunction = bool (*)();
    using FactoryFunction = vst::IPluginFactory* (*)();
    auto entry = reinterpret_cast<EntryFunction>(dlsym(library, "ModuleEntry"));
    auto exitFunction = reinterpret_cast<ExitFunction>(dlsym(library, "ModuleExit"));
    auto getFactory = reinterpret_cast<FactoryFunction>(dlsym(library, "GetPluginFactory"));
    if (!getFactory || !entry) {
        error = getFactory ? "the library does not export ModuleEntry"
                           : "the library does not export GetPluginFactory";
        dlclose(library);
        return nullptr;
    }

    std::shared_ptr<VST3Module> module(new VST3Module);
    module->binaryFile = binary;
    // Named after the bundle: the path given, or the folder three levels
    // above a binary inside a bundle; else after the binary itself.
    const fs::path given = fs::path(stripTrailingSlashes(path));
    const fs::path bundle =
        hasExtension(given, ".vst3") ? given : fs::path(binary).parent_path().parent_path().parent_path();
    module->moduleName = hasExtension(bundle, ".vst3") ? bundle.stem().string() : fs::path(binary).stem().string();

    bool entered = false;
    try {
        entered = entry(library);
    } catch (...) {
        entered = false;
    }
    if (!entered) {
        error = "ModuleEntry failed";
        dlclose(library);
        return nullptr;
    }
    // From here the destructor undoes what was done: factory, ModuleExit, dlclose.
    module->library = library;
    module->moduleExit = exitFunction;
    try {
        module->factory.reset(getFactory());
    } catch (...) {
    }
    if (!module->factory) {
        error = "GetPluginFactory returned no factory";
        return nullptr;
    }
    try {
        module->readClasses();
    } catch (...) {
        error = "the factory failed while listing its classes";
        return nullptr;
    }
    module->registryKey = key;
    registry()[key] = module;
    return module;
}

VST3Module::~VST3Module()
{
    // Callers release every object of the module before the last holder goes.
    // Closing is serialised with opening, so a library is never entered while
    // it is being left.
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    try {
        factory.reset();
        if (moduleExit && library)
            moduleExit();
    } catch (...) {
        PluginLog::error("VST3Module: " + moduleName + " threw while closing");
    }
    if (library)
        dlclose(library);
    if (!registryKey.empty()) {
        registry().erase(registryKey);
        moduleClosed().notify_all();
    }
}

void VST3Module::readClasses()
{
    vst::PFactoryInfo factoryInfo{};
    std::string factoryVendor;
    if (factory->getFactoryInfo(&factoryInfo) == vst::kResultOk)
        factoryVendor = VST3Text::fromField(factoryInfo.vendor);
    auto factory2 = VST3Ptr<vst::IPluginFactory2>::query(factory.get());

    const vst::int32 count = std::clamp(factory->countClasses(), 0, kMaxClasses);
    for (vst::int32 i = 0; i < count; ++i) {
        VST3ClassInfo info;
        vst::PClassInfo2 extended{};
        if (factory2 && factory2->getClassInfo2(i, &extended) == vst::kResultOk) {
            info.id = vst::Uid::fromBytes(extended.cid);
            info.name = VST3Text::fromField(extended.name);
            info.category = VST3Text::fromField(extended.category);
            info.vendor = VST3Text::fromField(extended.vendor);
            info.subCategories = splitSubCategories(VST3Text::fromField(extended.subCategories));
        } else {
            vst::PClassInfo basic{};
            if (factory->getClassInfo(i, &basic) != vst::kResultOk)
                continue;
            info.id = vst::Uid::fromBytes(basic.cid);
            info.name = VST3Text::fromField(basic.name);
            info.category = VST3Text::fromField(basic.category);
        }
        if (info.vendor.empty())
            info.vendor = factoryVendor;
        classes.push_back(std::move(info));
    }
}

void* VST3Module::createRaw(const vst::Uid& classId, const vst::Uid& interfaceId) const
{
    void* object = nullptr;
    try {
        if (factory->createInstance(classId.bytes, interfaceId.bytes, &object) != vst::kResultOk)
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    return object;
}
