#pragma once
// The level shown by the page's meters: clamp((int)(sqrt(mean of squares) *
// 100), 0, 100), a linear RMS without dB scale; 0 when nothing is averaged.
// Safe on the audio thread (no allocation, no locks).

namespace MeterLevel {

// Over frames values, every value counted.
int rms(const float* data, int frames);
// Over data[offset], data[offset + stride], ... below count, skipping values
// that are not finite.
int finiteRms(const float* data, int count, int offset, int stride);

} // namespace MeterLevel
