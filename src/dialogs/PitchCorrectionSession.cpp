#include "dialogs/PitchCorrectionSession.h"

#include "audio/dsp/PitchShiftProcessor.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float WindowMs = 40.0f;
constexpr float HopMs = 10.0f;
constexpr float YinThreshold = 0.15f;
double median(std::vector<double> values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

PitchCorrectionSession::PitchCorrectionSession(const QList<float>& input, int sampleRate)
    : samples(input)
    , rate(sampleRate)
{
    detector.configure(float(sampleRate), WindowMs, HopMs, YinThreshold);
    if (sampleRate > 0)
        frames = detector.detect(samples.constData(), size_t(samples.size()));
    segments = detector.buildSegments(frames, MinSegmentFrames, MaxGapFrames);
    splitAtNoteChanges();
    detector.computeTargets(segments, currentStrength);
}

bool PitchCorrectionSession::settlesAway(int from, int end, double pitch) const
{
    // The next SettleFrames voiced frames all lie more than the change
    // threshold from `pitch` and within it of one another.
    double low = 1e9, high = -1e9;
    int counted = 0;
    for (int f = from; f < end && counted < SettleFrames; ++f) {
        if (!YinPitchDetector::isVoiced(frames[size_t(f)]))
            continue;
        const double p = frequencyToPitch(frames[size_t(f)].frequency);
        if (std::fabs(p - pitch) <= NoteChangeSemitones)
            return false;
        low = std::min(low, p);
        high = std::max(high, p);
        ++counted;
    }
    return counted == SettleFrames && high - low <= SettleSpreadSemitones;
}

bool PitchCorrectionSession::makeSegment(int start, int end, PitchCorrectionSegment& segment) const
{
    // The frames near the note's own pitch only: the glide into the next
    // note does not pull the average.
    std::vector<double> pitches;
    for (int f = start; f < end; ++f)
        if (YinPitchDetector::isVoiced(frames[size_t(f)]))
            pitches.push_back(frequencyToPitch(frames[size_t(f)].frequency));
    if (pitches.empty())
        return false;
    const double centre = median(pitches);
    double sum = 0.0;
    int counted = 0;
    for (int f = start; f < end; ++f) {
        const PitchFrame& frame = frames[size_t(f)];
        if (YinPitchDetector::isVoiced(frame)
            && std::fabs(frequencyToPitch(frame.frequency) - centre) <= NoteChangeSemitones) {
            sum += frame.frequency;
            ++counted;
        }
    }
    const auto average = float(sum / counted);
    const int note = YinPitchDetector::frequencyToMidi(average);
    if (note < 1)
        return false;
    segment = PitchCorrectionSegment{};
    segment.startFrame = start;
    segment.endFrame = end;
    segment.avgFreq = average;
    segment.targetFreq = average;
    segment.targetMidi = note;
    return true;
}

void PitchCorrectionSession::splitAtNoteChanges()
{
    // Joined notes (legato) come as one run of voiced frames; each is cut
    // where the pitch leaves the current note and holds another.
    std::vector<PitchCorrectionSegment> split;
    for (const PitchCorrectionSegment& whole : segments) {
        std::vector<int> cuts;
        int start = whole.startFrame;
        double sum = 0.0;
        int counted = 0;
        for (int f = whole.startFrame; f < whole.endFrame; ++f) {
            if (!YinPitchDetector::isVoiced(frames[size_t(f)]))
                continue;
            const double pitch = frequencyToPitch(frames[size_t(f)].frequency);
            if (counted >= MinSegmentFrames && std::fabs(pitch - sum / counted) > NoteChangeSemitones
                && f - start >= MinSegmentFrames && whole.endFrame - f >= MinSegmentFrames
                && settlesAway(f, whole.endFrame, sum / counted)) {
                cuts.push_back(f);
                start = f;
                sum = 0.0;
                counted = 0;
            }
            sum += pitch;
            ++counted;
        }
        if (cuts.empty()) {
            split.push_back(whole);
            continue;
        }
        cuts.push_back(whole.endFrame);
        int from = whole.startFrame;
        for (int to : cuts) {
            PitchCorrectionSegment piece;
            if (makeSegment(from, to, piece))
                split.push_back(piece);
            from = to;
        }
    }
    segments = std::move(split);
}

double PitchCorrectionSession::duration() const
{
    return rate > 0 ? double(samples.size()) / rate : 0.0;
}

double PitchCorrectionSession::frequencyToPitch(double frequency)
{
    return 12.0 * std::log2(frequency / 440.0) + 69.0;
}

double PitchCorrectionSession::frameTime(int frame) const
{
    return frame >= 0 && frame < int(frames.size()) ? frames[size_t(frame)].time : 0.0;
}

void PitchCorrectionSession::setStrength(float strength)
{
    currentStrength = std::clamp(strength, 0.0f, 1.0f);
    detector.computeTargets(segments, currentStrength);
}

void PitchCorrectionSession::updateShift(PitchCorrectionSegment& segment) const
{
    segment.shiftSemitones =
        segment.targetFreq > 0.0f && segment.avgFreq > 0.0f
            ? float(12.0 * std::log2(double(segment.targetFreq) / segment.avgFreq))
            : 0.0f;
}

bool PitchCorrectionSession::setSegmentTarget(int index, int midi)
{
    if (index < 0 || index >= int(segments.size()))
        return false;
    PitchCorrectionSegment& segment = segments[size_t(index)];
    segment.targetMidi = std::clamp(midi, 0, 127);
    segment.targetFreq = float(YinPitchDetector::midiToFrequency(segment.targetMidi));
    segment.manual = true;
    updateShift(segment);
    return true;
}

int PitchCorrectionSession::draggedNote(float startTargetFreq, int startY, int y, double zoomY)
{
    const double rows = (startY - y) / (PitchRollGeometry::RowHeight * zoomY);
    const double note = frequencyToPitch(startTargetFreq) + rows;
    return int(std::clamp<long>(std::lround(note), 0, 127));
}

float PitchCorrectionSession::crossfadeGain(int i, int n, int fade)
{
    if (fade < 1)
        return 1.0f;
    const float in = float(i) / float(fade);
    const float out = float(n - 1 - i) / float(fade);
    return std::min({1.0f, in, out});
}

QList<float> PitchCorrectionSession::corrected() const
{
    return corrected(samples);
}

QList<float> PitchCorrectionSession::corrected(const QList<float>& source) const
{
    QList<float> result = source;
    const int fade = int(rate * FadeSeconds);
    const qsizetype count = source.size();
    const qsizetype hop = detector.hopSize;
    std::vector<float> shifted;
    for (const PitchCorrectionSegment& segment : segments) {
        if (!(std::fabs(segment.shiftSemitones) >= MinShiftSemitones))
            continue;
        const qsizetype s0 = std::max<qsizetype>(0, segment.startFrame * hop);
        const qsizetype s1 = std::min<qsizetype>(segment.endFrame * hop, count);
        const int n = int(s1 - s0);
        if (n < MinShiftedSamples)
            continue;
        // A fresh shifter per segment: no state carries from one note to the next.
        PitchShiftProcessor shifter;
        shifter.setSampleRate(float(rate));
        shifter.setPitch(segment.shiftSemitones);
        shifted.assign(size_t(n), 0.0f);
        shifter.processOffline(source.constData() + s0, shifted.data(), size_t(n));
        // Crossfaded against the untouched input, never another segment's result.
        float* out = result.data() + s0;
        const float* original = source.constData() + s0;
        for (int i = 0; i < n; ++i) {
            const float g = crossfadeGain(i, n, fade);
            out[i] = g * shifted[size_t(i)] + (1.0f - g) * original[i];
        }
    }
    return result;
}

// ---- geometry ----

int PitchRollGeometry::secToX(double seconds) const
{
    return int(zoomX * (seconds - scrollSeconds) * PixelsPerSecond) + KeyWidth;
}

double PitchRollGeometry::xToSec(int x) const
{
    return scrollSeconds + (x - KeyWidth) / (PixelsPerSecond * zoomX);
}

int PitchRollGeometry::pitchToY(double pitch) const
{
    return int(zoomY * (TopPitch - pitch) * RowHeight) - scrollY + RulerHeight;
}

double PitchRollGeometry::yToPitch(int y) const
{
    return TopPitch - (y + scrollY - RulerHeight) / (RowHeight * zoomY);
}

double PitchRollGeometry::rowCentre(double pitch) const
{
    return pitchToY(pitch) + RowHeight / 2.0 * zoomY;
}

bool PitchRollGeometry::inGrid(const QPoint& p) const
{
    return p.x() >= KeyWidth && p.x() <= size.width() - 1 && p.y() >= RulerHeight
           && p.y() <= gridBottom();
}

double PitchRollGeometry::visibleSeconds() const
{
    return (size.width() - KeyWidth) / (PixelsPerSecond * zoomX);
}

double PitchRollGeometry::maxScrollSeconds(double duration) const
{
    return std::max(0.0, duration - visibleSeconds());
}

int PitchRollGeometry::maxScrollY() const
{
    const int gridHeight = size.height() - BarHeight - RulerHeight;
    return std::max(0, int(RowCount * RowHeight * zoomY) - gridHeight);
}

int PitchRollGeometry::hitTestSegment(const QPoint& p, const PitchCorrectionSession& session) const
{
    if (!inGrid(p))
        return -1;
    const auto& segments = session.noteSegments();
    const int frameCount = int(session.pitchFrames().size());
    for (size_t i = 0; i < segments.size(); ++i) {
        const PitchCorrectionSegment& s = segments[i];
        if (s.startFrame < 0 || s.startFrame >= frameCount)
            continue;
        const int left = secToX(session.frameTime(s.startFrame)) - 4;
        const int right = secToX(session.frameTime(s.endFrame - 1)) + 4;
        const int centre = int(rowCentre(PitchCorrectionSession::frequencyToPitch(s.targetFreq)));
        if (p.x() >= left && p.x() <= right && std::abs(p.y() - centre) <= int(36 * zoomY))
            return int(i);
    }
    return -1;
}
