// Real third-party VST3 bundles (Debian's zam-plugins under /usr/lib/vst3):
// they load, list their classes, process a sine, keep their state through a
// file and leave nothing mapped when unloaded.

#include "PluginTestSupport.h"

#include "plugins/VST3Module.h"
#include "plugins/VST3PluginInstance.h"

#include <QtTest/QtTest>

#include <cmath>
#include <vector>

namespace {

const QString kFolder = QStringLiteral("/usr/lib/vst3");

struct Block {
    std::vector<float> left, right;
    float* pointers[2];
    explicit Block(int frames, bool sine)
        : left(size_t(frames)), right(size_t(frames))
    {
        for (int i = 0; sine && i < frames; ++i)
            left[size_t(i)] = right[size_t(i)] = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * i / 44100.0));
        pointers[0] = left.data();
        pointers[1] = right.data();
    }
};

// A second of a sine through the instance, in 512-frame blocks; the output.
std::vector<float> processSine(VST3PluginInstance& instance)
{
    std::vector<float> result;
    for (int block = 0; block < 86; ++block) {
        Block in(512, true), out(512, false);
        instance.process(in.pointers, out.pointers, 2, 512);
        result.insert(result.end(), out.left.begin(), out.left.end());
        result.insert(result.end(), out.right.begin(), out.right.end());
    }
    return result;
}

} // namespace

class VST3RealBundlesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(kFolder + "/ZamComp.vst3")) {
            if (qEnvironmentVariableIntValue("CDW_REQUIRE_SERVERS") == 1)
                QFAIL("zam-plugins is not installed (scripts/install-deps.sh --tests)");
            QSKIP("needs Debian's zam-plugins under /usr/lib/vst3");
        }
    }

    void loadProcessSaveRestoreUnload_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("restores");
        // ZamAutoSat has no state: it writes a lone zero byte, which its own
        // setState then refuses for want of an end mark.
        for (const QString& name : QDir(kFolder).entryList({"*.vst3"}))
            QTest::newRow(qPrintable(name)) << name.chopped(5) << (name != "ZamAutoSat.vst3");
    }

    void loadProcessSaveRestoreUnload()
    {
        QFETCH(QString, name);
        QFETCH(bool, restores);
        const std::string path = (kFolder + '/' + name + ".vst3").toStdString();
        std::string error;
        const std::string binary = VST3Module::binaryPath(path, error);
        QVERIFY2(!binary.empty(), error.c_str());
        const QString state = dir.filePath(name + ".state");
        std::vector<float> first;
        {
            VST3PluginInstance instance;
            QVERIFY(instance.load(path, 44100, 512));
            const PluginInfo info = instance.getInfo();
            QVERIFY(!info.name.empty());
            QCOMPARE(info.uid.size(), size_t(32));
            QVERIFY(!info.isInstrument);
            QVERIFY(info.numOutputChannels >= 1);
            QVERIFY(info.numParameters > 0);
            QVERIFY(!instance.getParameterName(0).empty());
            QVERIFY(instance.activate());
            first = processSine(instance);
            double energy = 0.0;
            for (float v : first) {
                QVERIFY(std::isfinite(v));
                energy += double(v) * v;
            }
            QVERIFY2(energy > 1.0, qPrintable(QString::number(energy)));
            QVERIFY(instance.saveState(state.toStdString()));
            QVERIFY(QFileInfo(state).size() > (restores ? 1 : 0));
            QCOMPARE(instance.loadState(state.toStdString()), restores);
            instance.unload();
            QVERIFY(!PluginTestSupport::isMapped(binary));
        }
        // A fresh instance given the saved state sounds the same.
        VST3PluginInstance restored;
        QVERIFY(restored.load(path, 44100, 512));
        QCOMPARE(restored.loadState(state.toStdString()), restores);
        QVERIFY(restored.activate());
        const std::vector<float> second = processSine(restored);
        QCOMPARE(second.size(), first.size());
        double difference = 0.0;
        for (size_t i = 0; i < first.size(); ++i)
            difference = std::max(difference, double(std::fabs(first[i] - second[i])));
        QVERIFY2(difference < 1e-4, qPrintable(QString::number(difference)));
    }

    void classesOfAModule()
    {
        std::string error;
        auto module = VST3Module::open((kFolder + "/ZamEQ2.vst3").toStdString(), error);
        QVERIFY2(module, error.c_str());
        QCOMPARE(module->name(), std::string("ZamEQ2"));
        bool audio = false;
        for (const VST3ClassInfo& info : module->classInfos())
            audio = audio || info.category == "Audio Module Class";
        QVERIFY(audio);
        // Opening the same binary again shares the module.
        auto again = VST3Module::open((kFolder + "/ZamEQ2.vst3/Contents/x86_64-linux/ZamEQ2.so").toStdString(), error);
        QCOMPARE(again.get(), module.get());
        const std::string binary = module->binary();
        module.reset();
        QVERIFY(PluginTestSupport::isMapped(binary));
        again.reset();
        QVERIFY(!PluginTestSupport::isMapped(binary));
    }
};

QTEST_GUILESS_MAIN(VST3RealBundlesTest)
#include "tst_VST3RealBundles.moc"
