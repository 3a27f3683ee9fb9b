#include "app/UpdateDialog.h"

#include "app/AppInfo.h"
#include "app/InstallerDownload.h"
#include "app/ShellPrompts.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr double BytesPerMegabyte = 1048576.0;

} // namespace

UpdateDialog::UpdateDialog(const UpdateInfo& updateInfo, QWidget* parent)
    : QDialog(parent)
    , info(updateInfo)
    , download(new InstallerDownload(this))
    , prompts(std::make_shared<ShellPrompts>())
{
    setWindowTitle(tr("发现新版本"));
    setMinimumSize(460, 350);
    setMaximumWidth(520);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(20, 20, 20, 20);

    auto* versions = new QLabel(tr("当前版本: %1  →  最新版本: %2")
                                    .arg(QLatin1String(AppInfo::Version), info.version),
                                this);
    // The version comes from the network as well.
    versions->setTextFormat(Qt::PlainText);
    versions->setStyleSheet(QStringLiteral("font-size: 14px; font-weight: bold;"));
    layout->addWidget(versions);
    layout->addWidget(new QLabel(tr("更新内容:"), this));

    // The notes come from the network: shown as text, never interpreted.
    auto* notes = new QLabel(info.releaseNotes, this);
    notes->setTextFormat(Qt::PlainText);
    notes->setWordWrap(true);
    notes->setMinimumHeight(80);
    notes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notes->setStyleSheet(QStringLiteral("background: #2a2a2a; border: 1px solid #444; "
                                        "border-radius: 4px; padding: 10px; font-size: 13px;"));
    layout->addWidget(notes, 1);

    bar = new QProgressBar(this);
    bar->setTextVisible(true);
    bar->hide();
    layout->addWidget(bar);

    auto* buttons = new QHBoxLayout;
    downloadBtn = new QPushButton(tr("立即下载"), this);
    downloadBtn->setFixedSize(100, 32);
    openBtn = new QPushButton(tr("打开安装包"), this);
    openBtn->setFixedSize(100, 32);
    openBtn->hide();
    laterBtn = new QPushButton(tr("稍后提醒"), this);
    laterBtn->setFixedSize(80, 32);
    buttons->addWidget(downloadBtn);
    buttons->addWidget(openBtn);
    buttons->addStretch();
    buttons->addWidget(laterBtn);
    layout->addLayout(buttons);

    connect(downloadBtn, &QPushButton::clicked, this, &UpdateDialog::startDownload);
    connect(openBtn, &QPushButton::clicked, this, &UpdateDialog::openInstaller);
    connect(laterBtn, &QPushButton::clicked, this, &UpdateDialog::onLaterClicked);
    connect(download, &InstallerDownload::progress, this, &UpdateDialog::onDownloadProgress);
    connect(download, &InstallerDownload::finished, this, &UpdateDialog::onDownloadFinished);
    connect(download, &InstallerDownload::failed, this, &UpdateDialog::onDownloadFailed);
}

void UpdateDialog::setPrompts(std::shared_ptr<ShellPrompts> shellPrompts)
{
    if (shellPrompts)
        prompts = std::move(shellPrompts);
}

void UpdateDialog::startDownload()
{
    downloadBtn->setEnabled(false);
    downloadBtn->setText(tr("下载中..."));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->resetFormat();
    bar->show();
    laterBtn->setText(tr("取消"));
    download->start(info.downloadUrl, InstallerDownload::downloadFolder(), info.fileSize);
}

void UpdateDialog::onDownloadProgress(qint64 received, qint64 total)
{
    if (total < 1)
        return;
    const int percent = int(received * 100 / total);
    bar->setMaximum(100);
    bar->setValue(percent);
    bar->setFormat(QStringLiteral("%1 MB / %2 MB (%3%)")
                       .arg(double(received) / BytesPerMegabyte, 0, 'f', 1)
                       .arg(double(total) / BytesPerMegabyte, 0, 'f', 1)
                       .arg(percent));
}

void UpdateDialog::onDownloadFinished(const QString& path)
{
    savePath = path;
    bar->setMaximum(100);
    bar->setValue(100);
    bar->setFormat(tr("下载完成"));
    downloadBtn->hide();
    openBtn->show();
    laterBtn->setText(tr("关闭"));
    prompts->information(this, tr("下载完成"), tr("安装包已保存到:\n%1").arg(path));
}

void UpdateDialog::onDownloadFailed(const QString& error)
{
    prompts->warning(this, tr("下载失败"), tr("下载失败: %1").arg(error));
    downloadBtn->setEnabled(true);
    downloadBtn->setText(tr("重试下载"));
    bar->hide();
    laterBtn->setText(tr("稍后提醒"));
}

void UpdateDialog::onLaterClicked()
{
    // During a download this is "取消": nothing of it stays on disk.
    download->cancel();
    close();
}

void UpdateDialog::openInstaller()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(savePath));
}
