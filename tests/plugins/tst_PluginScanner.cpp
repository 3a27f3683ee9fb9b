// The folder scan for VST3 bundles on temporary folders: names, vendors from
// Info.plist, nested bundles, which names count, the default folders and
// link loops.

#include "plugins/AudioPluginBridge.h"
#include "plugins/PluginScanner.h"

#include <QtTest/QtTest>

#include <unistd.h>

namespace {

bool makeBundle(const QString& path, const QByteArray& plist = {})
{
    if (!QDir().mkpath(path + "/Contents/x86_64-linux"))
        return false;
    if (plist.isNull())
        return true;
    QFile file(path + "/Contents/Info.plist");
    return file.open(QIODevice::WriteOnly) && file.write(plist) == plist.size();
}

QStringList names(const std::vector<PluginInfo>& found)
{
    QStringList out;
    for (const PluginInfo& info : found)
        out << QString::fromStdString(info.name);
    out.sort();
    return out;
}

} // namespace

class PluginScannerTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void describesBundles()
    {
        const QString root = dir.filePath("describe");
        QVERIFY(makeBundle(root + "/Reverb.vst3",
                           "<plist><dict><key>CFBundleName</key><string>x</string>"
                           "<vendor>Acme</vendor></dict></plist>"));
        QVERIFY(makeBundle(root + "/Plain.vst3"));
        QVERIFY(makeBundle(root + "/NoVendor.vst3", "<plist><dict/></plist>"));
        PluginScanner scanner;
        const std::vector<PluginInfo> found = scanner.scan(root.toStdString());
        QCOMPARE(names(found), (QStringList{"NoVendor", "Plain", "Reverb"}));
        for (const PluginInfo& info : found) {
            QCOMPARE(info.uid, info.name);
            QCOMPARE(info.format, std::string("vst3"));
            QCOMPARE(info.numInputChannels, 2);
            QCOMPARE(info.numOutputChannels, 2);
            QVERIFY(!info.isInstrument);
            QCOMPARE(info.vendor, std::string(info.name == "Reverb" ? "Acme" : ""));
            QCOMPARE(QString::fromStdString(info.path), root + "/" + QString::fromStdString(info.name) + ".vst3");
        }
        // The same folder scanned twice gives the same list in the same order.
        const std::vector<PluginInfo> again = scanner.scan(root.toStdString());
        QCOMPARE(again.size(), found.size());
        for (size_t i = 0; i < found.size(); ++i)
            QCOMPARE(again[i].path, found[i].path);
        // A file inside a bundle takes the bundle's Info.plist.
        QCOMPARE(scanner.parseVST3Plugin((root + "/Reverb.vst3/Contents/x86_64-linux/Reverb.so").toStdString()).vendor,
                 std::string("Acme"));
    }

    void whichNamesCountAndWhereTheWalkGoes()
    {
        PluginScanner scanner;
        QVERIFY(scanner.isValidPlugin("/x/Big.VST3"));
        QVERIFY(scanner.isValidPlugin("a.vst3"));
        QVERIFY(!scanner.isValidPlugin("/x/Old.vst"));
        QVERIFY(!scanner.isValidPlugin("vst3"));
        QVERIFY(!scanner.isValidPlugin("/x/Odd.vst3x"));

        const QString root = dir.filePath("walk");
        QVERIFY(makeBundle(root + "/Vendor/Sub/Deep.vst3"));
        QVERIFY(makeBundle(root + "/Big.VST3"));
        QVERIFY(makeBundle(root + "/Old.vst"));
        QVERIFY(makeBundle(root + "/Odd.vst3x"));
        QVERIFY(QDir().mkpath(root + "/vst3"));
        // A link back up the tree ends the walk's way down; a linked bundle is listed.
        QVERIFY(makeBundle(dir.filePath("elsewhere/Linked.vst3")));
        QCOMPARE(symlink(qPrintable(root), qPrintable(root + "/Vendor/loop")), 0);
        QCOMPARE(symlink(qPrintable(dir.filePath("elsewhere/Linked.vst3")), qPrintable(root + "/Linked.vst3")), 0);
        const std::vector<PluginInfo> found = scanner.scan(root.toStdString());
        QCOMPARE(names(found), (QStringList{"Big", "Deep", "Linked"}));

        std::vector<PluginInfo> results;
        scanner.scanDirectory(dir.filePath("missing").toStdString(), results);
        QVERIFY(results.empty());
    }

    void defaultFolders()
    {
        const QByteArray oldHome = qgetenv("HOME");
        const QString home = dir.filePath("home");
        qputenv("HOME", home.toLocal8Bit());
        QVERIFY(makeBundle(home + "/.vst3/Mine.vst3", "<vendor>Me</vendor>"));
        PluginScanner scanner;
        const std::vector<std::string> paths = scanner.getDefaultSearchPaths();
        QVERIFY(std::is_sorted(paths.begin(), paths.end()));
        QVERIFY(std::find(paths.begin(), paths.end(), (home + "/.vst3").toStdString()) != paths.end());
        QVERIFY(std::find(paths.begin(), paths.end(), "/usr/lib/vst3") != paths.end());
        QVERIFY(std::find(paths.begin(), paths.end(), "/usr/local/lib/vst3") != paths.end());

        AudioPluginBridge bridge;
        const std::vector<PluginInfo> found = bridge.scanPlugins("");
        qputenv("HOME", oldHome);
        QVERIFY(names(found).contains("Mine"));
        QCOMPARE(bridge.getScannedPlugins().size(), found.size());
        QVERIFY(bridge.scanPlugins(dir.filePath("missing").toStdString()).empty());
        QVERIFY(bridge.getScannedPlugins().empty());
    }
};

QTEST_GUILESS_MAIN(PluginScannerTest)
#include "tst_PluginScanner.moc"
