#pragma once
// The description of one plug-in: a loaded one (from its audio class) or a
// bundle found by a folder scan.

#include <cstdint>
#include <string>

struct PluginInfo {
    std::string uid;    // audio class id as 32 hex digits; a scanned bundle's name
    std::string name;
    std::string vendor;
    std::string path;   // bundle path
    std::string format; // "vst3" for scanned bundles, empty for loaded plug-ins
    int32_t numParameters = 0;
    int32_t reserved = 0;
    int32_t numInputChannels = 0;
    int32_t numOutputChannels = 0;
    bool isInstrument = false;
};
