#pragma once
// Note-by-note intonation correction of the single-track editor's mono
// audio. The editor reads `correctedSamples` after accepted(); it holds the
// whole result, as long as the input.

#include <QDialog>
#include <QList>

class PitchCorrectionDialog : public QDialog {
    Q_OBJECT
public:
    PitchCorrectionDialog(const QList<float>& samples, int sampleRate, QWidget* parent);

    QList<float> correctedSamples;

public slots:
    void runCorrection();

private:
    QList<float> samples;
    int sampleRate = 44100;
};
