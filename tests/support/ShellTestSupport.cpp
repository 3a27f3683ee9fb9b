#include "ShellTestSupport.h"

#include "app/StartUp.h"
#include "app/UpdateChecker.h"
#include "LocalHttpServer.h"

#include <QApplication>
#include <QSettings>
#include <QtTest/QtTest>

ShellProbeWindow::ShellProbeWindow()
{
    setPrompts(prompts);
    updateChecker->setUpdateUrl(LocalHttpServer::refusedUrl(QStringLiteral("/update.json")));
}

namespace ShellTestSupport {

void prepareApplication(const QTemporaryDir& settingsDir, bool styled)
{
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    StartUp::applyIdentity(*app);
    if (styled)
        StartUp::applyStyleSheet(*app);
    QVERIFY(QSettings().fileName().startsWith(settingsDir.path()));
}

} // namespace ShellTestSupport
