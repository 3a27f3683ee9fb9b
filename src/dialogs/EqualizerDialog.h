#pragma once
// Five-band equaliser over the single-track editor's mono audio. The editor
// hands over an AudioProcessor holding a copy of its list (and its engine,
// possibly null) and, on accepted(), reads the processor's samples back.

#include <QDialog>
#include <QList>

class AudioEngine;
class AudioProcessor;
class QDoubleSpinBox;

class EqualizerDialog : public QDialog {
    Q_OBJECT
public:
    EqualizerDialog(AudioProcessor* processor, AudioEngine* engine, QWidget* parent);

public slots:
    void onApply();

private:
    void applyEQ();

    AudioProcessor* processor = nullptr; // not owned, may be null
    AudioEngine* engine = nullptr;       // not owned, may be null
    QList<float> sourceSamples;
    QList<QDoubleSpinBox*> gainSpins;    // one per band, in band order
};
