#pragma once
// The compressor's static transfer curve: output level against input level
// from -60 to 0 dB, through the curve the compressor applies, with the 1:1
// line, the threshold and knee, and the audio's peak marked on it.

#include <QWidget>

class CompressorCurveWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr double MinDb = -60.0;
    static constexpr double MaxDb = 0.0;

    explicit CompressorCurveWidget(QWidget* parent = nullptr);

    void setParameters(double thresholdDb, double ratio, double kneeDb, double makeupDb);
    // The input peak to mark; below MinDb (silence) marks nothing.
    void setInputPeak(double peakDb);
    // Output level for an input level, as the compressor's static curve gives it.
    double outputDb(double inputDb) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double threshold = -20.0;
    double ratio = 4.0;
    double knee = 6.0;
    double makeup = 0.0;
    double inputPeak = -96.0;
};
