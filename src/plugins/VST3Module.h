#pragma once
// One opened VST3 module: the shared library of a bundle, entered through
// ModuleEntry, with its factory and the list of classes it offers. Opening
// the same binary again while it is open shares the module; the last holder
// releases the factory, calls ModuleExit and closes the library.

#include "plugins/VST3Interfaces.h"
#include "plugins/VST3Ptr.h"

#include <memory>
#include <string>
#include <vector>

struct VST3ClassInfo {
    vst::Uid id{};
    std::string name;
    std::string vendor;
    std::string category;
    std::vector<std::string> subCategories;
};

class VST3Module {
public:
    ~VST3Module();
    VST3Module(const VST3Module&) = delete;
    VST3Module& operator=(const VST3Module&) = delete;

    // Opens a bundle folder (NAME.vst3, whose binary is
    // Contents/<machine>-linux/NAME.so) or the .so inside one. Null with a
    // reason in error when the path is no usable module.
    static std::shared_ptr<VST3Module> open(const std::string& path, std::string& error);

    // The binary a bundle path stands for; empty with a reason when none.
    static std::string binaryPath(const std::string& path, std::string& error);

    // The bundle's name without ".vst3" (or the binary's name outside a bundle).
    const std::string& name() const { return moduleName; }
    const std::string& binary() const { return binaryFile; }
    // The classes in factory order (unreadable entries left out).
    const std::vector<VST3ClassInfo>& classInfos() const { return classes; }

    // Creates a class as the given interface; empty on any failure,
    // including a plug-in that reports success without an object.
    template <class T>
    VST3Ptr<T> createInstance(const vst::Uid& classId) const
    {
        return VST3Ptr<T>(static_cast<T*>(createRaw(classId, T::iid)));
    }

private:
    VST3Module() = default;
    void* createRaw(const vst::Uid& classId, const vst::Uid& interfaceId) const;
    void readClasses();

    void* library = nullptr;
    bool (*moduleExit)() = nullptr;
    VST3Ptr<vst::IPluginFactory> factory;
    std::string moduleName;
    std::string binaryFile;
    std::string registryKey; // set once the module is registered
    std::vector<VST3ClassInfo> classes;
};
