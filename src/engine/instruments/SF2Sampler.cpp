#include "engine/instruments/SF2Sampler.h"

#include "engine/instruments/FluidSynthInstance.h"
#include "engine/instruments/OfflineRenderLimits.h"

#include "audio/dsp/SincResampler.h"

#include <QDebug>
#include <algorithm>
#include <cmath>
#include <fluidsynth.h>

namespace {

// The rates FluidSynth synthesises at.
constexpr int kMinSynthRate = 8000;
constexpr int kMaxSynthRate = 96000;
constexpr int kLiveBlockFrames = 256;
// Offline notes are rendered through a fixed buffer of this many frames (a
// whole number of FluidSynth blocks).
constexpr int kOfflineChunkFrames = 64 * FluidSynthInstance::kBlockFrames;

// The rate FluidSynth runs at for an output rate: the output rate itself
// when FluidSynth takes it, else the nearest rate it takes, from which the
// output is resampled (so all rates above 96 kHz share one synthesiser).
int synthRate(int outputRate)
{
    return outputRate < 1 ? 44100 : std::clamp(outputRate, kMinSynthRate, kMaxSynthRate);
}

short toPcm16(float value)
{
    const float v = value * 32767.0f;
    return v >= 32767.0f ? short(32767) : v <= -32768.0f ? short(-32768) : short(v);
}

// What FluidSynth renders for output frames [first, end) of a track: frames
// [from, frames) at `rate`. Below the output's first frame no note sounds in
// either, so the render may start at or before it.
struct SynthRender {
    int rate;
    qint64 frames;
    qint64 from;
};

SynthRender synthRender(const TrackData& track, int outputRate, qint64 first)
{
    const int rate = synthRate(outputRate);
    if (rate == outputRate)
        return {rate, OfflineRender::trackFrames(track, rate), first};
    const qint64 frames = OfflineRender::trackFrames(track, rate);
    // The first note's frame bounds it too: no note may start before the render.
    const double step = double(rate) / outputRate;
    const qint64 from = std::min(qint64(std::floor(double(first) * step)),
                                 OfflineRender::firstNoteFrame(track, rate, frames));
    return {rate, frames, std::max<qint64>(from, 0)};
}

qint64 roundUpToBlock(qint64 frames)
{
    const qint64 block = FluidSynthInstance::kBlockFrames;
    return (frames + block - 1) / block * block;
}

} // namespace

SF2Sampler::SF2Sampler()
{
    channelPresets.fill(-1);
    channelSustain.fill(false);
}

SF2Sampler::~SF2Sampler()
{
    std::lock_guard<std::mutex> lock(mutex);
    synth.reset();
}

bool SF2Sampler::loadSoundFont(const QString& fontPath)
{
    std::lock_guard<std::mutex> lock(mutex);
    synth.reset();
    loaded = false;
    presets.clear();
    channelPresets.fill(-1);
    channelSustain.fill(false);
    path = fontPath;

    restartLiveResampling();
    std::unique_ptr<FluidSynthInstance> instance = FluidSynthInstance::create(synthRate(rate));
    if (!instance || !instance->loadFont(fontPath)) {
        qWarning() << "SF2Sampler: failed to load SoundFont:" << fontPath;
        return false;
    }

    fluid_sfont_t* font = instance->font();
    fluid_sfont_iteration_start(font);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
        presets.push_back({fluid_preset_get_banknum(preset), fluid_preset_get_num(preset),
                           QString::fromUtf8(fluid_preset_get_name(preset))});
    }
    std::stable_sort(presets.begin(), presets.end(), [](const Preset& a, const Preset& b) {
        return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
    });

    synth = std::move(instance);
    loaded = true;
    qDebug() << "SF2Sampler: loaded SoundFont:" << fontPath << "presets:" << presets.size();
    return true;
}

bool SF2Sampler::isLoaded() const
{
    return loaded;
}

QString SF2Sampler::soundFontPath() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return path;
}

void SF2Sampler::setSampleRate(int newRate)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (newRate == rate)
        return;
    rate = newRate;
    restartLiveResampling();
    const int wanted = synthRate(rate);
    // The synthesiser keeps running (and its notes sounding) when only the
    // resampling to the output changes.
    if (!synth || int(synth->sampleRate()) == wanted)
        return;
    // A FluidSynth rate is fixed at creation: move the font to a new synthesiser
    // and carry the channel state over. Sounding voices end.
    std::unique_ptr<FluidSynthInstance> replacement = FluidSynthInstance::create(wanted);
    if (!replacement || !replacement->takeFont(*synth)) {
        qWarning() << "SF2Sampler: cannot change the sample rate to" << rate;
        return;
    }
    qDebug() << "SF2Sampler: synthesiser now runs at" << wanted << "Hz; sounding notes end";
    synth = std::move(replacement);
    for (int channel = 0; channel < FluidSynthInstance::kChannels; ++channel) {
        applyChannelPreset(channel, channelPresets[size_t(channel)]);
        if (channelSustain[size_t(channel)])
            fluid_synth_cc(synth->synth(), channel, 64, 127);
    }
}

int SF2Sampler::sampleRate() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return rate;
}

QStringList SF2Sampler::getPresetNames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    QStringList names;
    if (!synth)
        return names;
    names.reserve(qsizetype(presets.size()));
    for (const Preset& preset : presets)
        names.append(preset.name);
    return names;
}

void SF2Sampler::applyChannelPreset(int channel, int presetIndex)
{
    if (presetIndex >= 0 && size_t(presetIndex) < presets.size()) {
        const Preset& preset = presets[size_t(presetIndex)];
        synth->selectProgram(channel, preset.bank, preset.program);
    } else {
        synth->selectProgram(channel, -1, -1); // no such preset: the channel stays silent
    }
}

void SF2Sampler::ensureChannel(int channel)
{
    for (int c = 0; c <= channel; ++c) {
        if (channelPresets[size_t(c)] < 0) {
            channelPresets[size_t(c)] = 0;
            applyChannelPreset(c, 0);
        }
    }
}

void SF2Sampler::selectPreset(int channel, int presetIndex)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth || channel < 0 || channel >= FluidSynthInstance::kChannels || presetIndex < 0)
        return;
    ensureChannel(channel);
    channelPresets[size_t(channel)] = presetIndex;
    applyChannelPreset(channel, presetIndex);
}

int SF2Sampler::currentPresetIndex(int channel) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth || channel < 0 || channel >= FluidSynthInstance::kChannels)
        return 0;
    return std::max(channelPresets[size_t(channel)], 0);
}

void SF2Sampler::noteOn(int channel, int key, int velocity)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth || channel < 0 || channel >= FluidSynthInstance::kChannels || key < 0 || key > 127
        || channelPresets[size_t(channel)] < 0)
        return;
    if (velocity <= 0)
        fluid_synth_noteoff(synth->synth(), channel, key);
    else
        fluid_synth_noteon(synth->synth(), channel, key, std::min(velocity, 127));
}

void SF2Sampler::noteOff(int channel, int key)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth || channel < 0 || channel >= FluidSynthInstance::kChannels || key < 0 || key > 127)
        return;
    fluid_synth_noteoff(synth->synth(), channel, key);
}

void SF2Sampler::allNotesOff()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (synth)
        fluid_synth_all_notes_off(synth->synth(), -1);
}

void SF2Sampler::sustain(int channel, bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth || channel < 0 || channel >= FluidSynthInstance::kChannels)
        return;
    ensureChannel(channel);
    channelSustain[size_t(channel)] = on;
    fluid_synth_cc(synth->synth(), channel, 64, on ? 127 : 0);
}

void SF2Sampler::renderLive(short* out, int frames)
{
    if (!out || frames < 1)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (!synth) {
        std::fill(out, out + 2 * qsizetype(frames), short(0));
        return;
    }
    if (int(synth->sampleRate()) != (rate < 1 ? 44100 : rate)) {
        renderLiveResampled(out, frames);
        return;
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kLiveBlockFrames);
        synth->render(scratch, n);
        short* target = out + 2 * qsizetype(done);
        for (int i = 0; i < 2 * n; ++i)
            target[i] = toPcm16(scratch[i]);
        done += n;
    }
}

void SF2Sampler::renderLiveResampled(short* out, int frames)
{
    // Linear interpolation between FluidSynth's frames, rendered a block
    // ahead into the scratch buffer; nothing is allocated.
    const double step = synth->sampleRate() / double(rate < 1 ? 44100 : rate);
    for (int i = 0; i < frames; ++i) {
        const float t = float(livePhase);
        out[2 * i] = toPcm16(livePrevious[0] + t * (liveNext[0] - livePrevious[0]));
        out[2 * i + 1] = toPcm16(livePrevious[1] + t * (liveNext[1] - livePrevious[1]));
        for (livePhase += step; livePhase >= 1.0; livePhase -= 1.0) {
            if (scratchNext == scratchFrames) {
                synth->render(scratch, kLiveBlockFrames);
                scratchFrames = kLiveBlockFrames;
                scratchNext = 0;
            }
            livePrevious[0] = liveNext[0];
            livePrevious[1] = liveNext[1];
            liveNext[0] = scratch[2 * scratchNext];
            liveNext[1] = scratch[2 * scratchNext + 1];
            ++scratchNext;
        }
    }
}

void SF2Sampler::restartLiveResampling()
{
    scratchFrames = 0;
    scratchNext = 0;
    livePhase = 0.0;
    livePrevious[0] = livePrevious[1] = 0.0f;
    liveNext[0] = liveNext[1] = 0.0f;
}

std::unique_ptr<FluidSynthInstance> SF2Sampler::offlineSynth(int sampleRate) const
{
    std::unique_ptr<FluidSynthInstance> instance = FluidSynthInstance::create(sampleRate);
    if (!instance || !instance->borrowFont(*synth))
        return nullptr;
    return instance;
}

QList<float> SF2Sampler::renderTrack(const TrackData& track, int sampleRate, qint64* firstFrame) const
{
    if (firstFrame)
        *firstFrame = 0;
    const qint64 frames = OfflineRender::trackFrames(track, sampleRate);
    if (frames < 1)
        return {};
    qint64 first = 0;
    if (firstFrame) {
        first = OfflineRender::firstNoteFrame(track, sampleRate, frames);
        if (first >= frames)
            return {};
        *firstFrame = first;
    }
    const SynthRender pass = synthRender(track, sampleRate, first);
    if (pass.frames - pass.from < 1)
        return {};
    QList<float> mono(pass.frames - pass.from, 0.0f);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!synth || presets.empty())
            return {};
        std::unique_ptr<FluidSynthInstance> offline = offlineSynth(pass.rate);
        if (!offline)
            return {};
        // The track's own preset: the live channel may be shared with another track.
        const Preset& preset =
            presets[size_t(std::clamp(track.instrumentIndex, 0, int(presets.size()) - 1))];
        offline->selectProgram(0, preset.bank, preset.program);
        renderNotes(*offline, track, pass.rate, pass.frames, pass.from, mono.data());
    }
    if (pass.rate == sampleRate)
        return mono;
    // Output frame first + j lies at (first + j) × step in the synthesiser's
    // frames, of which the list holds those from pass.from on.
    const double step = double(pass.rate) / sampleRate;
    QList<float> resampled(frames - first);
    SincResampler().resample(mono.constData(), size_t(mono.size()), resampled.data(),
                             size_t(resampled.size()), step, double(first) * step - double(pass.from));
    return resampled;
}

qint64 SF2Sampler::renderBytes(const TrackData& track, int sampleRate)
{
    const qint64 frames = OfflineRender::trackFrames(track, sampleRate);
    const qint64 first = OfflineRender::firstNoteFrame(track, sampleRate, frames);
    if (first >= frames)
        return 0;
    const SynthRender pass = synthRender(track, sampleRate, first);
    const qint64 passFrames = std::max<qint64>(pass.frames - pass.from, 0);
    if (pass.rate == sampleRate)
        return passFrames * qint64(sizeof(float));
    return (passFrames + frames - first) * qint64(sizeof(float));
}

void SF2Sampler::renderNotes(FluidSynthInstance& offline, const TrackData& track, int sampleRate,
                             qint64 frames, qint64 from, float* target) const
{
    std::vector<float> chunk(2 * size_t(kOfflineChunkFrames));
    for (const MidiClip& clip : track.midiClips) {
        for (const MidiNote& note : clip.notes) {
            const double start = OfflineRender::noteStartSeconds(clip.start, note);
            if (start < 0.0 || note.velocity <= 0)
                continue;
            const qint64 startFrame = OfflineRender::framesAt(start, sampleRate, frames);
            if (startFrame >= frames)
                continue;
            qint64 length = OfflineRender::framesAt(start + note.duration, sampleRate, frames) - startFrame;
            if (length < 1)
                length = qint64(0.5 * sampleRate);
            const qint64 count = std::min(frames - startFrame, length);

            // Every note starts on a block boundary of a silent synthesiser and is
            // rendered in whole blocks, so nothing of one note reaches the next.
            offline.silence();
            fluid_synth_noteon(offline.synth(), 0, note.pitch, std::min(note.velocity, 127));
            const qint64 toRender = roundUpToBlock(count);
            for (qint64 done = 0; done < toRender;) {
                const int n = int(std::min<qint64>(toRender - done, kOfflineChunkFrames));
                offline.render(chunk.data(), n);
                const qint64 used = std::min<qint64>(n, count - done);
                float* dst = target + (startFrame - from) + done;
                for (qint64 i = 0; i < used; ++i)
                    dst[i] += (chunk[size_t(2 * i)] + chunk[size_t(2 * i + 1)]) * 0.5f;
                done += n;
            }
        }
    }
}

QList<float> SF2Sampler::renderNotePreview(int note, int velocity, double seconds, int sampleRate) const
{
    if (!std::isfinite(seconds) || seconds <= 0.0 || seconds > OfflineRender::kMaxTrackSeconds
        || sampleRate < kMinSynthRate || sampleRate > kMaxSynthRate || note < 0 || note > 127)
        return {};
    const qint64 frames = qint64(seconds * sampleRate);
    if (frames < 1)
        return {};

    std::lock_guard<std::mutex> lock(mutex);
    if (!synth)
        return {};
    std::unique_ptr<FluidSynthInstance> offline = offlineSynth(sampleRate);
    if (!offline)
        return {};
    const size_t index = size_t(std::max(channelPresets[0], 0));
    if (index < presets.size())
        offline->selectProgram(0, presets[index].bank, presets[index].program);
    QList<float> stereo(2 * frames, 0.0f);
    if (velocity > 0)
        fluid_synth_noteon(offline->synth(), 0, note, std::min(velocity, 127));
    for (qint64 done = 0; done < frames;) {
        const int n = int(std::min<qint64>(frames - done, kOfflineChunkFrames));
        offline->render(stereo.data() + 2 * done, n);
        done += n;
    }
    return stereo;
}
