#include "engine/instruments/PianoSampler.h"

#include "engine/instruments/OfflineRenderLimits.h"
#include "audio/AudioProcessor.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr int kLiveBlockFrames = 1024;

// Semitone of each note letter A..G.
constexpr int kLetterSemitone[7] = {9, 11, 0, 2, 4, 5, 7};

// Saturates into [-1, 1]. Any curve that leaves [-1, 1] untouched and stays
// continuous at ±1 must hold beyond it at the limit, so this is the whole of
// the soft clip.
inline short toPcm16(float x)
{
    return short(std::clamp(x, -1.0f, 1.0f) * 32767.0f);
}

} // namespace

PianoSampler::PianoSampler()
{
    sustainedVoices.fill(-1);
}

PianoSampler::~PianoSampler() = default;

int PianoSampler::filenameToPitch(const QString& fileName) const
{
    QString name = fileName;
    if (name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
        name.chop(4);
    if (name.isEmpty())
        return -1;
    const QChar letter = name.at(0).toUpper();
    if (letter < QLatin1Char('A') || letter > QLatin1Char('G'))
        return -1;
    int semitone = kLetterSemitone[letter.unicode() - 'A'];
    QString rest = name.mid(1);
    if (rest.startsWith(QLatin1String("sharp"), Qt::CaseInsensitive)) {
        rest = rest.mid(5);
        ++semitone;
    }
    bool ok = false;
    const int octave = rest.toInt(&ok, 10);
    if (!ok || octave < -100 || octave > 100)
        return -1;
    return 12 + 12 * octave + semitone;
}

bool PianoSampler::loadSampleLibrary(const QString& dir)
{
    return loadFolder(dir, false);
}

bool PianoSampler::loadSampleLibraryFromResources(const QString& resourceDir)
{
    return loadFolder(resourceDir, true);
}

bool PianoSampler::loadFolder(const QString& dir, bool fromResources)
{
    {
        // Sounding voices point into the recordings about to be dropped.
        std::lock_guard<std::mutex> lock(mutex);
        for (PianoVoice& voice : voices) {
            voice.active = false;
            voice.sample = nullptr;
        }
        sustainedVoices.fill(-1);
    }
    samples.clear();
    const QDir folder(dir);
    if (!fromResources)
        qDebug() << "PianoSampler: checking dir:" << dir << "exists=" << (folder.exists() ? "true" : "false");
    if (!folder.exists()) {
        qWarning() << (fromResources ? "PianoSampler: resource dir not found:" : "PianoSampler: directory not found:")
                   << dir;
        return false;
    }
    const QStringList names = folder.entryList({QStringLiteral("*.mp3"), QStringLiteral("*.MP3")},
                                               QDir::Files, QDir::Unsorted);
    if (names.isEmpty()) {
        qWarning() << (fromResources ? "PianoSampler: no MP3 files in resources:" : "PianoSampler: no MP3 files found in:")
                   << dir;
        return false;
    }

    struct Job {
        int pitch;
        QString name;
        QString path;
        SampleBuffer decoded;
        bool ok = false;
    };
    std::vector<Job> jobs;
    for (const QString& name : names) {
        const int pitch = filenameToPitch(name);
        if (pitch < 0 || pitch > 127)
            continue;
        jobs.push_back({pitch, name, fromResources ? dir + QLatin1Char('/') + name : folder.absoluteFilePath(name), {}});
    }

    // The files decode independently: spread them over a few threads.
    std::atomic<size_t> next{0};
    auto work = [&jobs, &next] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            AudioProcessor processor;
            Job& job = jobs[i];
            job.ok = processor.loadAudioFile(job.path) && !processor.samples.isEmpty() && processor.sampleRate > 0;
            if (job.ok) {
                job.decoded.samples = std::move(processor.samples);
                job.decoded.sampleRate = processor.sampleRate;
            }
        }
    };
    const size_t threadCount = std::min<size_t>({std::max(std::thread::hardware_concurrency(), 1u), 8, jobs.size()});
    std::vector<std::thread> threads;
    for (size_t t = 1; t < threadCount; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();

    int loaded = 0;
    for (Job& job : jobs) { // in listing order: a later file of a pitch replaces an earlier one
        if (!job.ok) {
            if (fromResources)
                qWarning() << "PianoSampler: failed to load resource:" << job.path;
            else
                qWarning() << "PianoSampler: failed to load:" << job.name;
            continue;
        }
        samples[job.pitch] = std::move(job.decoded);
        ++loaded;
    }
    if (fromResources)
        qDebug() << "PianoSampler: loaded" << loaded << "samples from resources";
    else
        qDebug() << "PianoSampler: loaded" << loaded << "samples from" << dir;
    return loaded > 0;
}

int PianoSampler::sampleCount() const
{
    return int(samples.size());
}

int PianoSampler::findNearestPitch(int note) const
{
    int pitch = -1;
    nearestRecording(note, &pitch);
    return pitch;
}

const PianoSampler::SampleBuffer* PianoSampler::nearestRecording(int note, int* pitch) const
{
    *pitch = -1;
    if (samples.empty())
        return nullptr;
    auto above = samples.lower_bound(note);
    if (above == samples.end()) {
        --above;
    } else if (above != samples.begin()) {
        const auto below = std::prev(above);
        if (!(std::abs(above->first - note) < std::abs(below->first - note)))
            above = below; // a tie goes to the lower recording
    }
    *pitch = above->first;
    return &above->second;
}

void PianoSampler::setSampleRate(int newRate)
{
    std::lock_guard<std::mutex> lock(mutex);
    rate = newRate;
}

int PianoSampler::sampleRate() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return rate;
}

void PianoSampler::noteOn(int note, int velocity)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (note < 0 || note > 127)
        return;
    int pitch = -1;
    const SampleBuffer* recording = nearestRecording(note, &pitch);
    if (!recording || pitch < 0)
        return;

    size_t slot = 0; // all busy: slot 0 is taken over
    for (size_t i = 0; i < voices.size(); ++i) {
        if (!voices[i].active) {
            slot = i;
            break;
        }
    }
    PianoVoice& voice = voices[slot];
    voice.note = note;
    voice.sample = recording;
    voice.position = 0.0;
    voice.length = int(recording->samples.size());
    voice.gain = float(std::clamp(velocity, 0, 127) / 127.0);
    double ratio = std::pow(2.0, (note - pitch) / 12.0);
    if (rate > 0 && recording->sampleRate != rate)
        ratio = ratio * recording->sampleRate / rate;
    voice.ratio = float(ratio);
    voice.active = true;
}

void PianoSampler::noteOff(int note)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < voices.size(); ++i) {
        if (!voices[i].active || voices[i].note != note)
            continue;
        if (!sustainOn)
            voices[i].active = false;
        else if (note >= 0 && note <= 127)
            sustainedVoices[size_t(note)] = int(i);
        return;
    }
}

void PianoSampler::allNotesOff()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (PianoVoice& voice : voices)
        voice.active = false;
    sustainedVoices.fill(-1);
}

void PianoSampler::sustain(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    sustainOn = on;
    if (on)
        return;
    for (int note = 0; note < 128; ++note) {
        const int slot = sustainedVoices[size_t(note)];
        if (slot < 0)
            continue;
        // Only when the slot still plays that note: it may have ended and been reused.
        PianoVoice& voice = voices[size_t(slot)];
        if (voice.active && voice.note == note)
            voice.active = false;
        sustainedVoices[size_t(note)] = -1;
    }
}

void PianoSampler::renderLive(short* out, int frames)
{
    if (!out || frames < 1)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kLiveBlockFrames);
        std::fill(mixBuffer, mixBuffer + 2 * n, 0.0f);
        for (PianoVoice& voice : voices) {
            if (!voice.active || !voice.sample)
                continue;
            const float* s = voice.sample->samples.constData();
            for (int f = 0; f < n; ++f) {
                const int i = int(voice.position);
                if (i + 1 >= voice.length) {
                    voice.active = false;
                    break;
                }
                const float frac = float(voice.position - i);
                const float value = voice.gain * (s[i] * (1.0f - frac) + s[i + 1] * frac);
                mixBuffer[2 * f] += value;
                mixBuffer[2 * f + 1] += value;
                voice.position += voice.ratio;
            }
        }
        short* target = out + 2 * qsizetype(done);
        for (int i = 0; i < 2 * n; ++i)
            target[i] = toPcm16(mixBuffer[i]);
        done += n;
    }
}

qint64 PianoSampler::resampleLength(const SampleBuffer& recording, int recordedPitch, int note,
                                    int outputRate, double seconds, qint64 limit)
{
    const qint64 count = recording.samples.size();
    if (outputRate < 1 || recording.sampleRate < 1 || count < 1 || !std::isfinite(seconds))
        return 0;
    const double ratio = std::pow(2.0, (note - recordedPitch) / 12.0);
    return std::min(OfflineRender::framesAt(seconds, outputRate, limit),
                    OfflineRender::truncated(double(count) / ratio
                                                 * (double(outputRate) / recording.sampleRate),
                                             limit));
}

void PianoSampler::resampleInto(const SampleBuffer& recording, int recordedPitch, int note,
                                int outputRate, float gain, float* out, qint64 length)
{
    const qint64 count = recording.samples.size();
    const double ratio = std::pow(2.0, (note - recordedPitch) / 12.0);
    const double step = double(recording.sampleRate) / outputRate;
    const float* s = recording.samples.constData();
    for (qint64 i = 0; i < length; ++i) {
        const double x = step * (ratio * double(i));
        const qint64 j = qint64(x);
        if (j >= count)
            break;
        const float value = j + 1 < count ? float(s[j] * (1.0 - (x - j)) + s[j + 1] * (x - j)) : s[j];
        out[i] += gain * value;
    }
}

QList<float> PianoSampler::resample(const SampleBuffer& recording, int note, int outputRate, double seconds) const
{
    int recordedPitch = -1;
    for (const auto& entry : samples) {
        if (&entry.second == &recording) {
            recordedPitch = entry.first;
            break;
        }
    }
    const qint64 limit = qint64(OfflineRender::kMaxTrackSeconds * std::max(outputRate, 0));
    const qint64 length = resampleLength(recording, recordedPitch, note, outputRate, seconds, limit);
    if (length < 1)
        return {};
    QList<float> out(length, 0.0f);
    resampleInto(recording, recordedPitch, note, outputRate, 1.0f, out.data(), length);
    return out;
}

QList<float> PianoSampler::renderNotePreview(int note, int velocity, double seconds, int sampleRate) const
{
    int pitch = -1;
    const SampleBuffer* recording = nearestRecording(note, &pitch);
    if (!recording)
        return {};
    QList<float> out = resample(*recording, note, sampleRate, seconds);
    const float gain = float(velocity / 127.0);
    for (float& value : out)
        value *= gain;
    return out;
}

QList<float> PianoSampler::renderTrack(const TrackData& track, int sampleRate, qint64* firstFrame) const
{
    if (firstFrame)
        *firstFrame = 0;
    const qint64 frames = OfflineRender::trackFrames(track, sampleRate);
    if (frames < 1 || samples.empty())
        return {};
    qint64 from = 0;
    if (firstFrame) {
        from = OfflineRender::firstNoteFrame(track, sampleRate, frames);
        if (from >= frames)
            return {};
        *firstFrame = from;
    }
    QList<float> out(frames - from, 0.0f);
    float* data = out.data(); // element k is frame from + k
    for (const MidiClip& clip : track.midiClips) {
        for (const MidiNote& note : clip.notes) {
            const double start = OfflineRender::noteStartSeconds(clip.start, note);
            if (start < 0.0 || note.velocity <= 0)
                continue;
            const qint64 startFrame = OfflineRender::framesAt(start, sampleRate, frames);
            if (startFrame >= frames)
                continue;
            int pitch = -1;
            const SampleBuffer* recording = nearestRecording(note.pitch, &pitch);
            if (!recording)
                continue;
            const float gain = float(std::min(note.velocity, 127) / 127.0);
            const qint64 length = resampleLength(*recording, pitch, note.pitch, sampleRate,
                                                 note.duration, frames - startFrame);
            resampleInto(*recording, pitch, note.pitch, sampleRate, gain, data + (startFrame - from), length);
        }
    }
    return out;
}
