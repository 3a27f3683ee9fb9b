// The update check against a local HTTP server: versions, the request, every
// failure, the window's answers to silent and manual checks, and the safe
// installer download of the update dialog. Nothing leaves this machine.

#include "app/InstallerDownload.h"
#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"
#include "widgets/LoadingOverlay.h"
#include "LocalHttpServer.h"
#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QtNetwork>
#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

QByteArray descriptor(const QString& version, const QString& downloadUrl = QStringLiteral("https://h.example/s.exe"))
{
    QJsonObject object{{"version", version}, {"build", 7}, {"releaseNotes", "修复 <b>不是</b> 富文本"},
                       {"fileSize", 123.9}};
    if (!downloadUrl.isEmpty())
        object.insert(QStringLiteral("downloadUrl"), downloadUrl);
    return QJsonDocument(object).toJson();
}

// Every answer of one checker, in order.
struct Answers {
    explicit Answers(UpdateChecker& checker)
        : available(&checker, &UpdateChecker::updateAvailable)
        , none(&checker, &UpdateChecker::noUpdateAvailable)
        , failed(&checker, &UpdateChecker::checkFailed)
        , finishedReplies(checker.findChild<QNetworkAccessManager*>(), &QNetworkAccessManager::finished)
    {
    }
    int count() const { return available.size() + none.size() + failed.size(); }
    QString failure() const { return failed.isEmpty() ? QString() : failed.last().at(0).toString(); }

    QSignalSpy available;
    QSignalSpy none;
    QSignalSpy failed;
    // Each reply the checker's network finished, answered or not.
    QSignalSpy finishedReplies;
};

QByteArray pattern(int bytes)
{
    QByteArray data(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        data[i] = char((i * 131 + i / 7) & 0xff);
    return data;
}

// `data` as one chunk and the last chunk.
QByteArray oneChunk(const QByteArray& data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n0\r\n\r\n";
}

UpdateInfo updateTo(const QString& downloadUrl, const QString& notes = QString())
{
    UpdateInfo info;
    info.version = QStringLiteral("0.2.0");
    info.downloadUrl = downloadUrl;
    info.releaseNotes = notes;
    return info;
}

} // namespace

class UpdateCheckTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;
    QTemporaryDir home;

    QString downloads() const { return home.filePath(QStringLiteral("Downloads")); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // The download folder of this run: $HOME/Downloads, not there yet.
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toLocal8Bit());
        qunsetenv("XDG_DOWNLOAD_DIR");
        ShellTestSupport::prepareApplication(settingsDir);
        QCOMPARE(InstallerDownload::downloadFolder(), downloads());
    }

    void cleanup()
    {
        QDir(downloads()).removeRecursively();
    }

    void versions()
    {
        const QString local = QStringLiteral("0.1.0");
        for (const char* newer : {"0.1.1", "0.2", "1.0.0", "0.1.1.0", "0.10.0"})
            QVERIFY2(UpdateChecker::isNewer(QString::fromLatin1(newer), local), newer);
        for (const char* older : {"0.1.0", "0.0.9", "0.1", "2", "abc", "", "0.1.0.9", "v1.0.0"})
            QVERIFY2(!UpdateChecker::isNewer(QString::fromLatin1(older), local), older);
        QVERIFY(UpdateChecker::isNewer(QStringLiteral("0.0.1"), QStringLiteral("nonsense")));
        int major = -1, minor = -1, patch = -1;
        QVERIFY(UpdateChecker::parseVersion(QStringLiteral("3..x"), major, minor, patch));
        QCOMPARE(QList<int>({major, minor, patch}), QList<int>({3, 0, 0}));
    }

    // One GET with the program's User-Agent, the descriptor's fields, and
    // every failure text; silent checks fail without a word.
    void checker()
    {
        LocalHttpServer server;
        UpdateChecker checker;
        Answers answers(checker);

        checker.checkForUpdates(false);
        QCOMPARE(answers.failure(), QStringLiteral("未配置更新地址"));
        checker.checkForUpdates(true);
        QCOMPARE(answers.count(), 1);

        server.respond(QStringLiteral("/update.json"), {200, descriptor(QStringLiteral("0.2.0"))});
        checker.setUpdateUrl(server.url(QStringLiteral("/update.json")));
        checker.checkForUpdates(false);
        QTRY_COMPARE(answers.available.size(), 1);
        const QByteArray request = server.requests.last();
        QVERIFY2(request.startsWith("GET /update.json HTTP/1.1\r\n"), request.constData());
        QVERIFY2(request.contains("\r\nUser-Agent: CalderwynStudio/0.1.0\r\n")
                     || request.endsWith("\r\nUser-Agent: CalderwynStudio/0.1.0"),
                 request.constData());
        const auto info = answers.available.last().at(0).value<UpdateInfo>();
        QCOMPARE(info.version, QStringLiteral("0.2.0"));
        QCOMPARE(info.build, 7);
        QCOMPARE(info.fileSize, qint64(123));
        QCOMPARE(info.downloadUrl, QStringLiteral("https://h.example/s.exe"));

        struct Case {
            QByteArray body;
            int status;
            const char* failure;
        };
        const Case cases[] = {
            {"[1, 2]", 200, "更新数据格式错误"},
            {"not json", 200, "更新数据格式错误"},
            {descriptor(QStringLiteral("0.3.0"), QString()), 200, "更新数据缺少必要字段"},
            {"{}", 500, nullptr},
        };
        for (const Case& c : cases) {
            server.respond(QStringLiteral("/update.json"), {c.status, c.body});
            const int before = answers.count();
            checker.checkForUpdates(false);
            QTRY_COMPARE(answers.count(), before + 1);
            QCOMPARE(answers.failed.size(), before); // all earlier answers were one of each kind
            if (c.failure)
                QCOMPARE(answers.failure(), QString::fromUtf8(c.failure));
            else
                QCOMPARE(answers.failure(), QStringLiteral("网络错误: 服务器返回 HTTP 状态 %1").arg(c.status));
            // The same failure in silence: the reply ends, nothing is said.
            const int replies = answers.finishedReplies.size();
            checker.checkForUpdates(true);
            QTRY_COMPARE(answers.finishedReplies.size(), replies + 1);
            QCOMPARE(answers.count(), before + 1);
        }

        checker.setUpdateUrl(LocalHttpServer::refusedUrl(QStringLiteral("/update.json")));
        const int count = answers.count() + 1;
        checker.checkForUpdates(false);
        QTRY_COMPARE(answers.count(), count);
        // Said in the interface's language, not the network library's.
        QCOMPARE(answers.failure(), QStringLiteral("网络错误: 服务器拒绝了连接"));
        const int replies = answers.finishedReplies.size();
        checker.checkForUpdates(true);
        QTRY_COMPARE(answers.finishedReplies.size(), replies + 1);
        QCOMPARE(answers.count(), count);
    }

    // The window: one answer per manual check, nothing from a silent check
    // that fails, and a manual check during a silent one gets its own answer.
    void windowAnswers()
    {
        LocalHttpServer server;
        const QString address = server.url(QStringLiteral("/update.json"));
        ShellProbeWindow window;
        // The silent check at start-up waits 3 s; this test starts it itself.
        QVERIFY(window.startUpCheckTimer->isActive() && window.startUpCheckTimer->isSingleShot());
        QCOMPARE(window.startUpCheckTimer->interval(), 3000);
        window.startUpCheckTimer->stop();
        window.updateChecker->setUpdateUrl(address);
        auto& shown = window.prompts->shown;

        server.respond(QStringLiteral("/update.json"), {200, descriptor(QStringLiteral("0.1.0"))});
        window.menuActions().checkUpdates->trigger();
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(window.prompts->only(QStringLiteral("information")).text, QStringLiteral("当前已是最新版本。"));
        QCOMPARE(window.prompts->only(QStringLiteral("information")).title, QStringLiteral("检查更新"));

        // A failing check after it shows only its own warning.
        window.updateChecker->setUpdateUrl(LocalHttpServer::refusedUrl(QStringLiteral("/update.json")));
        window.menuActions().checkUpdates->trigger();
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown.last().kind, QStringLiteral("warning"));
        QVERIFY(shown.last().text.startsWith(QStringLiteral("网络错误: ")));

        // The silent check at start-up says nothing when it fails.
        QSignalSpy replies(window.updateChecker->findChild<QNetworkAccessManager*>(),
                           &QNetworkAccessManager::finished);
        QVERIFY(QMetaObject::invokeMethod(window.startUpCheckTimer, "timeout"));
        QTRY_COMPARE(replies.size(), 1);
        QTest::qWait(0);
        QCOMPARE(shown.size(), 2);

        // A newer version: exactly one update dialog.
        window.updateChecker->setUpdateUrl(address);
        server.respond(QStringLiteral("/update.json"), {200, descriptor(QStringLiteral("0.2.0"))});
        window.menuActions().checkUpdates->trigger();
        QTRY_COMPARE(shown.size(), 3);
        QCOMPARE(shown.last().kind, QStringLiteral("dialog"));
        QCOMPARE(shown.last().text, QStringLiteral("UpdateDialog"));
        QCOMPARE(shown.last().title, QStringLiteral("发现新版本"));
        QTest::qWait(50);
        QCOMPARE(shown.size(), 3);

        // A silent check whose server stalls, then a manual check: the
        // manual one answers; the silent one's later failure stays silent.
        LocalHttpServer::Response stall{200, descriptor(QStringLiteral("0.1.0")), true, 0};
        server.respond(QStringLiteral("/update.json"), {stall, {200, descriptor(QStringLiteral("0.1.0"))}});
        const int seen = server.requests.size();
        QVERIFY(QMetaObject::invokeMethod(&window, "onAutoUpdateCheck"));
        QTRY_COMPARE(server.requests.size(), seen + 1);
        window.menuActions().checkUpdates->trigger();
        QTRY_COMPARE(shown.size(), 4);
        QCOMPARE(shown.last().text, QStringLiteral("当前已是最新版本。"));
        const int finishedBefore = replies.size();
        server.closeStalled();
        QTRY_COMPARE(replies.size(), finishedBefore + 1);
        QTest::qWait(0);
        QCOMPARE(shown.size(), 4);

        // The silent check waits while work holds the window, and runs after it.
        window.loadingOverlay->show(QString());
        QVERIFY(QMetaObject::invokeMethod(window.startUpCheckTimer, "timeout"));
        QVERIFY(window.updateChecker->findChildren<QNetworkReply*>().isEmpty());
        QVERIFY(window.startUpCheckTimer->isActive());
        window.loadingOverlay->hide();
        QVERIFY(QMetaObject::invokeMethod(window.startUpCheckTimer, "timeout"));
        QTRY_COMPARE(replies.size(), finishedBefore + 2);
    }

    // 3 MiB with a length, saved byte for byte into the (new) download
    // folder; an existing file is kept and the next one numbered.
    void download()
    {
        LocalHttpServer server;
        const QByteArray body = pattern(3 << 20);
        server.respond(QStringLiteral("/files/setup.bin"), {200, body});
        const UpdateInfo info = updateTo(server.url(QStringLiteral("/files/setup.bin")),
                                         QStringLiteral("新功能\n<b>not bold</b>"));
        auto prompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog dialog(info);
        dialog.setPrompts(prompts);
        dialog.show();
        QVERIFY(TestSupport::saveScreenshot(dialog.grab(), QStringLiteral("update-dialog.png")));

        dialog.downloadButton()->click();
        QCOMPARE(dialog.laterButton()->text(), QStringLiteral("取消"));
        QTRY_VERIFY_WITH_TIMEOUT(!prompts->shown.isEmpty(), 20000);
        const QString path = downloads() + QStringLiteral("/setup.bin");
        const auto done = prompts->only(QStringLiteral("information"));
        QCOMPARE(done.title, QStringLiteral("下载完成"));
        QCOMPARE(done.text, QStringLiteral("安装包已保存到:\n%1").arg(path));
        QCOMPARE(TestSupport::fileBytes(path), body);
        QCOMPARE(dialog.progressBar()->value(), 100);
        QCOMPARE(dialog.progressBar()->text(), QStringLiteral("下载完成"));
        QVERIFY(dialog.openButton()->isVisible());
        QVERIFY(!dialog.downloadButton()->isVisible());
        QCOMPARE(dialog.laterButton()->text(), QStringLiteral("关闭"));
        QVERIFY(TestSupport::saveScreenshot(dialog.grab(), QStringLiteral("update-dialog-done.png")));

        UpdateDialog again(info);
        again.setPrompts(prompts);
        again.downloadButton()->click();
        QTRY_COMPARE(prompts->shown.size(), 2);
        QCOMPARE(again.savedPath(), downloads() + QStringLiteral("/setup (1).bin"));
        QCOMPARE(TestSupport::fileBytes(path), body);
        QCOMPARE(QDir(downloads()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Progress reads in MB; "取消" during a stalled transfer closes the
    // dialog and leaves no file at all.
    void progressAndCancel()
    {
        LocalHttpServer server;
        server.respond(QStringLiteral("/big.exe"), {200, pattern(2 << 20), true, 1 << 20});
        auto prompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog dialog(updateTo(server.url(QStringLiteral("/big.exe"))));
        dialog.setPrompts(prompts);
        dialog.show();
        dialog.downloadButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.progressBar()->text(), QStringLiteral("1.0 MB / 2.0 MB (50%)"), 10000);
        QVERIFY(TestSupport::saveScreenshot(dialog.grab(), QStringLiteral("update-dialog-progress.png")));
        dialog.laterButton()->click();
        QVERIFY(!dialog.isVisible());
        QVERIFY(QDir(downloads()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QTest::qWait(20);
        QVERIFY(prompts->shown.isEmpty());
    }

    // A failed download offers a retry that works; a body without a length
    // (chunked) still completes; a name-less address gets the default name.
    void failureRetryAndNames()
    {
        LocalHttpServer server;
        const QByteArray body = pattern(70000);
        server.respond(QStringLiteral("/dl/"),
                       {{404, "gone"}, {200, oneChunk(body), false, -1, "Transfer-Encoding: chunked\r\n"}});
        auto prompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog dialog(updateTo(server.url(QStringLiteral("/dl/"))));
        dialog.setPrompts(prompts);
        dialog.downloadButton()->click();
        QTRY_COMPARE(prompts->shown.size(), 1);
        const auto failure = prompts->only(QStringLiteral("warning"));
        QCOMPARE(failure.title, QStringLiteral("下载失败"));
        QVERIFY(failure.text.startsWith(QStringLiteral("下载失败: ")));
        QCOMPARE(dialog.downloadButton()->text(), QStringLiteral("重试下载"));
        QVERIFY(dialog.downloadButton()->isEnabled());
        QVERIFY(!dialog.progressBar()->isVisibleTo(&dialog));
        QCOMPARE(dialog.laterButton()->text(), QStringLiteral("稍后提醒"));
        QVERIFY(QDir(downloads()).entryList(QDir::Files | QDir::Hidden).isEmpty());

        dialog.downloadButton()->click();
        QTRY_COMPARE(prompts->shown.size(), 2);
        QCOMPARE(prompts->shown.last().title, QStringLiteral("下载完成"));
        QCOMPARE(TestSupport::fileBytes(downloads() + QStringLiteral("/CalderwynStudio-Setup.exe")), body);
    }

    // A disk that fills up mid-download: a failure, never "下载完成", no file.
    void fullDisk()
    {
        LocalHttpServer server;
        server.respond(QStringLiteral("/setup.exe"), {200, pattern(3 << 20)});
        auto prompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog dialog(updateTo(server.url(QStringLiteral("/setup.exe"))));
        dialog.setPrompts(prompts);
        {
            TestSupport::FileSizeLimit limit(1 << 20);
            dialog.downloadButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(prompts->shown.size(), 1, 20000);
        }
        QCOMPARE(prompts->only(QStringLiteral("warning")).title, QStringLiteral("下载失败"));
        QCOMPARE(dialog.downloadButton()->text(), QStringLiteral("重试下载"));
        QVERIFY(QDir(downloads()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // Only a whole 200 body of the descriptor's size is an installer; any
    // other fails with a message and leaves no file.
    void incompleteDownloadsFail()
    {
        LocalHttpServer server;
        const QByteArray whole = pattern(4096);
        const QByteArray chunkedHead = "Transfer-Encoding: chunked\r\n";
        // A packed body cut short of its announced length, and lengths that
        // do not announce one number.
        const QByteArray packed = qCompress(whole).mid(4);
        const QByteArray chunks = "800\r\n" + whole.left(2048) + "\r\n800\r\n" + whole.mid(2048) + "\r\n0\r\n\r\n";
        // 100 bytes, then `size` where the next chunk's size belongs.
        const auto sizeAfterData = [&](const QByteArray& size) {
            return "64\r\n" + whole.left(100) + "\r\n" + size + "\r\n" + whole.mid(100) + "\r\n0\r\n\r\n";
        };
        struct Case {
            const char* name;
            LocalHttpServer::Response response;
            qint64 fileSize;
            int progressWindowMs = 0; // 0: the program's own
        };
        // Servers that hold the download: interim answers without end, a
        // byte now and then (in a shortened progress window).
        LocalHttpServer::Response flood{200, whole}, trickle{200, whole, true, 100};
        flood.interim = QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(100);
        trickle.trickleMs = 20;
        const QList<Case> cases = {
            {"partial", {206, whole.left(100), true, -1, "Content-Range: bytes 0-99/4096\r\n"}, 4096},
            {"no content", {204, {}}, 0},
            {"multiple choices", {300, whole}, 0},
            {"continue", {100, whole}, 0},
            {"short of its length", {200, whole.left(100), false, -1, "Content-Length: 4096\r\n"}, 0},
            {"longer than its length", {200, whole + whole.left(96), false, -1, "Content-Length: 4096\r\n"}, 0},
            {"short of the descriptor's size", {200, whole.left(1000)}, 4096},
            {"bad chunk size", {200, "zz\r\n" + whole.left(100) + "\r\n0\r\n\r\n", false, -1, chunkedHead}, 0},
            {"bad second chunk size", {200, "64\r\n" + whole.left(100) + "\r\nzz\r\n" + whole.mid(100) + "\r\n0\r\n\r\n",
                                       false, -1, chunkedHead}, 4096},
            {"packed short of its length", {200, packed.left(packed.size() / 2), false, -1,
                                            "Content-Encoding: deflate\r\nContent-Length: " + QByteArray::number(packed.size()) + "\r\n"}, 0},
            {"two lengths", {200, whole, false, -1, "Content-Length: 4096\r\nContent-Length: 5000\r\n"}, 0},
            {"length with letters", {200, whole, false, -1, "Content-Length: 4096abc\r\n"}, 0},
            {"length list", {200, whole, false, -1, "Content-Length: 4096, 4096\r\n"}, 0},
            {"hexadecimal length", {200, whole, false, -1, "Content-Length: 0x1000\r\n"}, 0},
            // Without any size, only a body whose end the server marks is
            // whole: a chunked one needs its last chunk, read strictly.
            {"letters for the next chunk size", {200, sizeAfterData("zz"), false, -1, chunkedHead}, 0},
            {"negative chunk size", {200, sizeAfterData("-5"), false, -1, chunkedHead}, 0},
            {"chunk size of 18 digits", {200, sizeAfterData("100000000000000f9c"), false, -1, chunkedHead}, 0},
            {"chunk size beyond any file", {200, sizeAfterData("ffffffffffffffff"), false, -1, chunkedHead}, 0},
            {"no last chunk", {200, "64\r\n" + whole.left(100) + "\r\n", false, -1, chunkedHead}, 0},
            {"chunk size line beyond any bound", {200, QByteArray(5000, '0') + "64\r\n" + whole.left(100) + "\r\n0\r\n\r\n",
                                                  false, -1, chunkedHead}, 0},
            {"packed transfer", {200, chunks, false, -1, "Transfer-Encoding: gzip, chunked\r\n"}, 4096},
            {"cut without a length", {200, whole.left(1000), false}, 0},
            // Nothing beyond the descriptor's size is saved.
            {"past the descriptor's size", {200, whole + whole, false}, 4096},
            {"length other than the descriptor's size", {200, whole + whole}, 4096},
            {"interim answers without end", flood, 4096},
            {"trickle", trickle, 4096, 300},
        };
        // A whole body of the descriptor's size, or of none when its end is
        // marked, completes.
        const QList<Case> wholeCases = {{"whole", {200, whole}, 4096},
                                        {"chunked", {200, chunks, false, -1, chunkedHead}, 4096},
                                        {"whole of no size", {200, whole}, 0},
                                        {"chunked of no size", {200, chunks, false, -1, chunkedHead}, 0},
                                        {"chunks with extensions and trailers",
                                         {200, "800;x=1\r\n" + whole.left(2048) + "\r\n800 ; y\r\n" + whole.mid(2048)
                                                   + "\r\n0\r\nX-Sum: 1\r\n\r\n", false, -1, chunkedHead}, 0}};
        auto prompts = std::make_shared<ScriptedPrompts>();
        const QList<Case> all = cases + wholeCases;
        QStringList wrong; // the cases that end otherwise
        for (qsizetype i = 0; i < all.size(); ++i) {
            const Case& c = all[i];
            const bool complete = i >= cases.size();
            const QString name = QString::fromLatin1(c.name).replace(' ', '-') + ".exe";
            server.respond(QLatin1Char('/') + name, c.response);
            UpdateInfo info = updateTo(server.url(QLatin1Char('/') + name));
            info.fileSize = c.fileSize;
            UpdateDialog dialog(info);
            dialog.setPrompts(prompts);
            auto* download = dialog.findChild<InstallerDownload*>();
            if (c.progressWindowMs > 0)
                download->setProgressWindow(c.progressWindowMs);
            QSignalSpy saved(download, &InstallerDownload::progress);
            const int before = prompts->shown.size();
            dialog.downloadButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(prompts->shown.size(), before + 1, 20000);
            const qint64 savedBytes = saved.isEmpty() ? 0 : saved.last().at(0).toLongLong();
            if (c.fileSize > 0 && savedBytes > c.fileSize)
                wrong << QStringLiteral("%1 (%2 bytes saved)").arg(QString::fromLatin1(c.name)).arg(savedBytes);
            const bool ended = complete ? prompts->shown.last().title == QStringLiteral("下载完成")
                                              && TestSupport::fileBytes(downloads() + QLatin1Char('/') + name) == whole
                                        : prompts->shown.last().title == QStringLiteral("下载失败")
                                              && QDir(downloads()).entryList(QDir::Files | QDir::Hidden).isEmpty()
                                              && dialog.downloadButton()->text() == QStringLiteral("重试下载");
            if (!ended)
                wrong << QString::fromLatin1(c.name);
            cleanup();
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
    }

    // Only https (and http to this machine) is fetched, also after a
    // redirect; redirects are followed hop by hop up to a bound.
    void unsafeAddressesRefused()
    {
        for (const char* address : {"http://example.org/setup.exe", "file:///etc/hostname", "ftp://h/x"}) {
            auto prompts = std::make_shared<ScriptedPrompts>();
            UpdateDialog dialog(updateTo(QString::fromLatin1(address)));
            dialog.setPrompts(prompts);
            dialog.downloadButton()->click();
            QCOMPARE(prompts->only(QStringLiteral("warning")).title, QStringLiteral("下载失败"));
        }
        QVERIFY(!QFileInfo::exists(downloads() + QStringLiteral("/hostname")));
        auto refusedPrompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog refused(updateTo(LocalHttpServer::refusedUrl(QStringLiteral("/x.exe"))));
        refused.setPrompts(refusedPrompts);
        refused.downloadButton()->click();
        QTRY_COMPARE(refusedPrompts->shown.size(), 1);
        QCOMPARE(refusedPrompts->shown.last().text, QStringLiteral("下载失败: 服务器拒绝了连接"));

        LocalHttpServer server;
        const QByteArray body = pattern(1000);
        server.respond(QStringLiteral("/away"), {302, {}, true, -1, "Location: http://example.org/x.exe\r\n"});
        server.respond(QStringLiteral("/here"), {302, {}, true, -1,
                                                 "Location: " + server.url(QStringLiteral("/x.exe")).toLatin1() + "\r\n"});
        server.respond(QStringLiteral("/x.exe"), {200, body});
        auto prompts = std::make_shared<ScriptedPrompts>();
        UpdateDialog away(updateTo(server.url(QStringLiteral("/away"))));
        away.setPrompts(prompts);
        away.downloadButton()->click();
        QTRY_COMPARE(prompts->shown.size(), 1);
        QCOMPARE(prompts->only(QStringLiteral("warning")).text,
                 QStringLiteral("下载失败: 只允许通过 HTTPS 下载安装包"));
        UpdateDialog here(updateTo(server.url(QStringLiteral("/here"))));
        here.setPrompts(prompts);
        here.downloadButton()->click();
        QTRY_COMPARE(prompts->shown.size(), 2);
        // Named after the address the dialog was given.
        QCOMPARE(TestSupport::fileBytes(downloads() + QStringLiteral("/here")), body);

        // A chain of hops (relative ones too) always arrives; an endless one fails.
        for (int hop = 1; hop <= 4; ++hop)
            server.respond(QStringLiteral("/hop%1").arg(hop),
                           {302, "moved", true, -1, QStringLiteral("Location: /hop%1\r\n").arg(hop + 1).toLatin1()});
        server.respond(QStringLiteral("/hop5"), {301, {}, true, -1, "Location: x.exe\r\n"});
        server.respond(QStringLiteral("/loop"), {307, {}, true, -1, "Location: /loop\r\n"});
        for (const QString& start : {QStringLiteral("/hop1"), QStringLiteral("/hop1"), QStringLiteral("/loop")}) {
            UpdateDialog hops(updateTo(server.url(start)));
            hops.setPrompts(prompts);
            const int before = prompts->shown.size();
            hops.downloadButton()->click();
            QTRY_COMPARE(prompts->shown.size(), before + 1);
            QCOMPARE(prompts->shown.last().text, start == QStringLiteral("/loop")
                                                     ? QStringLiteral("下载失败: 重定向次数过多")
                                                     : QStringLiteral("安装包已保存到:\n%1").arg(hops.savedPath()));
        }
        QCOMPARE(TestSupport::fileBytes(downloads() + QStringLiteral("/hop1 (1)")), body);
        QVERIFY(InstallerDownload::isAllowedUrl(QUrl(QStringLiteral("https://h.example/a"))));
        QVERIFY(InstallerDownload::isAllowedUrl(QUrl(QStringLiteral("http://localhost:8/a"))));
        QVERIFY(InstallerDownload::isAllowedUrl(QUrl(QStringLiteral("http://[::1]:8/a"))));
    }

    // Text from the network is shown as written: a version or a reason
    // phrase holding markup neither draws it nor blows up the windows.
    void networkTextIsPlain()
    {
        const QString markup = QStringLiteral("<img src=\"x.png\" width=3000 height=3000>");
        UpdateInfo info = updateTo(QStringLiteral("https://h.example/s.exe"));
        info.version = QStringLiteral("0.2.0") + markup;
        UpdateDialog dialog(info);
        dialog.show();
        bool versionShown = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            QVERIFY(label->sizeHint().height() < 1000);
            versionShown = versionShown || label->text().endsWith(markup);
        }
        QVERIFY(versionShown);

        // The boxes the window shows its warnings, answers and questions in.
        ShellPrompts prompts;
        QList<Qt::TextFormat> formats;
        const auto answerBox = [&] {
            QTimer::singleShot(0, [&] {
                QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                formats << box->textFormat();
                QAbstractButton* answer = box->defaultButton();
                (answer ? answer : box->button(QMessageBox::Ok))->click();
            });
        };
        answerBox();
        prompts.warning(nullptr, QStringLiteral("下载失败"), QStringLiteral("下载失败: %1").arg(markup));
        answerBox();
        prompts.information(nullptr, QStringLiteral("检查更新"), QStringLiteral("网络错误: %1").arg(markup));
        answerBox();
        QCOMPARE(prompts.question(nullptr, QStringLiteral("q"), markup, QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No),
                 QMessageBox::No);
        QCOMPARE(formats, QList<Qt::TextFormat>(3, Qt::PlainText));
    }

    void aboutAndPreferences()
    {
        ShellProbeWindow window;
        QString text;
        QSize icon;
        Qt::TextFormat format = Qt::PlainText;
        window.prompts->onDialog = [&](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            text = box->text();
            icon = box->iconPixmap().size();
            format = box->textFormat();
            box->show();
            TestSupport::saveScreenshot(box->grab(), QStringLiteral("about-box.png"));
            return int(QDialog::Accepted);
        };
        window.menuActions().about->trigger();
        QCOMPARE(window.prompts->only(QStringLiteral("dialog")).title, QStringLiteral("关于卡德文Studio"));
        QCOMPARE(format, Qt::RichText);
        QCOMPARE(icon, QSize(64, 64));
        QVERIFY(text.contains(QStringLiteral("<p>版本 0.1.0</p>")));
        // The libraries this build links, not others.
        for (const char* linked : {"<b>Qt</b> — LGPL v3", "<b>FFmpeg</b>", "<b>LAME</b>", "<b>libmpg123</b>",
                                   "<b>libFLAC</b>", "<b>FluidSynth</b>", "<b>stb_vorbis</b>",
                                   "<b>RtAudio</b> — MIT License", "<b>RtMidi</b>", "<b>VST3 接口</b>"})
            QVERIFY2(text.contains(QString::fromUtf8(linked)), linked);
        for (const char* absent : {"iPlug2", "TSF", "dr_libs", "VST3 SDK"})
            QVERIFY2(!text.contains(QString::fromUtf8(absent)), absent);

        window.menuActions().preferences->trigger();
        const auto preferences = window.prompts->only(QStringLiteral("information"));
        QCOMPARE(preferences.title, QStringLiteral("偏好设置"));
        QCOMPARE(preferences.text, QStringLiteral("偏好设置对话框将在后续版本中实现。"));

        // The box as Qt shows it, for the picture.
        window.setPrompts(std::make_shared<ShellPrompts>());
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* box = QApplication::activeModalWidget();
            TestSupport::saveScreenshot(box->grab(), QStringLiteral("preferences-box.png"));
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        });
        window.menuActions().preferences->trigger();
    }
};

QTEST_MAIN(UpdateCheckTest)
#include "tst_UpdateCheck.moc"
