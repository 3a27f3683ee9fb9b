#include "VST3BundleDialog.h"

#include <QFileInfo>
#include <QSplitter>

VST3BundleDialog::VST3BundleDialog(QWidget* parent) : QFileDialog(parent)
{
    setWindowTitle(tr("导入VST3插件"));
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters({tr("VST3 插件 (*.vst3)"), tr("所有文件 (*)")});
    // The program loads no translations; the dialog's own labels are set here.
    setLabelText(QFileDialog::LookIn, tr("查找范围:"));
    setLabelText(QFileDialog::FileName, tr("插件:"));
    setLabelText(QFileDialog::FileType, tr("文件类型:"));
    setLabelText(QFileDialog::Accept, tr("打开"));
    setLabelText(QFileDialog::Reject, tr("取消"));
    // Room for the place names beside the file list.
    if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({160, 600});
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) { highlighted = path; });
    // Double-clicking a bundle chooses it instead of opening the folder.
    connect(this, &QFileDialog::directoryEntered, this, [this](const QString& folder) {
        if (isVisible() && isBundleFolder(folder)) {
            chosen = folder;
            QDialog::accept();
        }
    });
}

bool VST3BundleDialog::isBundleFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && info.fileName().endsWith(QLatin1String(".vst3"), Qt::CaseInsensitive);
}

void VST3BundleDialog::accept()
{
    // A typed name first; else the highlighted entry, since a file dialog
    // never counts a highlighted folder as selected.
    const QStringList files = selectedFiles();
    QString candidate = files.size() == 1 ? files.first() : QString();
    if (candidate.isEmpty() || !QFileInfo::exists(candidate))
        candidate = highlighted;
    if (isBundleFolder(candidate)) {
        chosen = candidate;
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

QString VST3BundleDialog::chosenPath() const
{
    if (!chosen.isEmpty())
        return chosen;
    if (result() != QDialog::Accepted)
        return {};
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

QString VST3BundleDialog::choose(QWidget* parent)
{
    VST3BundleDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.chosenPath();
}
