#pragma once
// Recording what the engines play: a capture buffer filled on an audio
// thread, an RtAudio stereo recorder on the default input (the loopback of
// the test servers' null sink), and measurements on what was recorded.

#include "engine/devices/RtAudioBackend.h"

#include <QElapsedTimer>
#include <QtTest/QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace LoopbackCapture {

// Seconds on the steady clock, the clock the arrival times are taken on.
inline double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Samples collected on the audio thread, read on the test thread, with the
// time each block arrived.
struct Capture {
    std::mutex mutex;
    std::vector<float> data;
    std::vector<std::pair<std::size_t, double>> arrivals; // values so far, steady seconds

    void append(const float* in, std::size_t count)
    {
        const double now = steadySeconds();
        std::lock_guard<std::mutex> lock(mutex);
        data.insert(data.end(), in, in + count);
        arrivals.emplace_back(data.size(), now);
    }
    // When the value at `index` was captured: its block's arrival, less the
    // time of the values after it in that block. -1 when not captured yet.
    double timeOf(std::size_t index, int valuesPerSecond)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [end, arrived] : arrivals)
            if (end > index)
                return arrived - double(end - 1 - index) / valuesPerSecond;
        return -1.0;
    }
    std::size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return data.size();
    }
    std::vector<float> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return data;
    }
};

// Streams start slowly: wait for data, not for a fixed time.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// Amplitude of one frequency in x[0], x[stride], ... (n values), by Goertzel.
inline double amplitudeAt(const float* x, int n, int stride, double frequency, int rate)
{
    const double w = 2.0 * M_PI * frequency / rate;
    double re = 0.0;
    double im = 0.0;
    for (int i = 0; i < n; ++i) {
        re += x[std::size_t(i) * stride] * std::cos(w * i);
        im -= x[std::size_t(i) * stride] * std::sin(w * i);
    }
    return 2.0 * std::hypot(re, im) / n;
}

// First frame at or after `from` at which |x| exceeds the threshold, or -1.
inline int onset(const std::vector<float>& x, float threshold, int stride = 1, int from = 0)
{
    for (std::size_t i = std::size_t(from) * stride; i < x.size(); i += stride)
        if (std::abs(x[i]) > threshold)
            return int(i / stride);
    return -1;
}

// Each of two tones' amplitude on each side of a stereo recording.
struct ToneLevels {
    double lowLeft = 0.0;
    double lowRight = 0.0;
    double highLeft = 0.0;
    double highRight = 0.0;

    QString text(double low, double high) const
    {
        return QStringLiteral("%1 Hz L %2 R %3, %4 Hz L %5 R %6")
            .arg(low).arg(lowLeft).arg(lowRight).arg(high).arg(highLeft).arg(highRight);
    }
};

// Measures two tones in interleaved stereo as medians over `windows` tenths
// of a second, from a tenth after sound first appears at or after frame
// `from`: a gap left by a machine too busy to feed the device spoils a few
// tenths, a wrong level spoils every one. False when nothing was recorded
// there or the recording is too short.
inline bool measureTones(const std::vector<float>& recorded, int from, int rate, double low,
                         double high, int windows, ToneLevels* levels)
{
    const int start = onset(recorded, 0.1f, 2, from);
    const int n = rate / 10;
    const int first = start + n;
    if (start < 0 || 2 * std::size_t(first + windows * n) > recorded.size())
        return false;
    const auto median = [&](int channel, double frequency) {
        std::vector<double> tenths;
        for (int w = 0; w < windows; ++w)
            tenths.push_back(amplitudeAt(&recorded[2 * std::size_t(first + w * n) + std::size_t(channel)], n, 2, frequency, rate));
        std::nth_element(tenths.begin(), tenths.begin() + windows / 2, tenths.end());
        return tenths[std::size_t(windows / 2)];
    };
    levels->lowLeft = median(0, low);
    levels->lowRight = median(1, low);
    levels->highLeft = median(0, high);
    levels->highRight = median(1, high);
    return true;
}

// Records the default input as interleaved stereo into `capture` until stopped.
class StereoRecorder {
public:
    bool start(int rate, Capture* target)
    {
        backend = RtAudioBackend::create();
        if (!backend)
            return false;
        AudioDeviceBackend::StreamParameters input;
        input.deviceId = backend->getDefaultInputDevice();
        input.nChannels = 2;
        unsigned int frames = 512;
        auto record = [](void*, void* in, unsigned int n, double, unsigned int, void* user) {
            static_cast<Capture*>(user)->append(static_cast<const float*>(in), 2 * std::size_t(n));
            return 0;
        };
        return backend->openStream(nullptr, &input, unsigned(rate), &frames, record, target)
                == AudioDeviceBackend::Result::NoError
            && backend->startStream() == AudioDeviceBackend::Result::NoError;
    }
    void stop()
    {
        if (!backend)
            return;
        if (backend->isStreamRunning())
            backend->stopStream();
        if (backend->isStreamOpen())
            backend->closeStream();
    }
    ~StereoRecorder() { stop(); }

private:
    std::unique_ptr<AudioDeviceBackend> backend;
};

} // namespace LoopbackCapture
