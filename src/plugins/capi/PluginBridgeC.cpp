// The exported C functions over AudioPluginBridge. Handles live in one
// program-wide registry; every call looks its handle up first, checks its
// pointers and block sizes, and never lets an exception cross into C.

#include "plugins/capi/PluginBridgeC.h"

#include "plugins/AudioPluginBridge.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Most channels a caller's block may have.
constexpr int kMaxChannels = 256;

std::mutex registryMutex;
std::map<BridgeHandle, std::shared_ptr<AudioPluginBridge>> registry;

// A call holds its own reference, so a bridge destroyed by another thread
// meanwhile goes only when that call has returned.
std::shared_ptr<AudioPluginBridge> lookup(BridgeHandle h)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    const auto it = registry.find(h);
    return it == registry.end() ? nullptr : it->second;
}

void copyText(char* field, size_t size, const std::string& text)
{
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

void fill(const PluginInfo& info, BridgePluginInfo* out)
{
    std::memset(out, 0, sizeof *out);
    copyText(out->uid, sizeof out->uid, info.uid);
    copyText(out->name, sizeof out->name, info.name);
    copyText(out->vendor, sizeof out->vendor, info.vendor);
    copyText(out->path, sizeof out->path, info.path);
    copyText(out->format, sizeof out->format, info.format);
    out->numParameters = info.numParameters;
    out->reserved = 0;
    out->numInputChannels = info.numInputChannels;
    out->numOutputChannels = info.numOutputChannels;
    out->isInstrument = info.isInstrument ? 1u : 0u;
}

int fillFrom(const std::vector<PluginInfo>& list, int index, BridgePluginInfo* out)
{
    if (!out || index < 0 || index >= int(list.size()))
        return 0;
    fill(list[size_t(index)], out);
    return 1;
}

// A caller's planar block as channels and frames; an empty block (0, 0) when
// a count is 0 or negative, there are more than kMaxChannels channels, the
// sample count does not fit in 32 bits, or the data pointer is null.
struct Shape {
    int channels = 0;
    int frames = 0;
};

Shape shapeOf(const void* data, int channels, int frames)
{
    const long long samples = (long long)channels * frames;
    if (channels < 1 || frames < 1 || channels > kMaxChannels || samples > INT_MAX || !data)
        return {};
    return {channels, frames};
}

// An AudioBuffer that points into a caller's planar block without owning it.
class BlockView {
public:
    BlockView(float* data, Shape shape) : pointers(size_t(shape.channels))
    {
        for (int c = 0; c < shape.channels; ++c)
            pointers[size_t(c)] = data + size_t(c) * size_t(shape.frames);
        if (shape.channels > 0) {
            buffer.data = pointers.data();
            buffer.numChannels = shape.channels;
            buffer.numFrames = shape.frames;
        }
    }
    ~BlockView()
    {
        // The samples and the pointer array are not the buffer's to free.
        buffer.data = nullptr;
        buffer.numChannels = buffer.numFrames = 0;
    }
    AudioBuffer& get() { return buffer; }

private:
    std::vector<float*> pointers;
    AudioBuffer buffer;
};

template <class Result, class Body>
Result guarded(Result failure, Body body)
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// body(bridge) for a registered handle, else the failure value.
template <class Result, class Body>
Result withBridge(BridgeHandle h, Result failure, Body body)
{
    return guarded(failure, [&] {
        const std::shared_ptr<AudioPluginBridge> bridge = lookup(h);
        return bridge ? Result(body(*bridge)) : failure;
    });
}

template <class Body>
void guardedVoid(Body body)
{
    try {
        body();
    } catch (...) {
    }
}

} // namespace

extern "C" {

BridgeHandle create_bridge(void)
{
    return guarded<BridgeHandle>(nullptr, [] {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto bridge = std::make_shared<AudioPluginBridge>();
        BridgeHandle handle = bridge.get();
        registry[handle] = std::move(bridge);
        return handle;
    });
}

void destroy_bridge(BridgeHandle h)
{
    guardedVoid([h] {
        std::shared_ptr<AudioPluginBridge> bridge;
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            const auto it = registry.find(h);
            if (it == registry.end())
                return;
            bridge = std::move(it->second);
            registry.erase(it);
        }
        // Shut down and released here, or by the last call still using it.
        bridge.reset();
    });
}

int bridge_initialize(BridgeHandle h, int sampleRate, int blockSize)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.initialize(sampleRate, blockSize) ? 1 : 0; });
}

void bridge_shutdown(BridgeHandle h)
{
    guardedVoid([&] {
        if (const auto bridge = lookup(h))
            bridge->shutdown();
    });
}

int bridge_get_plugin_count(BridgeHandle h)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return int(b.getAvailablePlugins().size()); });
}

int bridge_get_plugin_info(BridgeHandle h, int index, BridgePluginInfo* out)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return fillFrom(b.getAvailablePlugins(), index, out); });
}

int bridge_scan_plugins(BridgeHandle h, const char* directory)
{
    // No folder means the default folders.
    return withBridge(h, 0, [&](AudioPluginBridge& b) {
        return int(b.scanPlugins(directory ? directory : "").size());
    });
}

int bridge_get_scanned_plugin_count(BridgeHandle h)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return int(b.getScannedPlugins().size()); });
}

int bridge_get_scanned_plugin_info(BridgeHandle h, int index, BridgePluginInfo* out)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return fillFrom(b.getScannedPlugins(), index, out); });
}

int bridge_load_plugin(BridgeHandle h, const char* path)
{
    return withBridge(h, -1, [&](AudioPluginBridge& b) { return path ? b.loadPlugin(path) : -1; });
}

int bridge_unload_plugin(BridgeHandle h, int id)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.unloadPlugin(id) ? 1 : 0; });
}

int bridge_activate_plugin(BridgeHandle h, int id)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.activatePlugin(id) ? 1 : 0; });
}

int bridge_deactivate_plugin(BridgeHandle h, int id)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.deactivatePlugin(id) ? 1 : 0; });
}

int bridge_set_parameter(BridgeHandle h, int id, int index, float value)
{
    // NaN is refused; other values are clamped to 0..1 on the way in.
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.setParameter(id, index, value) ? 1 : 0; });
}

float bridge_get_parameter(BridgeHandle h, int id, int index)
{
    return withBridge(h, 0.0f, [&](AudioPluginBridge& b) { return b.getParameter(id, index); });
}

void bridge_process(BridgeHandle h, const BridgeAudioBuffer* in, BridgeAudioBuffer* out)
{
    guardedVoid([&] {
        const auto bridge = lookup(h);
        if (!bridge || !in || !out)
            return;
        const Shape inShape = shapeOf(in->data, in->numChannels, in->numFrames);
        const Shape outShape = shapeOf(out->data, out->numChannels, out->numFrames);
        BlockView input(in->data, inShape);
        AudioBuffer output;
        output.allocate(outShape.channels, outShape.frames);
        bridge->process(input.get(), output);
        for (int c = 0; c < std::min(output.numChannels, outShape.channels); ++c)
            std::memcpy(out->data + size_t(c) * size_t(outShape.frames), output.data[c],
                        size_t(output.numFrames) * sizeof(float));
    });
}

int bridge_save_preset(BridgeHandle h, int id, const char* path)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return path && b.savePreset(id, path) ? 1 : 0; });
}

int bridge_load_preset(BridgeHandle h, int id, const char* path)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return path && b.loadPreset(id, path) ? 1 : 0; });
}

int bridge_show_editor(BridgeHandle h, const char* path)
{
    return guarded(0, [&] {
        if (!path)
            return 0;
        std::lock_guard<std::mutex> lock(registryMutex);
        const auto it = registry.find(h);
        if (it == registry.end())
            return 0;
        AudioPluginBridge& bridge = *it->second;
        // A further instance of a loaded plug-in, with a view made headless.
        for (const PluginInfo& info : bridge.getAvailablePlugins()) {
            if (info.path != path)
                continue;
            const int id = bridge.loadPlugin(path);
            if (id < 0)
                continue;
            bridge.activatePlugin(id);
            return bridge.showPluginEditor(id, nullptr) ? 1 : 0;
        }
        return 0;
    });
}

int bridge_hide_editor(BridgeHandle h, int id)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.hidePluginEditor(id) ? 1 : 0; });
}

int bridge_is_editor_open_by_id(BridgeHandle h, int id)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) { return b.isPluginEditorOpen(id) ? 1 : 0; });
}

int bridge_add_plugin_to_track(BridgeHandle h, const char* trackId, const char* path)
{
    return withBridge(h, -1, [&](AudioPluginBridge& b) {
        return trackId && path ? b.addPluginToTrack(trackId, path) : -1;
    });
}

int bridge_remove_plugin_from_track(BridgeHandle h, const char* trackId, int slot)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) {
        return trackId && b.removePluginFromTrack(trackId, slot) ? 1 : 0;
    });
}

int bridge_set_track_plugin_bypass(BridgeHandle h, const char* trackId, int slot, int bypass)
{
    return withBridge(h, 0, [&](AudioPluginBridge& b) {
        return trackId && b.setTrackPluginBypass(trackId, slot, bypass != 0) ? 1 : 0;
    });
}

void bridge_process_track(BridgeHandle h, const char* trackId, const float* input, float* output, int numChannels,
                          int numFrames)
{
    guardedVoid([&] {
        const auto bridge = lookup(h);
        if (!bridge || !trackId || !input || !output)
            return;
        const Shape shape = shapeOf(input, numChannels, numFrames);
        BlockView in(const_cast<float*>(input), shape);
        AudioBuffer out;
        out.allocate(shape.channels, shape.frames);
        bridge->processTrack(trackId, in.get(), out);
        for (int c = 0; c < out.numChannels; ++c)
            std::memcpy(output + size_t(c) * size_t(shape.frames), out.data[c], size_t(out.numFrames) * sizeof(float));
    });
}

void bridge_clear_track_plugins(BridgeHandle h, const char* trackId)
{
    guardedVoid([&] {
        const auto bridge = lookup(h);
        if (bridge && trackId)
            bridge->clearTrackPlugins(trackId);
    });
}

// Reserved names.
int bridge_get_program_count(BridgeHandle, int) { return 0; }
int bridge_set_program(BridgeHandle, int, int) { return 0; }
int bridge_get_current_program(BridgeHandle, int) { return 0; }
int bridge_is_editor_open(BridgeHandle) { return 0; }
int bridge_render_offline(BridgeHandle, int, const void*, int, int, float*) { return 0; }
int bridge_schedule_midi_sequence(BridgeHandle, int, const void*, int) { return -1; }
void bridge_hide_editor_window(BridgeHandle) {}
void bridge_send_note_on(BridgeHandle, int, int, int, int) {}
void bridge_send_note_off(BridgeHandle, int, int, int) {}
void bridge_stop_midi_sequence(BridgeHandle, int) {}

} // extern "C"

static_assert(sizeof(BridgePluginInfo) == 1332 && offsetof(BridgePluginInfo, path) == 768 &&
                  offsetof(BridgePluginInfo, format) == 1280 && offsetof(BridgePluginInfo, numParameters) == 1312 &&
                  offsetof(BridgePluginInfo, isInstrument) == 1328,
              "BridgePluginInfo layout");
static_assert(sizeof(BridgeAudioBuffer) == 16 && offsetof(BridgeAudioBuffer, numFrames) == 12,
              "BridgeAudioBuffer layout");
