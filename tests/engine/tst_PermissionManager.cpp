// Microphone permission on this platform: granted at once, on the caller's thread.
#include "engine/devices/PermissionManager.h"

#include <QtTest/QtTest>

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace {

// What fn writes to standard output.
QByteArray standardOutputOf(const std::function<void()>& fn)
{
    QTemporaryFile file;
    if (!file.open())
        return {};
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    fn();
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

class PermissionManagerTest : public QObject {
    Q_OBJECT
private slots:
    void singleInstanceAlwaysGranted()
    {
        PermissionManager& first = PermissionManager::getInstance();
        QCOMPARE(&PermissionManager::getInstance(), &first);
        QVERIFY(first.checkMicrophonePermission());
    }

    void requestCallsBackBeforeReturning()
    {
        int calls = 0;
        bool granted = false;
        const QThread* thread = nullptr;
        const QByteArray printed = standardOutputOf([&] {
            PermissionManager::getInstance().requestMicrophonePermission([&](bool ok) {
                ++calls;
                granted = ok;
                thread = QThread::currentThread();
            });
            QCOMPARE(calls, 1); // already called when the request returns
        });
        QVERIFY(granted);
        QCOMPARE(thread, QThread::currentThread());
        QCOMPARE(printed, QByteArray("PermissionManager: Desktop - no permission needed\n"));
    }

    void requestWithoutCallbackOnlyPrints()
    {
        const QByteArray printed = standardOutputOf(
            [] { PermissionManager::getInstance().requestMicrophonePermission({}); });
        QCOMPARE(printed, QByteArray("PermissionManager: Desktop - no permission needed\n"));
    }
};

QTEST_GUILESS_MAIN(PermissionManagerTest)
#include "tst_PermissionManager.moc"
