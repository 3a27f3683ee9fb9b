#include "multitrack/TrackFlattening.h"

#include "audio/dsp/SincResampler.h"
#include "common/SampleMemory.h"
#include "engine/instruments/OfflineRenderLimits.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

// One clip placed on the output: its material at the output rate and where
// it goes.
struct PlacedClip {
    const AudioClip* clip = nullptr;
    const float* samples = nullptr; // c values at the output rate
    qint64 count = 0;
    qint64 outStart = 0;            // o0
    qint64 outEnd = 0;              // o1
    std::vector<float> resampled;   // owns samples when the clip was resampled
};

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

// Whether the clip may take part: a finite start and an end within the
// longest render.
bool placeable(const AudioClip& clip)
{
    if (clip.samples.isEmpty() || clip.sampleRate < OfflineRender::kMinSampleRate
        || clip.sampleRate > OfflineRender::kMaxSampleRate || !finite(clip.start)
        || !finite(clip.audioStart) || !finite(clip.audioEnd))
        return false;
    const double end = clip.start + visibleLength(clip);
    return finite(end) && end <= OfflineRender::kMaxTrackSeconds;
}

double materialEnd(const TrackData& track)
{
    double end = 0.0;
    if (track.isMidi()) {
        for (const MidiClip& clip : track.midiClips) {
            const double clipEnd = clip.start + clip.duration;
            if (finite(clipEnd) && clipEnd <= OfflineRender::kMaxTrackSeconds)
                end = std::max(end, clipEnd);
        }
        return end;
    }
    for (const AudioClip& clip : track.audioClips) {
        if (placeable(clip))
            end = std::max(end, clip.start + visibleLength(clip));
    }
    return end;
}

// trunc(seconds x rate) as a frame index, limited to +-limit (NaN gives 0).
qint64 frameAt(double seconds, int rate, qint64 limit)
{
    const double frame = seconds * rate;
    if (std::isnan(frame))
        return 0;
    return qint64(std::clamp(frame, -double(limit), double(limit)));
}

PlacedClip place(const AudioClip& clip, int rate, qint64 limit, SincResampler& resampler)
{
    PlacedClip placed;
    placed.clip = &clip;
    const int r = clip.sampleRate;
    const qint64 n = clip.samples.size();
    const qint64 s0 = std::max<qint64>(OfflineRender::truncated(clip.audioStart * r, n), 0);
    const qint64 e = std::min(n - OfflineRender::truncated(clip.audioEnd * r, n), n);
    const qint64 c = e - s0;
    const double visible = visibleLength(clip);
    placed.outStart = frameAt(clip.start, rate, limit);
    placed.outEnd = frameAt(clip.start + visible, rate, limit);
    if (c < 1)
        return placed;
    const float* source = clip.samples.constData() + s0;
    if (r == rate) {
        placed.samples = source;
        placed.count = c;
        return placed;
    }
    // Another rate: the same seconds of material at the output rate, so the
    // clip keeps its pitch and length.
    const qint64 count = std::min<qint64>(std::llround(double(c) * rate / r), limit);
    placed.resampled.resize(size_t(count));
    resampler.resample(source, size_t(c), placed.resampled.data(), size_t(count), double(r) / rate);
    placed.samples = placed.resampled.data();
    placed.count = count;
    return placed;
}

// A fade's frames; one longer than its clip never completes (a file may
// hold any length), and absurd lengths stay within the longest render.
qint64 fadeFrames(double seconds, int rate)
{
    const qint64 longest = qint64(OfflineRender::kMaxTrackSeconds * rate);
    return seconds > 0.0 ? OfflineRender::truncated(seconds * rate, longest) : 0;
}

// out[o0 + j] += the clip's sample j with its fades and crossfades, for the
// frames that fall inside the buffer. `written` is how far the buffer holds
// values: clips come in start order, so the buffer is zeroed up to the clip
// and frames past `written` are stored rather than added, which writes each
// fresh frame once. Stretches without a fade or crossfade take no gain.
void addClip(const PlacedClip& placed, size_t index, const std::vector<Crossfade>& crossfades,
             int rate, float* out, qint64 total, qint64& written)
{
    const AudioClip& clip = *placed.clip;
    const qint64 c = placed.count;
    const qint64 o0 = placed.outStart;
    const qint64 fi = fadeFrames(clip.fadeIn, rate);
    const qint64 fo = fadeFrames(clip.fadeOut, rate);
    std::vector<const Crossfade*> mine;
    for (const Crossfade& fade : crossfades) {
        if ((fade.earlier == index || fade.later == index) && fade.to - fade.from >= 1)
            mine.push_back(&fade);
    }
    // Frames before time 0 (a negative start) and past the buffer are left out.
    const qint64 first = std::max<qint64>(0, -o0);
    const qint64 end = std::min(c, total - o0);
    if (first >= end)
        return;
    if (written < o0 + first) {
        std::fill(out + written, out + o0 + first, 0.0f);
        written = o0 + first;
    }

    auto gainAt = [&](qint64 j) {
        double gain = 1.0;
        if (j < fi)
            gain = fadeCurveGain(clip.fadeInCurve, double(j) / double(fi));
        if (fo >= 1 && j >= c - fo)
            gain *= 1.0 - fadeCurveGain(clip.fadeOutCurve, double(j - (c - fo)) / double(fo));
        const qint64 x = o0 + j;
        for (const Crossfade* fade : mine) {
            if (x >= fade->from && x < fade->to) {
                const double q = double(x - fade->from) / double(fade->to - fade->from);
                gain *= fade->earlier == index ? 1.0 - q : q;
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
    for (const Crossfade* fade : mine) {
        cut(fade->from - o0);
        cut(fade->to - o0);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    const float* __restrict source = placed.samples;
    float* __restrict target = out + o0;
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        const qint64 from = cuts[k];
        const qint64 to = cuts[k + 1];
        const qint64 x = o0 + from;
        const bool faded = from < fi || (fo >= 1 && from >= c - fo)
            || std::any_of(mine.begin(), mine.end(),
                           [x](const Crossfade* f) { return x >= f->from && x < f->to; });
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

} // namespace

QList<float> flattenAudioTrack(const TrackData& track, int sampleRate)
{
    if (sampleRate < OfflineRender::kMinSampleRate || sampleRate > OfflineRender::kMaxSampleRate)
        return {};
    const double length = materialEnd(track);
    if (!(length > 0.0))
        return {};
    const qint64 total = sampleRate + qint64(length * sampleRate);
    // Every value is written below: zeros where no clip plays.
    QList<float> out = SampleMemory::uninitialized(total);

    std::vector<const AudioClip*> order;
    for (const AudioClip& clip : track.audioClips) {
        if (placeable(clip))
            order.push_back(&clip);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const AudioClip* a, const AudioClip* b) { return a->start < b->start; });

    SincResampler resampler;
    std::vector<PlacedClip> placed;
    placed.reserve(order.size());
    for (const AudioClip* clip : order)
        placed.push_back(place(*clip, sampleRate, total, resampler));

    std::vector<Crossfade> crossfades;
    for (size_t k = 0; k + 1 < placed.size(); ++k) {
        if (placed[k].outEnd > placed[k + 1].outStart)
            crossfades.push_back({k, k + 1, placed[k + 1].outStart, placed[k].outEnd});
    }
    qint64 written = 0;
    for (size_t k = 0; k < placed.size(); ++k) {
        if (placed[k].count >= 1)
            addClip(placed[k], k, crossfades, sampleRate, out.data(), total, written);
    }
    std::fill(out.begin() + written, out.end(), 0.0f);

    if (track.envelopeEnabled && !track.volumeEnvelope.empty())
        applyEnvelope(out.data(), out.size(), sampleRate, track.volumeEnvelope);
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
    if (!out || count <= 0 || sampleRate < 1)
        return;
    std::vector<EnvelopePoint> sorted;
    sorted.reserve(points.size());
    for (const EnvelopePoint& point : points) {
        if (!std::isnan(point.time))
            sorted.push_back(point);
    }
    if (sorted.empty())
        return;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.time < b.time; });
    // Walk the segments alongside the samples instead of searching per sample.
    size_t segment = 0;
    const double secondsPerFrame = 1.0 / sampleRate;
    for (qsizetype i = 0; i < count; ++i) {
        const double t = double(i) * secondsPerFrame;
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
        out[i] *= gain;
    }
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
