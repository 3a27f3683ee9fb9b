#pragma once
// Dynamic-range compression of the single-track editor's mono audio. The
// editor hands over an AudioProcessor holding a copy of its list and, on
// accepted(), reads the processor's samples back as the compressed list.
//
// Every preview and the applied result start again from the copy taken at
// construction, so nothing compounds; a preview left in the processor when
// the dialog goes is undone. The level read-out is a static estimate from
// the peak of the audio through the same curve the compressor applies
// (compressorGainReductionDb).

#include "dialogs/ApplyCheck.h"

#include <QDialog>
#include <QList>
#include <QPointer>

class AudioProcessor;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QSlider;

class CompressorDialog : public QDialog {
    Q_OBJECT
public:
    CompressorDialog(AudioProcessor* processor, QWidget* parent);
    ~CompressorDialog() override;

    // 20·log10 of the largest |x|, -96 for silence.
    static double peakDb(const QList<float>& samples);

    // Compresses another mono list at the processor's rate with the current
    // settings, as "应用" compresses the processor's list (the editor's other
    // channels).
    void applyTo(QList<float>& list) const;
    // Asked before "应用" changes anything; a refusal keeps the dialog open.
    void setApplyCheck(ApplyCheck check) { applyCheck = std::move(check); }

public slots:
    void onApply();
    void onPreview();
    void onReset();
    void updateGainReductionDisplay();

private:
    struct Parameter {
        QSlider* slider = nullptr;
        QDoubleSpinBox* spin = nullptr;
    };

    void setupUI();
    void connectSignals();
    void applyParameters();
    void compress(AudioProcessor& target) const;
    void restoreSource();
    Parameter addParameter(QGridLayout* grid, int row, const QString& name,
                           const QString& suffix, double minimum, double maximum, double value,
                           double step);
    static void setReadout(QLabel* label, double db);

    // Not owned, may be null; owned by the dialog when the editor hands it
    // over, and forgotten should its owner delete it first.
    QPointer<AudioProcessor> processor;
    ApplyCheck applyCheck;
    QList<float> sourceSamples;
    bool previewing = false;
    double sourcePeakDb = -96.0;

    QDoubleSpinBox* thresholdSpin = nullptr;
    QDoubleSpinBox* ratioSpin = nullptr;
    QDoubleSpinBox* attackSpin = nullptr;
    QDoubleSpinBox* releaseSpin = nullptr;
    QDoubleSpinBox* makeupSpin = nullptr;
    QDoubleSpinBox* kneeSpin = nullptr;
    QSlider* thresholdSlider = nullptr;
    QSlider* ratioSlider = nullptr;
    QSlider* attackSlider = nullptr;
    QSlider* releaseSlider = nullptr;
    QSlider* makeupSlider = nullptr;
    QSlider* kneeSlider = nullptr;
    QLabel* gainReductionLabel = nullptr;
    QLabel* inputLevelLabel = nullptr;
    QLabel* outputLevelLabel = nullptr;
};
