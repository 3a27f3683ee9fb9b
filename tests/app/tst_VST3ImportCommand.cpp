// The VST3 import command through its dialog and message-box seams, and the
// bundle dialog that lets a *.vst3 folder be chosen.

#include "TestSupport.h"

#include "app/StartUp.h"
#include "app/VST3ImportCommand.h"
#include "plugins/AudioPluginBridge.h"
#include "plugins/VST3PluginInstance.h"
#include "plugins/ui/VST3BundleDialog.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

QString testBundle(const char* name)
{
    return QString::fromLocal8Bit(qgetenv("CDW_BINARY_DIR")) + "/testplugins/" + name + ".vst3";
}

} // namespace

class VST3ImportCommandTest : public QObject {
    Q_OBJECT

    struct Run {
        QStringList overlay;
        QStringList warnings;
        QStringList status;
    };

    // The command on the given bridge, loading a path as if chosen.
    static int runCommand(AudioPluginBridge* bridge, const QString& chosen, Run& run)
    {
        CommandFeedback feedback;
        feedback.showLoading = [&](const QString& text) { run.overlay << text; };
        feedback.hideLoading = [&] { run.overlay << "hidden"; };
        feedback.warn = [&](const QString& title, const QString& text) { run.warnings << title + ": " + text; };
        feedback.showStatus = [&](const QString& text, int ms) { run.status << text + " " + QString::number(ms); };
        VST3ImportCommand command(feedback, [bridge] { return bridge; }, nullptr);
        return command.load(chosen);
    }

private slots:
    void initTestCase()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyIdentity(*app);
        StartUp::applyStyleSheet(*app);
    }

    void loadsAndActivatesTheChosenBundle()
    {
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        Run run;
        const int id = runCommand(&bridge, testBundle("CdwGain"), run);
        QCOMPARE(id, 0);
        QVERIFY(bridge.getPluginInstance(id)->isActive());
        QCOMPARE(run.overlay, (QStringList{"加载VST3插件...", "hidden"}));
        QCOMPARE(run.status, QStringList{"已加载VST3插件: CdwGain.vst3 5000"});
        QVERIFY(run.warnings.isEmpty());
    }

    void failuresLoadNothing()
    {
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        Run broken;
        const QString path = testBundle("CdwNoEntry");
        QCOMPARE(runCommand(&bridge, path, broken), -1);
        QCOMPARE(broken.warnings, QStringList{"加载失败: 无法加载插件: " + path + "\nModuleEntry failed"});

        // A library needing an undefined symbol is refused with the reason.
        Run unresolved;
        const QString needy = testBundle("CdwUnresolved");
        QCOMPARE(runCommand(&bridge, needy, unresolved), -1);
        QCOMPARE(unresolved.warnings.size(), 1);
        QVERIFY2(unresolved.warnings[0].startsWith("加载失败: 无法加载插件: " + needy + "\n")
                     && unresolved.warnings[0].contains("undefined symbol: cdwSymbolNobodyDefines"),
                 qPrintable(unresolved.warnings[0]));
        QCOMPARE(broken.overlay.last(), QStringLiteral("hidden"));
        QVERIFY(bridge.loadedPluginIds().empty());

        // Loaded but refusing to activate: unloaded again, reported as a failure.
        qputenv("CDW_TEST_PLUGIN_REFUSE_ACTIVE", "1");
        Run refused;
        const QString gain = testBundle("CdwGain");
        const int refusedId = runCommand(&bridge, gain, refused);
        qunsetenv("CDW_TEST_PLUGIN_REFUSE_ACTIVE");
        QCOMPARE(refusedId, -1);
        QCOMPARE(refused.warnings, QStringList{"加载失败: 无法加载插件: " + gain});
        QVERIFY(refused.status.isEmpty());
        QCOMPARE(refused.overlay.last(), QStringLiteral("hidden"));
        QVERIFY(bridge.loadedPluginIds().empty());

        // A project at a rate plug-ins cannot run at (one sample a second).
        AudioPluginBridge slow;
        QVERIFY(!slow.initialize(1, 512));
        Run rate;
        QCOMPARE(runCommand(&slow, gain, rate), -1);
        QCOMPARE(rate.warnings, QStringList{"加载失败: 无法加载插件: " + gain +
                                            "\nplug-ins cannot run at 1 Hz with blocks of 512 frames"});

        Run noBridge;
        QCOMPARE(runCommand(nullptr, testBundle("CdwGain"), noBridge), -1);
        QCOMPARE(noBridge.warnings, QStringList{"错误: 插件桥接未初始化"});
        QCOMPARE(noBridge.overlay.last(), QStringLiteral("hidden"));

        Run cancelled;
        QCOMPARE(runCommand(&bridge, QString(), cancelled), -1);
        QVERIFY(cancelled.overlay.isEmpty() && cancelled.warnings.isEmpty());
    }

    void dialogChoosesBundleFolders()
    {
        QTemporaryDir dir;
        const QString bundle = dir.filePath("Reverb.vst3");
        QVERIFY(QDir().mkpath(bundle + "/Contents/x86_64-linux"));
        QVERIFY(QDir().mkpath(dir.filePath("Presets")));
        QFile so(bundle + "/Contents/x86_64-linux/Reverb.so");
        QVERIFY(so.open(QIODevice::WriteOnly));
        so.close();

        VST3BundleDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("导入VST3插件"));
        QCOMPARE(dialog.nameFilters(), (QStringList{"VST3 插件 (*.vst3)", "所有文件 (*)"}));
        dialog.setDirectory(dir.path());
        dialog.resize(760, 460);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const auto* files = dialog.findChild<QAbstractItemView*>("listView");
        QVERIFY(files);
        QTRY_COMPARE(files->model()->rowCount(files->rootIndex()), 2);
        QVERIFY(TestSupport::saveScreenshot(dialog.grab(), "vst3-import-dialog.png"));

        // Opening a highlighted bundle folder chooses it rather than entering it.
        emit dialog.currentChanged(bundle);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosenPath(), bundle);
        // So does its name typed in.
        VST3BundleDialog typed;
        typed.setDirectory(dir.path());
        typed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&typed));
        typed.findChild<QLineEdit*>("fileNameEdit")->setText("Reverb.vst3");
        typed.accept();
        QCOMPARE(typed.chosenPath(), bundle);

        // A plain folder is entered; the library inside a bundle is a file like any other.
        VST3BundleDialog other;
        other.setDirectory(dir.path());
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        emit other.currentChanged(dir.filePath("Presets"));
        other.accept();
        QVERIFY(other.isVisible());
        QVERIFY(other.chosenPath().isEmpty());
        other.selectNameFilter("所有文件 (*)");
        other.findChild<QLineEdit*>("fileNameEdit")->setText(so.fileName());
        other.accept();
        QCOMPARE(other.result(), int(QDialog::Accepted));
        QCOMPARE(other.chosenPath(), so.fileName());
        QVERIFY(VST3BundleDialog::isBundleFolder(dir.filePath("Reverb.vst3")));
        QVERIFY(!VST3BundleDialog::isBundleFolder(so.fileName()));
    }
};

QTEST_MAIN(VST3ImportCommandTest)
#include "tst_VST3ImportCommand.moc"
