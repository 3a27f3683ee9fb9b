#include "engine/devices/ClickGenerator.h"

#include <algorithm>
#include <cmath>

void ClickGenerator::prepare(int sampleRate, double bpm, int beatsPerBar)
{
    sampleRate_ = sampleRate;
    bpm_ = bpm;
    beatsPerBar_ = beatsPerBar;
    phase_ = 0.0;
    beat_ = 0;
    clickRemaining_ = 0;
    clicking_ = false;

    clickLength_ = std::max(int(sampleRate * 0.05), 4); // 50 ms
    accentClick_.resize(clickLength_);
    normalClick_.resize(clickLength_);
    for (int i = 0; i < clickLength_; ++i) {
        const float t = float(i) / float(sampleRate);
        const float envelope = std::exp(-80.0f * t);
        accentClick_[i] = std::sin(5026.5483f * t) * envelope; // 2π × 800 Hz
        normalClick_[i] = std::sin(3769.9114f * t) * envelope; // 2π × 600 Hz
    }
}

void ClickGenerator::render(short* out, int frames, float volume)
{
    if (!out || frames < 1 || sampleRate_ < 1 || !(bpm_ > 0.0) || !std::isfinite(bpm_))
        return;
    const double increment = 1.0 / ((60.0 / bpm_) * sampleRate_);
    for (int f = 0; f < frames; ++f) {
        phase_ += increment;
        if (phase_ >= 1.0) {
            phase_ -= 1.0;
            if (beatsPerBar_ != 0)
                beat_ = (beat_ + 1) % beatsPerBar_;
            clicking_ = true;
            clickRemaining_ = clickLength_;
        }
        if (!clicking_)
            continue;
        if (clickRemaining_ < 1) {
            clicking_ = false;
            continue;
        }
        const int index = clickLength_ - clickRemaining_;
        const QList<float>& click = beat_ == 0 ? accentClick_ : normalClick_;
        const float sample = index >= 0 && index < click.size() ? click[index] : 0.0f;
        const short value = short(std::clamp(sample * volume, -1.0f, 1.0f) * 32767.0f);
        out[2 * f] = value;
        out[2 * f + 1] = value;
        --clickRemaining_;
    }
}
