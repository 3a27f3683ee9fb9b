#pragma once
// Tells the user of a newer version: current and new version, the release
// notes, and a download of the installer into the download folder with a
// progress bar, after which the installer can be opened.

#include "app/UpdateInfo.h"

#include <QDialog>

#include <memory>

class InstallerDownload;
class QLabel;
class QProgressBar;
class QPushButton;
class ShellPrompts;

class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    explicit UpdateDialog(const UpdateInfo& info, QWidget* parent = nullptr);

    // Where the completion and failure boxes are shown (Qt's own by default).
    void setPrompts(std::shared_ptr<ShellPrompts> prompts);

    QProgressBar* progressBar() const { return bar; }
    QPushButton* downloadButton() const { return downloadBtn; }
    QPushButton* openButton() const { return openBtn; }
    QPushButton* laterButton() const { return laterBtn; }
    QString savedPath() const { return savePath; }

private slots:
    void startDownload();
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onDownloadFinished(const QString& path);
    void onDownloadFailed(const QString& error);
    void onLaterClicked();
    void openInstaller();

private:
    UpdateInfo info;
    InstallerDownload* download = nullptr;
    std::shared_ptr<ShellPrompts> prompts;
    QString savePath;
    QProgressBar* bar = nullptr;
    QPushButton* downloadBtn = nullptr;
    QPushButton* openBtn = nullptr;
    QPushButton* laterBtn = nullptr;
};
