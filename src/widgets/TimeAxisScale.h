#pragma once
// Tick placement and labels of the time axes under the waveform and the
// spectrogram: the step is the first of a fixed series that spaces the ticks
// at least 50 px apart.

#include <QString>
#include <vector>

class TimeAxisScale {
public:
    // First of 0.001, 0.005, 0.01, 0.05, 0.1, 0.5, 1, 2, 5, 10, 30, 60 s whose
    // spacing step / visible * width is at least 50 px; 1 s when none is.
    static double stepFor(double visibleSeconds, double pixelWidth);

    // Tick times from max(step * ceil(start / step), 0) while t <= start + visible.
    static std::vector<double> tickTimes(double startSeconds, double visibleSeconds, double step);

    // Spectrogram labels: "7s", "1:02" (from 60 s), "03.50", "03.125".
    static QString spectrogramLabel(double seconds, double step);
    // Waveform ruler labels: "01:02", "03.50", "03.125".
    static QString rulerLabel(double seconds, double step);
};
