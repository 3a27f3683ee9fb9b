#pragma once
// Dynamic-range compression of the single-track editor's mono audio. The
// editor hands over an AudioProcessor holding a copy of its list and, on
// accepted(), reads the processor's samples back as the compressed list.

#include <QDialog>
#include <QList>

class AudioProcessor;
class QDoubleSpinBox;

class CompressorDialog : public QDialog {
    Q_OBJECT
public:
    CompressorDialog(AudioProcessor* processor, QWidget* parent);

public slots:
    void onApply();

private:
    void applyParameters();

    AudioProcessor* processor = nullptr; // not owned, may be null
    QList<float> sourceSamples;
    QDoubleSpinBox* thresholdSpin = nullptr;
    QDoubleSpinBox* ratioSpin = nullptr;
    QDoubleSpinBox* attackSpin = nullptr;
    QDoubleSpinBox* releaseSpin = nullptr;
    QDoubleSpinBox* makeupSpin = nullptr;
    QDoubleSpinBox* kneeSpin = nullptr;
};
