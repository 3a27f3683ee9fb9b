#include "multitrack/TrackFlattening.h"

#include "audio/dsp/SincResampler.h"
#include "common/SampleMemory.h"
#include "engine/instruments/OfflineRenderLimits.h"
#include "multitrack/ClipRateConversion.h"

#include <QDebug>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

struct Crossfade {
    size_t earlier = 0;
    size_t later = 0;
    qint64 from = 0;
    qint64 to = 0;
};

bool finite(double value)
{
    return std::isfinite(value);
}

// Seconds the clip occupies; 0 without material, with a rate below 1 or with
// trims that are not numbers.
double visibleLength(const AudioClip& clip)
{
    if (!finite(clip.audioStart) || !finite(clip.audioEnd))
        return 0.0;
    return clip.playableLength();
}

// Whether the clip may take part: material at a rate of at least 1 Hz, a
// finite start before the longest render and finite trims. Any rate above
// that is resampled to the output's.
bool placeable(const AudioClip& clip)
{
    if (clip.samples.isEmpty() || clip.sampleRate < OfflineRender::kMinSampleRate
        || !finite(clip.start) || clip.start >= OfflineRender::kMaxTrackSeconds
        || !finite(clip.audioStart) || !finite(clip.audioEnd))
        return false;
    return finite(clip.start + visibleLength(clip));
}

// Where a clip is placed, as a frame index, is limited to this: far beyond
// any buffer, so a clip is never moved, yet sums of frame indices stay exact.
constexpr qint64 kFarFrames = qint64(1) << 52;

// trunc(seconds x rate) as a frame index, limited to +-limit (NaN gives 0).
qint64 frameAt(double seconds, int rate, qint64 limit)
{
    const double frame = seconds * rate;
    if (std::isnan(frame))
        return 0;
    return qint64(std::clamp(frame, -double(limit), double(limit)));
}

// A fade's frames; one longer than its clip never completes (a file may
// hold any length), and absurd lengths stay within the longest render.
qint64 fadeFrames(double seconds, int rate)
{
    const qint64 longest = qint64(OfflineRender::kMaxTrackSeconds * rate);
    return seconds > 0.0 ? OfflineRender::truncated(seconds * rate, longest) : 0;
}

} // namespace

// One clip placed on the output: its material at the output rate and where
// it goes.
struct TrackFlattener::Placed {
    const AudioClip* clip = nullptr;
    const float* source = nullptr; // c values at the clip's rate
    qint64 sourceCount = 0;        // c
    const float* samples = nullptr; // count values at the output rate, once prepared
    qint64 count = 0;
    qint64 outStart = 0;            // o0
    qint64 outEnd = 0;              // o1
    qint64 fadeIn = 0;              // fi
    qint64 fadeOut = 0;             // fo
    std::vector<Crossfade> crossfades; // those naming this clip, at least a frame long
    std::vector<float> resampled;   // owns samples when the clip is resampled
};

TrackFlattener::TrackFlattener(const TrackData& track, int sampleRate)
    : rate(sampleRate)
{
    if (!OfflineRender::acceptsRate(sampleRate) || track.isMidi())
        return;
    std::vector<const AudioClip*> order;
    double length = 0.0;
    for (const AudioClip& clip : track.audioClips) {
        // Material absurdly far above the output's rate would take gigabytes to resample.
        if (!placeable(clip) || !ClipRateConversion::convertible(clip.sampleRate, sampleRate))
            continue;
        order.push_back(&clip);
        length = std::max(length, clip.start + visibleLength(clip));
    }
    if (!(length > 0.0))
        return;
    if (length > OfflineRender::kMaxTrackSeconds) {
        // Cut at the limit: what comes before it is kept.
        cutAtLimit = true;
        total = qint64(OfflineRender::kMaxTrackSeconds * sampleRate);
    } else {
        total = sampleRate + qint64(length * sampleRate);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const AudioClip* a, const AudioClip* b) { return a->start < b->start; });

    placed.resize(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const AudioClip& clip = *order[k];
        Placed& p = placed[k];
        p.clip = &clip;
        const int r = clip.sampleRate;
        const qint64 n = clip.samples.size();
        const qint64 s0 = std::max<qint64>(OfflineRender::truncated(clip.audioStart * r, n), 0);
        const qint64 e = std::min(n - OfflineRender::truncated(clip.audioEnd * r, n), n);
        const double visible = visibleLength(clip);
        p.outStart = frameAt(clip.start, rate, kFarFrames);
        p.outEnd = frameAt(clip.start + visible, rate, kFarFrames);
        p.fadeIn = fadeFrames(clip.fadeIn, rate);
        p.fadeOut = fadeFrames(clip.fadeOut, rate);
        if (e - s0 < 1)
            continue;
        p.source = clip.samples.constData() + s0;
        p.sourceCount = e - s0;
        if (r == rate) {
            p.samples = p.source;
            p.count = p.sourceCount;
        } else {
            // Another rate: the same seconds of material at the output rate,
            // so the clip keeps its pitch and length; what would land past
            // the buffer is not made.
            const qint64 room = total - std::max<qint64>(p.outStart, 0);
            p.count = std::max<qint64>(
                std::min<qint64>(std::llround(double(p.sourceCount) * rate / r), room), 0);
        }
    }
    for (size_t k = 0; k + 1 < placed.size(); ++k) {
        if (placed[k].outEnd > placed[k + 1].outStart) {
            const Crossfade fade{k, k + 1, placed[k + 1].outStart, placed[k].outEnd};
            if (fade.to - fade.from >= 1) {
                placed[k].crossfades.push_back(fade);
                placed[k + 1].crossfades.push_back(fade);
            }
        }
    }
    envelope = track.envelopeEnabled && !track.volumeEnvelope.empty();
    if (envelope) {
        for (const EnvelopePoint& point : track.volumeEnvelope) {
            if (!std::isnan(point.time))
                points.push_back(point);
        }
        std::stable_sort(points.begin(), points.end(),
                         [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.time < b.time; });
    }
}

TrackFlattener::~TrackFlattener() = default;

qint64 TrackFlattener::firstSoundingFrame() const
{
    qint64 first = total;
    for (const Placed& p : placed) {
        if (p.count >= 1 && p.outStart + p.count > 0)
            first = std::min(first, std::max<qint64>(p.outStart, 0));
    }
    return first;
}

qint64 TrackFlattener::preparedBytes() const
{
    qint64 bytes = 0;
    for (const Placed& p : placed) {
        if (p.source && p.clip->sampleRate != rate)
            bytes += p.count * qint64(sizeof(float));
    }
    return bytes;
}

void TrackFlattener::prepare()
{
    SincResampler resampler;
    for (Placed& p : placed) {
        if (p.samples || p.count < 1)
            continue;
        p.resampled.resize(size_t(p.count));
        resampler.resample(p.source, size_t(p.sourceCount), p.resampled.data(), size_t(p.count),
                           double(p.clip->sampleRate) / rate);
        p.samples = p.resampled.data();
    }
}

namespace {

// out[x - w0] += the clip's sample j (x = o0 + j) with its fades and
// crossfades, for the frames x in the window [w0, w1). `written` is how far
// the window holds values: clips come in start order, so the window is
// zeroed up to the clip and frames past `written` are stored rather than
// added, which writes each fresh frame once. Stretches without a fade or
// crossfade take no gain.
template <typename PlacedClip>
void addClip(const PlacedClip& placed, size_t index, float* out, qint64 w0, qint64 w1,
             qint64& written)
{
    const AudioClip& clip = *placed.clip;
    const qint64 c = placed.count;
    const qint64 o0 = placed.outStart;
    const qint64 fi = placed.fadeIn;
    const qint64 fo = placed.fadeOut;
    const std::vector<Crossfade>& mine = placed.crossfades;
    // Frames before time 0 (a negative start) and outside the window are left out.
    const qint64 first = std::max({qint64(0), -o0, w0 - o0});
    const qint64 end = std::min(c, w1 - o0);
    if (first >= end)
        return;
    if (written < o0 + first) {
        std::fill(out + (written - w0), out + (o0 + first - w0), 0.0f);
        written = o0 + first;
    }

    auto gainAt = [&](qint64 j) {
        double gain = 1.0;
        if (j < fi)
            gain = fadeCurveGain(clip.fadeInCurve, double(j) / double(fi));
        if (fo >= 1 && j >= c - fo)
            gain *= 1.0 - fadeCurveGain(clip.fadeOutCurve, double(j - (c - fo)) / double(fo));
        const qint64 x = o0 + j;
        for (const Crossfade& fade : mine) {
            if (x >= fade.from && x < fade.to) {
                const double q = double(x - fade.from) / double(fade.to - fade.from);
                gain *= fade.earlier == index ? 1.0 - q : q;
                break;
            }
        }
        return gain;
    };

    // Pieces between the fades' and crossfades' edges are each plain or not throughout.
    std::vector<qint64> cuts{first, end};
    auto cut = [&](qint64 j) {
        if (j > first && j < end)
            cuts.push_back(j);
    };
    cut(fi);
    cut(written - o0); // where adding turns into storing
    if (fo >= 1)
        cut(c - fo);
    for (const Crossfade& fade : mine) {
        cut(fade.from - o0);
        cut(fade.to - o0);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    const float* __restrict source = placed.samples;
    float* __restrict target = out + (o0 - w0);
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        const qint64 from = cuts[k];
        const qint64 to = cuts[k + 1];
        const qint64 x = o0 + from;
        const bool faded = from < fi || (fo >= 1 && from >= c - fo)
            || std::any_of(mine.begin(), mine.end(),
                           [x](const Crossfade& f) { return x >= f.from && x < f.to; });
        const bool fresh = x >= written;
        if (!faded && fresh)
            std::copy(source + from, source + to, target + from);
        else if (!faded)
            for (qint64 j = from; j < to; ++j)
                target[j] += source[j];
        else if (fresh)
            for (qint64 j = from; j < to; ++j)
                target[j] = source[j] * float(gainAt(j));
        else
            for (qint64 j = from; j < to; ++j)
                target[j] += source[j] * float(gainAt(j));
    }
    written = std::max(written, o0 + end);
}

// The envelope's gain walked alongside the frames of [first, first + count);
// `sorted` holds points in time order, none with a time that is not a number.
void applySortedEnvelope(float* out, qint64 first, qsizetype count, int sampleRate,
                         const std::vector<EnvelopePoint>& sorted)
{
    if (!out || count <= 0 || sampleRate < 1 || sorted.empty())
        return;
    // Walk the segments alongside the samples instead of searching per sample.
    size_t segment = 0;
    const double secondsPerFrame = 1.0 / sampleRate;
    for (qsizetype k = 0; k < count; ++k) {
        const double t = double(first + k) * secondsPerFrame;
        while (segment < sorted.size() && sorted[segment].time < t)
            ++segment;
        float gain;
        if (segment == 0)
            gain = sorted.front().value;
        else if (segment == sorted.size())
            gain = sorted.back().value;
        else {
            const EnvelopePoint& before = sorted[segment - 1];
            const EnvelopePoint& next = sorted[segment];
            const double span = next.time - before.time;
            gain = span > 0.0 ? float(before.value + (next.value - before.value) * ((t - before.time) / span))
                              : next.value;
        }
        out[k] *= gain;
    }
}

} // namespace

void TrackFlattener::render(qint64 first, qint64 count, float* out) const
{
    const qint64 w0 = std::max<qint64>(first, 0);
    const qint64 w1 = std::min(first + count, total);
    if (!out || w1 <= w0)
        return;
    float* window = out + (w0 - first);
    qint64 written = w0;
    for (size_t k = 0; k < placed.size(); ++k) {
        const Placed& p = placed[k];
        if (p.samples && p.count >= 1 && p.outStart < w1 && p.outStart + p.count > w0)
            addClip(p, k, window, w0, w1, written);
    }
    std::fill(window + (written - w0), window + (w1 - w0), 0.0f);
    if (envelope)
        applySortedEnvelope(window, w0, w1 - w0, rate, points);
}

QList<float> flattenAudioTrack(const TrackData& track, int sampleRate)
{
    TrackFlattener flattener(track, sampleRate);
    if (flattener.frameCount() < 1)
        return {};
    flattener.prepare();
    // Every value is written by render: zeros where no clip plays.
    QList<float> out = SampleMemory::uninitialized(flattener.frameCount());
    flattener.render(0, out.size(), out.data());
    return out;
}

QList<float> flattenAudioTrackFrom(const TrackData& track, int sampleRate, qint64& firstFrame)
{
    TrackFlattener flattener(track, sampleRate);
    firstFrame = flattener.firstSoundingFrame();
    const qint64 frames = flattener.frameCount() - firstFrame;
    if (frames < 1)
        return {};
    if (flattener.cut())
        qWarning() << "TrackFlattener: material past" << OfflineRender::kMaxTrackSeconds
                   << "s left out";
    const qint64 bytes = frames * qint64(sizeof(float)) + flattener.preparedBytes();
    if (!OfflineRender::fitsInMemory(bytes)) {
        qWarning() << "TrackFlattener: a track of" << frames << "frames needs" << bytes
                   << "bytes, more than the machine has available";
        return {};
    }
    flattener.prepare();
    QList<float> out = SampleMemory::uninitialized(frames);
    flattener.render(firstFrame, frames, out.data());
    return out;
}

float envelopeValueAt(const std::vector<EnvelopePoint>& points, double t)
{
    if (points.empty())
        return 1.0f;
    if (t <= points.front().time)
        return points.front().value;
    if (t >= points.back().time)
        return points.back().value;
    const auto next = std::find_if(points.begin(), points.end(),
                                   [t](const EnvelopePoint& p) { return p.time >= t; });
    if (next == points.begin() || next == points.end())
        return next == points.end() ? points.back().value : next->value;
    const EnvelopePoint& before = *(next - 1);
    const double span = next->time - before.time;
    if (!(span > 0.0))
        return next->value;
    const double share = (t - before.time) / span;
    return float(before.value + (next->value - before.value) * share);
}

void applyEnvelope(float* out, qsizetype count, int sampleRate,
                   const std::vector<EnvelopePoint>& points)
{
    applyEnvelopeFrom(out, 0, count, sampleRate, points);
}

void applyEnvelopeFrom(float* out, qint64 first, qsizetype count, int sampleRate,
                       const std::vector<EnvelopePoint>& points)
{
    if (!out || count <= 0 || sampleRate < 1)
        return;
    std::vector<EnvelopePoint> sorted;
    sorted.reserve(points.size());
    for (const EnvelopePoint& point : points) {
        if (!std::isnan(point.time))
            sorted.push_back(point);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.time < b.time; });
    applySortedEnvelope(out, first, count, sampleRate, sorted);
}

double midiTempoFactor(double sourceBpm, double bpm)
{
    if (!(sourceBpm > 0.0) || !(bpm > 0.0) || !std::isfinite(sourceBpm) || !std::isfinite(bpm)
        || qFuzzyCompare(sourceBpm, bpm))
        return 1.0;
    const double factor = sourceBpm / bpm;
    return std::isfinite(factor) && factor > 0.0 ? factor : 1.0;
}

TrackData tempoScaledTrack(const TrackData& track, double sourceBpm, double bpm)
{
    TrackData copy = track;
    const double factor = midiTempoFactor(sourceBpm, bpm);
    if (!track.isMidi() || factor == 1.0)
        return copy;
    for (MidiClip& clip : copy.midiClips) {
        clip.start *= factor;
        // The clip keeps its notes: a slower tempo lengthens it with them.
        clip.duration *= factor;
        for (MidiNote& note : clip.notes) {
            note.start *= factor;
            note.duration *= factor;
        }
    }
    return copy;
}
