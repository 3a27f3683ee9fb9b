#pragma once
// The dB scale beside a mixer fader: a groove with ticks at 0, -3, -6, -12,
// -24 and -48 dB, each placed where the fader's linear value (full scale
// 1.5) equals that level, and a mark across the groove at 0 dB.

#include <QWidget>

class FaderScale : public QWidget {
    Q_OBJECT
public:
    // The fader's full scale as a linear gain.
    static constexpr double FullScale = 1.5;

    explicit FaderScale(QWidget* parent = nullptr);

    // The tick levels in dB, top to bottom.
    static const double TickLevelsDb[6];
    // Fader fraction (0 at the bottom, 1 at the top) of a level in dB.
    static double faderFraction(double db);
    // The y of a level's tick in a scale `height` pixels high.
    static int tickY(double db, int height);

protected:
    void paintEvent(QPaintEvent* event) override;
};
