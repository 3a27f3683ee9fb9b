#pragma once
// Measures the tempo of a copy of the page's mono list on Qt's global thread
// pool and shows the result. Closing the dialog early drops the result; the
// task runs to its end on its own copy.

#include "audio/AudioProcessor.h"

#include <QDialog>
#include <QFutureWatcher>
#include <QList>

class QLabel;

class TempoDetectionDialog : public QDialog {
    Q_OBJECT
public:
    // Delete-on-close; starts measuring at once.
    TempoDetectionDialog(const QList<float>& samples, int sampleRate, QWidget* parent);

    void showResult(const AudioProcessor::TempoResult& result);

    QLabel* statusLabel() const { return status; }
    QLabel* tempoLabel() const { return tempo; }
    QLabel* detailLabel() const { return detail; }

    static AudioProcessor::TempoResult measure(const QList<float>& samples, int sampleRate);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* status = nullptr;
    QLabel* tempo = nullptr;
    QLabel* detail = nullptr;
    QFutureWatcher<AudioProcessor::TempoResult>* watcher = nullptr;
};
