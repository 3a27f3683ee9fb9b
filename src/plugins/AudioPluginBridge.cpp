#include "AudioPluginBridge.h"

#include "plugins/PluginLog.h"
#include "plugins/PluginScanner.h"
#include "plugins/VST3PluginInstance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kOfflineBlock = 512;

void logInfo(const std::string& text)
{
    PluginLog::info("AudioPluginBridge: " + text);
}

// The velocity byte of an offline note: 0..1 scaled to 0..127, truncated;
// out-of-range values are clamped and NaN counts as 0.
unsigned char velocityByte(float velocity)
{
    if (!(velocity > 0.0f))
        return 0;
    return static_cast<unsigned char>(std::min(velocity * 127.0f, 127.0f));
}

} // namespace

AudioPluginBridge::AudioPluginBridge() : scanner(std::make_unique<PluginScanner>()) {}

AudioPluginBridge::~AudioPluginBridge()
{
    shutdown();
    std::lock_guard<std::mutex> lock(mutex);
    processCallback = nullptr;
    parameterCallback = nullptr;
    midiCallback = nullptr;
    scannedPlugins.clear();
    scanner.reset();
}

// ---- lifecycle ------------------------------------------------------------------

bool AudioPluginBridge::initialize(int rate, int block)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (initialized)
        return true;
    // Plug-ins trust the host's rate and block size: absurd values make them
    // allocate without limit or fail inside their processing.
    if (rate < kMinSampleRate || rate > kMaxSampleRate || block < kMinBlockSize || block > kMaxBlockSize) {
        loadError = "plug-ins cannot run at " + std::to_string(rate) + " Hz with blocks of " +
                    std::to_string(block) + " frames";
        PluginLog::error("AudioPluginBridge: Refused SR=" + std::to_string(rate) + " BS=" + std::to_string(block));
        return false;
    }
    loadError.clear();
    sampleRate = rate;
    blockSize = block;
    initialized = true;
    logInfo("Initialized SR=" + std::to_string(sampleRate) + " BS=" + std::to_string(blockSize));
    return true;
}

void AudioPluginBridge::shutdown()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!initialized)
        return;
    // An instance an editor window still holds stays loaded until that lets go.
    instances.clear();
    instancesById.clear();
    trackChains.clear();
    initialized = false;
    logInfo("Shutdown");
}

void AudioPluginBridge::setSampleRate(int rate)
{
    // Plug-ins are not set up at rates they were never meant to run at.
    if (rate < kMinSampleRate || rate > kMaxSampleRate) {
        PluginLog::error("AudioPluginBridge: Sample rate refused: " + std::to_string(rate));
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    sampleRate = rate;
    for (const auto& instance : instances)
        instance->changeSampleRate(rate);
    logInfo("Sample rate " + std::to_string(sampleRate));
}

std::vector<PluginInfo> AudioPluginBridge::scanPlugins(const std::string& directory)
{
    if (!scanner)
        return {};
    // The walk runs unlocked; only the list is replaced under the mutex.
    std::vector<PluginInfo> found = scanner->scan(directory);
    std::lock_guard<std::mutex> lock(mutex);
    scannedPlugins = found;
    return found;
}

std::vector<PluginInfo> AudioPluginBridge::getScannedPlugins() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return scannedPlugins;
}

int AudioPluginBridge::loadPlugin(const std::string& path)
{
    int rate = 0;
    int block = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!initialized) {
            if (loadError.empty())
                loadError = "the plug-in host is not running";
            return -1;
        }
        rate = sampleRate;
        block = blockSize;
    }
    auto instance = std::make_shared<VST3PluginInstance>();
    if (!instance->load(path, rate, block)) {
        std::lock_guard<std::mutex> lock(mutex);
        loadError = instance->lastLoadError();
        return -1;
    }
    int id = -1;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!initialized)
            return -1;
        id = nextId++;
        instances.push_back(instance);
        instancesById[id] = instance;
    }
    logInfo("Loaded plugin id=" + std::to_string(id));
    return id;
}

std::string AudioPluginBridge::lastLoadError() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return loadError;
}

std::shared_ptr<VST3PluginInstance> AudioPluginBridge::findLocked(int id) const
{
    const auto it = instancesById.find(id);
    return it == instancesById.end() ? nullptr : it->second;
}

bool AudioPluginBridge::unloadLocked(int id)
{
    const auto found = instancesById.find(id);
    if (found == instancesById.end())
        return false;
    const std::shared_ptr<VST3PluginInstance> instance = found->second;
    instance->unload();
    instancesById.erase(found);
    instances.erase(std::remove(instances.begin(), instances.end(), instance), instances.end());
    logInfo("Unloaded plugin id=" + std::to_string(id));
    return true;
}

bool AudioPluginBridge::unloadPlugin(int id)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!unloadLocked(id))
        return false;
    for (auto& [track, slots] : trackChains)
        slots.erase(std::remove_if(slots.begin(), slots.end(),
                                   [id](const TrackPluginSlot& slot) { return slot.pluginId == id; }),
                    slots.end());
    return true;
}

template <class Result, class Body>
Result AudioPluginBridge::withInstance(int id, Result fallback, Body body) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto instance = findLocked(id);
    return instance ? body(*instance) : fallback;
}

bool AudioPluginBridge::activatePlugin(int id)
{
    return withInstance(id, false, [](VST3PluginInstance& plugin) { return plugin.activate(); });
}

bool AudioPluginBridge::deactivatePlugin(int id)
{
    return withInstance(id, false, [](VST3PluginInstance& plugin) {
        plugin.deactivate();
        return true;
    });
}

// ---- queries ----------------------------------------------------------------------

PluginInfo AudioPluginBridge::getPluginInfo(int id) const
{
    return withInstance(id, PluginInfo{}, [](VST3PluginInstance& plugin) { return plugin.getInfo(); });
}

std::vector<PluginInfo> AudioPluginBridge::getAvailablePlugins() const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<PluginInfo> out;
    out.reserve(instances.size());
    for (const auto& instance : instances)
        out.push_back(instance->getInfo());
    return out;
}

std::vector<int> AudioPluginBridge::loadedPluginIds() const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<int> ids;
    for (const auto& entry : instancesById)
        ids.push_back(entry.first);
    return ids;
}

std::string AudioPluginBridge::pluginName(int id) const
{
    return getPluginInfo(id).name;
}

std::shared_ptr<VST3PluginInstance> AudioPluginBridge::getPluginInstance(int id) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return findLocked(id);
}

bool AudioPluginBridge::setParameter(int id, int index, float value)
{
    if (std::isnan(value))
        return false;
    return withInstance(id, false, [&](VST3PluginInstance& plugin) { return plugin.setParameter(index, value); });
}

float AudioPluginBridge::getParameter(int id, int index) const
{
    return withInstance(id, 0.0f, [&](VST3PluginInstance& plugin) { return plugin.getParameter(index); });
}

std::vector<std::string> AudioPluginBridge::getParameterNames(int id) const
{
    return withInstance(id, std::vector<std::string>{}, [](VST3PluginInstance& plugin) {
        std::vector<std::string> names;
        const int count = plugin.getParameterCount();
        for (int i = 0; i < count; ++i)
            names.push_back(plugin.getParameterName(i));
        return names;
    });
}

bool AudioPluginBridge::sendMidiEvent(int id, const unsigned char* data, int length)
{
    if (length < 1 || !data || !initialized)
        return false;
    return withInstance(id, false, [&](VST3PluginInstance& plugin) {
        plugin.sendMidiEvent(data, length);
        return true;
    });
}

bool AudioPluginBridge::savePreset(int id, const std::string& path)
{
    return withInstance(id, false, [&](VST3PluginInstance& plugin) { return plugin.saveState(path); });
}

bool AudioPluginBridge::loadPreset(int id, const std::string& path)
{
    return withInstance(id, false, [&](VST3PluginInstance& plugin) { return plugin.loadState(path); });
}

int AudioPluginBridge::getProgramCount(int) const
{
    return 0;
}

int AudioPluginBridge::getCurrentProgram(int) const
{
    return 0;
}

bool AudioPluginBridge::setProgram(int, int)
{
    return false;
}

bool AudioPluginBridge::showPluginEditor(int id, void* parentView)
{
    return withInstance(id, false, [&](VST3PluginInstance& plugin) { return plugin.showEditor(parentView); });
}

bool AudioPluginBridge::hidePluginEditor(int id)
{
    return withInstance(id, false, [](VST3PluginInstance& plugin) {
        plugin.hideEditor();
        return true;
    });
}

bool AudioPluginBridge::isPluginEditorOpen(int id) const
{
    return withInstance(id, false, [](VST3PluginInstance& plugin) { return plugin.isEditorOpen(); });
}

void AudioPluginBridge::setProcessCallback(ProcessCallback callback)
{
    std::lock_guard<std::mutex> lock(mutex);
    processCallback = std::move(callback);
}

void AudioPluginBridge::setParameterCallback(ParameterCallback callback)
{
    std::lock_guard<std::mutex> lock(mutex);
    parameterCallback = std::move(callback);
}

void AudioPluginBridge::setMidiCallback(MidiCallback callback)
{
    std::lock_guard<std::mutex> lock(mutex);
    midiCallback = std::move(callback);
}

// ---- processing ------------------------------------------------------------------

void AudioPluginBridge::copyChannels(const AudioBuffer& input, AudioBuffer& output, int channels, int frames)
{
    for (int c = 0; c < channels; ++c) {
        const float* from = input.data[c];
        float* to = output.data[c];
        // The live output passes one buffer as both: nothing to copy then.
        if (from && to && from != to)
            std::memmove(to, from, size_t(frames) * sizeof(float));
    }
}

namespace {

// The common channels and frames of two buffers; none when either holds no channel array.
void commonShape(const AudioBuffer& input, const AudioBuffer& output, int& channels, int& frames)
{
    channels = std::min(input.numChannels, output.numChannels);
    frames = std::min(input.numFrames, output.numFrames);
    if (!input.data || !output.data || channels < 0 || frames < 0)
        channels = frames = 0;
}

} // namespace

void AudioPluginBridge::runInSeries(const std::vector<VST3PluginInstance*>& plugins, const AudioBuffer& input,
                                    AudioBuffer& output)
{
    int channels = 0;
    int frames = 0;
    commonShape(input, output, channels, frames);
    std::vector<float*> in(input.data, input.data + channels);
    std::vector<float*> out(output.data, output.data + channels);
    bool processed = false;
    for (VST3PluginInstance* plugin : plugins) {
        if (!plugin->isActive())
            continue;
        // The first reads the input; every later one works on the output in place.
        // Channels past the first one's outputs come through as they went in,
        // as they do when the chain works in place.
        if (!processed)
            for (int c = plugin->outputChannelCount(); c < channels; ++c)
                if (in[size_t(c)] && out[size_t(c)] && in[size_t(c)] != out[size_t(c)])
                    std::memmove(out[size_t(c)], in[size_t(c)], size_t(frames) * sizeof(float));
        plugin->process(processed ? out.data() : in.data(), out.data(), channels, frames);
        processed = true;
    }
    if (!processed)
        copyChannels(input, output, channels, frames);
}

void AudioPluginBridge::process(const AudioBuffer& input, AudioBuffer& output)
{
    if (!initialized)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (instances.empty())
        return;
    std::vector<VST3PluginInstance*> plugins;
    for (const auto& instance : instances)
        plugins.push_back(instance.get());
    runInSeries(plugins, input, output);
    if (processCallback)
        processCallback(input, output);
}

int AudioPluginBridge::addPluginToTrack(const std::string& trackId, const std::string& path)
{
    if (!initialized)
        return -1;
    const int id = loadPlugin(path);
    if (id < 0)
        return -1;
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<TrackPluginSlot>& chain = trackChains[trackId];
    chain.push_back({id, false});
    const int slot = int(chain.size()) - 1;
    logInfo("Added plugin " + std::to_string(id) + " to track " + trackId + " slot=" + std::to_string(slot));
    return slot;
}

bool AudioPluginBridge::removePluginFromTrack(const std::string& trackId, int slot)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto chain = trackChains.find(trackId);
    if (chain == trackChains.end() || slot < 0 || slot >= int(chain->second.size()))
        return false;
    const int id = chain->second[size_t(slot)].pluginId;
    chain->second.erase(chain->second.begin() + slot);
    unloadLocked(id);
    return true;
}

bool AudioPluginBridge::setTrackPluginBypass(const std::string& trackId, int slot, bool bypass)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto chain = trackChains.find(trackId);
    if (chain == trackChains.end() || slot < 0 || slot >= int(chain->second.size()))
        return false;
    chain->second[size_t(slot)].bypassed = bypass;
    return true;
}

void AudioPluginBridge::processTrack(const std::string& trackId, const AudioBuffer& input, AudioBuffer& output)
{
    if (!initialized)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    // Slots in chain order; bypassed ones and ids no longer loaded are skipped.
    std::vector<VST3PluginInstance*> plugins;
    const auto chain = trackChains.find(trackId);
    if (chain != trackChains.end())
        for (const TrackPluginSlot& slot : chain->second)
            if (const auto instance = slot.bypassed ? nullptr : findLocked(slot.pluginId))
                plugins.push_back(instance.get());
    runInSeries(plugins, input, output);
}

void AudioPluginBridge::clearTrackPlugins(const std::string& trackId)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto chain = trackChains.find(trackId);
    if (chain == trackChains.end())
        return;
    for (const TrackPluginSlot& slot : chain->second)
        unloadLocked(slot.pluginId);
    chain->second.clear();
}

bool AudioPluginBridge::renderOffline(int id, const OfflineMidiEvent* events, int numEvents, int numFrames, int,
                                      float* output)
{
    if (numFrames < 1 || !output || !events || !initialized)
        return false;
    std::lock_guard<std::mutex> lock(mutex);
    const auto instance = findLocked(id);
    if (!instance)
        return false;
    if (!instance->isActive() && !instance->activate())
        return false;

    AudioBuffer in;
    AudioBuffer out;
    in.allocate(2, kOfflineBlock);
    out.allocate(2, kOfflineBlock);
    if (!in.data || !out.data)
        return false;
    int next = 0;
    for (int position = 0; position < numFrames;) {
        const int block = std::min(kOfflineBlock, numFrames - position);
        // Events are sorted: each sounds at the start of the block it falls in,
        // one before the block is dropped, one past it ends the scan.
        for (; next < numEvents; ++next) {
            const OfflineMidiEvent& event = events[next];
            if (event.sampleOffset >= position + block)
                break;
            if (event.sampleOffset < position)
                continue;
            const unsigned char message[3] = {
                static_cast<unsigned char>((event.type == 1 ? 0x80 : 0x90) | (event.channel & 15)),
                static_cast<unsigned char>(event.note & 127), velocityByte(event.velocity)};
            instance->sendMidiEvent(message, 3);
        }
        for (int c = 0; c < 2; ++c)
            std::fill(out.data[c], out.data[c] + block, 0.0f);
        instance->process(in.data, out.data, 2, block);
        float* frame = output + 2 * size_t(position);
        for (int i = 0; i < block; ++i) {
            frame[2 * i] = out.data[0][i];
            frame[2 * i + 1] = out.data[1][i];
        }
        position += block;
    }
    return true;
}
