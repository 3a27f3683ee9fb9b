#pragma once
// Finds VST3 bundles in folders without loading them and describes each from
// its name and the vendor in its Contents/Info.plist. Stateless.

#include "plugins/PluginInfo.h"

#include <string>
#include <vector>

class PluginScanner {
public:
    // The bundles under a folder, or under every default folder when the
    // folder is empty.
    std::vector<PluginInfo> scan(const std::string& directory);
    // $HOME/.vst3, /usr/lib/vst3 and /usr/local/lib/vst3, sorted.
    std::vector<std::string> getDefaultSearchPaths();
    // Appends the bundles found by a recursive walk (links to folders are
    // not followed); a missing folder adds nothing.
    void scanDirectory(const std::string& directory, std::vector<PluginInfo>& results);
    // True when the text after the last dot is "vst3" in any case.
    bool isValidPlugin(const std::string& path);
    PluginInfo parseVST3Plugin(const std::string& path);
};
