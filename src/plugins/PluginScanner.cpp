#include "PluginScanner.h"

#include "plugins/PluginLog.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// An Info.plist larger than this is not read for its vendor.
constexpr std::uintmax_t kMaxPlistBytes = 1 << 20;

bool isBundleName(const fs::path& component)
{
    std::string ext = component.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".vst3";
}

std::string withoutExtension(const std::string& name)
{
    return name.size() > 5 ? name.substr(0, name.size() - 5) : name;
}

std::string vendorOf(const std::string& plist)
{
    const std::string open = "<vendor>";
    const size_t start = plist.find(open);
    if (start == std::string::npos)
        return {};
    const size_t end = plist.find("</vendor>", start + open.size());
    if (end == std::string::npos)
        return {};
    return plist.substr(start + open.size(), end - start - open.size());
}

} // namespace

std::vector<PluginInfo> PluginScanner::scan(const std::string& directory)
{
    std::vector<PluginInfo> results;
    if (!directory.empty()) {
        scanDirectory(directory, results);
    } else {
        for (const std::string& folder : getDefaultSearchPaths())
            scanDirectory(folder, results);
    }
    PluginLog::info("PluginScanner: Found " + std::to_string(results.size()) + " plugins");
    return results;
}

std::vector<std::string> PluginScanner::getDefaultSearchPaths()
{
    std::vector<std::string> paths = {"/usr/lib/vst3", "/usr/local/lib/vst3"};
    const char* home = std::getenv("HOME");
    if (home && *home)
        paths.push_back(std::string(home) + "/.vst3");
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

void PluginScanner::scanDirectory(const std::string& directory, std::vector<PluginInfo>& results)
{
    std::error_code ec;
    if (directory.empty() || !fs::is_directory(directory, ec))
        return;
    try {
        // Links to folders are not followed, so a link loop cannot trap the walk.
        fs::recursive_directory_iterator it(directory, fs::directory_options::none, ec);
        for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
            const fs::path entry = it->path();
            std::error_code typeError;
            // A link to a bundle is listed; the walk only never descends through links.
            if (!it->is_directory(typeError) || !isValidPlugin(entry.string()))
                continue;
            PluginInfo info = parseVST3Plugin(entry.string());
            if (!info.name.empty())
                results.push_back(std::move(info));
        }
        if (ec)
            PluginLog::error("PluginScanner: Error scanning directory: " + ec.message());
    } catch (const std::exception& failure) {
        PluginLog::error(std::string("PluginScanner: Error scanning directory: ") + failure.what());
    }
}

bool PluginScanner::isValidPlugin(const std::string& path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == "vst3";
}

PluginInfo PluginScanner::parseVST3Plugin(const std::string& path)
{
    PluginInfo info;
    info.path = path;
    info.format = "vst3";
    info.numInputChannels = 2;
    info.numOutputChannels = 2;
    try {
        const fs::path bundle(path);
        fs::path plist;
        if (isBundleName(bundle)) {
            plist = bundle / "Contents" / "Info.plist";
        } else {
            for (fs::path up = bundle.parent_path(); !up.empty() && up != up.root_path(); up = up.parent_path())
                if (up.filename() == "Contents") {
                    plist = up / "Info.plist";
                    break;
                }
        }
        std::error_code ec;
        if (plist.empty() || !fs::is_regular_file(plist, ec)) {
            info.name = withoutExtension(bundle.filename().string());
            info.uid = info.name;
            return info;
        }
        for (fs::path up = bundle; !up.empty() && up.has_extension(); up = up.parent_path())
            if (isBundleName(up)) {
                info.name = withoutExtension(up.filename().string());
                info.uid = info.name;
                break;
            }
        if (fs::file_size(plist) > kMaxPlistBytes)
            return info;
        std::ifstream file(plist, std::ios::binary);
        if (!file)
            throw std::runtime_error("cannot open " + plist.string());
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        info.vendor = vendorOf(text);
    } catch (const std::exception& failure) {
        PluginLog::error(std::string("PluginScanner: Error parsing VST3: ") + failure.what());
    }
    return info;
}
