#include "editor/TempoDetectionDialog.h"

#include <QLabel>
#include <QShowEvent>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

TempoDetectionDialog::TempoDetectionDialog(const QList<float>& samples, int sampleRate,
                                           QWidget* parent)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("音频速度检测 (BPM)"));
    setMinimumWidth(360);
    auto* layout = new QVBoxLayout(this);

    status = new QLabel(tr("正在分析音频，请稍候..."), this);
    status->setAlignment(Qt::AlignCenter);
    status->setStyleSheet(QStringLiteral("font-size: 13px;"));
    tempo = new QLabel(QStringLiteral("-- BPM"), this);
    tempo->setAlignment(Qt::AlignCenter);
    tempo->setStyleSheet(QStringLiteral(
        "font-size: 28px; font-weight: bold; color: #2a82da; margin: 12px 0;"));
    detail = new QLabel(tr("置信度: 100.0%"), this);
    detail->setAlignment(Qt::AlignCenter);
    detail->setStyleSheet(QStringLiteral("font-size: 12px; color: #888;"));
    // The line keeps the height of its result text while empty, so the
    // dialog keeps its size and place when the result arrives.
    detail->ensurePolished();
    detail->setMinimumHeight(detail->sizeHint().height());
    detail->clear();
    auto* close = new QPushButton(tr("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    layout->addWidget(status);
    layout->addWidget(tempo);
    layout->addWidget(detail);
    layout->addWidget(close);

    // The task holds a shared copy of the list (no sample is copied) and
    // reads nothing else of the page.
    watcher = new QFutureWatcher<AudioProcessor::TempoResult>(this);
    connect(watcher, &QFutureWatcher<AudioProcessor::TempoResult>::finished, this,
            [this] { showResult(watcher->result()); });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &TempoDetectionDialog::measure,
                                         samples, sampleRate));
}

void TempoDetectionDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred on the window it belongs to, whatever the platform would pick.
    if (event->spontaneous() || !parentWidget())
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(parentWidget()->window()->frameGeometry().center());
    move(frame.topLeft());
}

AudioProcessor::TempoResult TempoDetectionDialog::measure(const QList<float>& samples,
                                                          int sampleRate)
{
    AudioProcessor processor;
    processor.samples = samples;
    processor.sampleRate = sampleRate;
    processor.channels = 1;
    return processor.detectTempo();
}

void TempoDetectionDialog::showResult(const AudioProcessor::TempoResult& result)
{
    if (result.success) {
        status->setText(tr("检测完成"));
        tempo->setText(QString::number(result.bpm, 'f', 1) + QStringLiteral(" BPM"));
        detail->setText(tr("置信度: %1%").arg(result.confidence * 100.0, 0, 'f', 1));
        return;
    }
    status->setText(tr("检测失败"));
    tempo->setText(QStringLiteral("-- BPM"));
    detail->setText(result.error);
}
