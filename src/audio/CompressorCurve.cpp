#include "CompressorCurve.h"

float compressorGainReductionDb(float levelDb, float thresholdDb, float ratio, float kneeDb)
{
    if (!(ratio > 1.0f))
        return 0.0f;
    const float slope = 1.0f - 1.0f / ratio;
    if (!(kneeDb > 0.0f))
        return levelDb > thresholdDb ? slope * (thresholdDb - levelDb) : 0.0f;

    const float kneeStart = thresholdDb - kneeDb * 0.5f;
    if (levelDb <= kneeStart)
        return 0.0f;
    if (levelDb >= thresholdDb + kneeDb * 0.5f)
        return slope * (thresholdDb - levelDb);
    const float over = levelDb - kneeStart;
    return -slope * over * over / (2.0f * kneeDb);
}
