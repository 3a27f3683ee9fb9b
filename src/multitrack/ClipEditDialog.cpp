#include "multitrack/ClipEditDialog.h"

#include "editor/AudioEditorPage.h"
#include "project/ProjectTypes.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton* dialogButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFixedSize(80, 32);
    return button;
}

} // namespace

ClipEditDialog::ClipEditDialog(const QString& trackName, const AudioClip& clip, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("编辑音频 - %1").arg(trackName));
    resize(1200, 700);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    editorPage = new AudioEditorPage(this);
    if (!clip.stereoSamples.isEmpty())
        editorPage->loadStereoAudioSamples(clip.stereoSamples, clip.sampleRate);
    else
        editorPage->loadAudioSamples(clip.samples, clip.sampleRate);
    layout->addWidget(editorPage, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 8, 12, 10);
    buttons->addStretch();
    QPushButton* ok = dialogButton(QStringLiteral("确定"), this);
    QPushButton* cancel = dialogButton(QStringLiteral("取消"), this);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &ClipEditDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ClipEditDialog::reject);
}

bool ClipEditDialog::hasEdits() const
{
    return editorPage->hasUnsavedEdits() || editorPage->recording();
}

void ClipEditDialog::accept()
{
    if (editorPage->recording())
        editorPage->stopRecording();
    QDialog::accept();
}

void ClipEditDialog::reject()
{
    if (!hasEdits()) {
        QDialog::reject();
        return;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("编辑音频"),
                    QStringLiteral("音频已修改，是否应用修改？"),
                    QMessageBox::Apply | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.button(QMessageBox::Apply)->setText(QStringLiteral("应用"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("放弃修改"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("继续编辑"));
    box.setDefaultButton(QMessageBox::Apply);
    box.exec();
    const QMessageBox::StandardButton answer = box.standardButton(box.clickedButton());
    if (answer == QMessageBox::Apply)
        accept();
    else if (answer == QMessageBox::Discard)
        QDialog::reject();
}
