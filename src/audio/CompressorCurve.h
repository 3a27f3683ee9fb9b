#pragma once
// The static curve of the compressor: how many dB a level is pulled down.
// The offline compressor and the compressor dialog's read-out share it so
// the estimate shown is what the processing does.

// Gain reduction in dB (0 or negative) for a level in dB. A knee of 0 or less
// is a hard knee; a wider knee blends the two lines with the quadratic that
// meets both with equal slope, so the curve is continuous and never boosts.
// A ratio of 1 or less compresses nothing.
float compressorGainReductionDb(float levelDb, float thresholdDb, float ratio, float kneeDb);
