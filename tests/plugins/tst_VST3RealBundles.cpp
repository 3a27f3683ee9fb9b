// Real third-party VST3 bundles (Debian's zam-plugins under /usr/lib/vst3):
// they load, list their classes, process a sine, keep their state through a
// file, obey a parameter set through the host (against the LV2 builds of
// the same plug-ins run with the plain value) and leave nothing mapped when
// unloaded.

#include "Lv2ReferenceHost.h"
#include "PluginTestSupport.h"

#include "plugins/VST3Module.h"
#include "plugins/VST3PluginInstance.h"

#include <QtTest/QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
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

// Every key and plain value of the plug-in's saved state (these plug-ins
// write NUL-separated key and value texts).
QMap<QByteArray, double> savedValues(VST3PluginInstance& instance, const QString& path)
{
    QMap<QByteArray, double> values;
    QFile file(path);
    if (!instance.saveState(path.toStdString()) || !file.open(QIODevice::ReadOnly))
        return values;
    const QList<QByteArray> fields = file.readAll().split('\0');
    for (qsizetype at = 0; at + 1 < fields.size(); ++at) {
        bool ok = false;
        const double value = fields[at + 1].toDouble(&ok);
        if (ok && !fields[at].isEmpty())
            values.insert(fields[at], value);
    }
    return values;
}

int parameterIndex(VST3PluginInstance& instance, const QString& title)
{
    for (int i = 0; i < instance.getParameterCount(); ++i)
        if (QString::fromStdString(instance.getParameterName(i)) == title)
            return i;
    return -1;
}

// A tone that swells from near silence to full scale and back, so dynamics
// processors act on it at every level.
float referenceInput(int channel, int frame)
{
    const double t = frame / 44100.0;
    const double swell = 0.5 - 0.5 * std::cos(2.0 * M_PI * t / 0.25);
    return float(swell * std::sin(2.0 * M_PI * (channel == 0 ? 330.0 : 550.0) * t));
}

// Mono input through the plug-in in 512-frame blocks on another thread;
// `rendered` counts the blocks done.
std::thread renderElsewhere(VST3PluginInstance& instance, std::vector<float>& input, std::vector<float>& output,
                            std::atomic<int>& rendered, const std::atomic<bool>* setMeanwhile = nullptr)
{
    return std::thread([&, setMeanwhile] {
        for (size_t at = 0; at + 512 <= input.size(); at += 512) {
            // Past block 100 the value must have been set, however slowly the
            // setting thread was scheduled.
            while (setMeanwhile && at == 100 * 512 && !setMeanwhile->load())
                std::this_thread::yield();
            float* in = input.data() + at;
            float* out = output.data() + at;
            instance.process(&in, &out, 1, 512);
            rendered.store(int(at / 512) + 1);
        }
    });
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

    void parametersMatchTheLv2Build_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("setAfterBlocks"); // -1: before activation
        QTest::addColumn<bool>("inactive"); // deactivated around the setting
        const struct {
            const char* name;
            const char* title;
            float value;
        } cases[] = {
            {"ZamGEQ31", "Master Gain", 1.0f},    {"ZamGEQ31", "999Hz", 0.25f},
            {"ZamEQ2", "Boost/Cut 1", 0.9f},      {"ZamComp", "Threshold", 0.5f},
            {"ZamCompX2", "Threshold", 0.625f},   {"ZamGate", "Threshold", 0.5f},
            {"ZamTube", "Tube Drive", 0.5f},      {"ZaMaximX2", "Threshold", 0.5f},
            {"ZamHeadX2", "Azimuth", 0.5f},       {"ZamDynamicEQ", "Threshold", 0.5f},
            {"ZamTube", "Tone Stack Model", 0.5f}, {"ZamPhono", "Phono Filter Type", 0.25f},
            {"ZamTube", "Insane Boost", 1.0f},
        };
        // ZamVerb, whose instances take a second each to make (its impulse
        // response is resampled), is loaded, played and restored above.
        const struct {
            int after;
            bool inactive;
            const char* text;
        } moments[] = {{-1, false, "before activation"},
                       {0, false, "before the first block"},
                       {10, false, "between renders"},
                       {10, true, "while deactivated between renders"}};
        for (const auto& c : cases)
            for (const auto& moment : moments)
                // The two builds of ZamHeadX2 differ until the azimuth is first set.
                if (moment.after < 10 || QByteArray(c.name) != "ZamHeadX2")
                    QTest::addRow("%s %s, set %s", c.name, c.title, moment.text)
                        << c.name << c.title << c.value << moment.after << moment.inactive;
    }

    void parametersMatchTheLv2Build()
    {
        // The LV2 build of the same DSP, given the plain value of the range
        // its description states, sounds the same from the first sample.
        QFETCH(QString, name);
        QFETCH(QString, title);
        QFETCH(float, value);
        QFETCH(int, setAfterBlocks);
        QFETCH(bool, inactive);
        constexpr int kBlock = 512;
        const QString lv2Bundle = "/usr/lib/lv2/" + name + ".lv2";
        Lv2Reference::Plugin reference(lv2Bundle, name, 44100.0, kBlock);
        Lv2Reference::Plugin unchanged(lv2Bundle, name, 44100.0, kBlock);
        QVERIFY2(reference.isValid(), qPrintable(name));
        const Lv2Reference::Port* port = reference.control(title);
        QVERIFY(port);
        const float plain = port->minimum + value * (port->maximum - port->minimum);

        VST3PluginInstance instance;
        QVERIFY(instance.load((kFolder + '/' + name + ".vst3").toStdString(), 44100, kBlock));
        // The LV2 build starts from the values the VST3 build has (a few of
        // their stated defaults differ).
        const QMap<QByteArray, double> initial = savedValues(instance, dir.filePath(name + ".defaults.state"));
        for (const Lv2Reference::Port& control : reference.portList()) {
            if (control.control && control.input && initial.contains(control.symbol.toUtf8())) {
                reference.setControl(control.index, float(initial[control.symbol.toUtf8()]));
                unchanged.setControl(control.index, float(initial[control.symbol.toUtf8()]));
            }
        }
        const int index = parameterIndex(instance, title);
        QVERIFY(index >= 0);
        if (setAfterBlocks < 0) {
            instance.setParameter(index, value);
            reference.setControl(port->index, plain);
        }
        QVERIFY(instance.activate());
        const int channels = std::max(instance.inputChannelCount(), instance.outputChannelCount());
        const int compared = std::min<int>(instance.outputChannelCount(), int(reference.audioPorts(false).size()));
        QVERIFY(channels >= 1 && compared >= 1);

        // Per channel: input, ours, the reference's, the unchanged reference's.
        std::vector<std::vector<float>> buffers(size_t(4 * channels), std::vector<float>(kBlock));
        std::vector<float*> in, ours, theirs, unchangedOut;
        for (int c = 0; c < channels; ++c) {
            in.push_back(buffers[size_t(4 * c)].data());
            ours.push_back(buffers[size_t(4 * c + 1)].data());
            theirs.push_back(buffers[size_t(4 * c + 2)].data());
            unchangedOut.push_back(buffers[size_t(4 * c + 3)].data());
        }
        PluginTestSupport::ErrorCapture errors;
        double largest = 0.0, difference = 0.0, changeByValue = 0.0;
        for (int block = 0; block < 40; ++block) {
            if (block == setAfterBlocks) {
                if (inactive) {
                    instance.deactivate();
                    reference.restart();
                    unchanged.restart();
                }
                instance.setParameter(index, value);
                reference.setControl(port->index, plain);
                if (inactive)
                    QVERIFY(instance.activate());
            }
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < kBlock; ++i)
                    in[size_t(c)][i] = referenceInput(c, block * kBlock + i);
            instance.process(in.data(), ours.data(), channels, kBlock);
            const std::vector<const float*> constIn(in.begin(), in.end());
            reference.run(constIn, theirs, kBlock);
            unchanged.run(constIn, unchangedOut, kBlock);
            for (int c = 0; c < compared; ++c)
                for (int i = 0; i < kBlock; ++i) {
                    const double expected = theirs[size_t(c)][i];
                    largest = std::max(largest, std::fabs(expected));
                    difference = std::max(difference, std::fabs(expected - ours[size_t(c)][i]));
                    changeByValue = std::max(changeByValue, std::fabs(expected - unchangedOut[size_t(c)][i]));
                }
        }
        // The processor had somewhere to report to: no complaint per block.
        QVERIFY2(!errors.text().contains("nullptr"), qPrintable(errors.text()));
        QCOMPARE(instance.getParameter(index), value);
        // The value makes a difference that the comparison can see.
        QVERIFY2(changeByValue > 1e-3, qPrintable(QString::number(changeByValue)));
        QVERIFY2(difference <= 1e-5 * std::max(1.0, largest),
                 qPrintable(QString("largest difference %1 (signal peak %2)").arg(difference).arg(largest)));
        // The plug-in's own state holds the same plain value.
        const double kept = savedValues(instance, dir.filePath(name + ".lv2.state")).value(port->symbol.toUtf8(), 1e9);
        QVERIFY2(std::fabs(kept - plain) < 1e-3 * std::max(1.0, std::fabs(double(plain))),
                 qPrintable(QString("state %1, range gives %2").arg(kept).arg(plain)));
    }

    void parameterSetWhileAnotherThreadProcessesReachesTheSound()
    {
        // Set while another thread renders: every block after the one running
        // then sounds as the LV2 build given the value throughout.
        constexpr int kBlock = 512; // as renderElsewhere
        constexpr int kBlocks = 400;
        Lv2Reference::Plugin reference("/usr/lib/lv2/ZamGEQ31.lv2", "ZamGEQ31", 44100.0, kBlock);
        const Lv2Reference::Port* port = reference.control("Master Gain");
        QVERIFY(reference.isValid() && port);
        reference.setControl(port->index, port->maximum);
        VST3PluginInstance instance;
        QVERIFY(instance.load((kFolder + "/ZamGEQ31.vst3").toStdString(), 44100, kBlock));
        const int index = parameterIndex(instance, "Master Gain");
        QVERIFY(index >= 0 && instance.activate());
        QCOMPARE(instance.inputChannelCount(), 1);

        std::vector<float> input(size_t(kBlock) * kBlocks), ours(input.size()), theirs(input.size());
        for (size_t i = 0; i < input.size(); ++i)
            input[i] = referenceInput(0, int(i));
        std::atomic<int> rendered{0};
        std::atomic<bool> valueSet{false};
        std::thread audio = renderElsewhere(instance, input, ours, rendered, &valueSet);
        while (rendered.load() < 50)
            std::this_thread::yield();
        instance.setParameter(index, 1.0f);
        const int runningThen = rendered.load();
        valueSet = true;
        audio.join();
        QVERIFY2(runningThen < kBlocks - 10, "the renderer finished before the value was set");
        double difference = 0.0;
        for (size_t at = 0; at < input.size(); at += kBlock) {
            reference.run({input.data() + at}, {theirs.data() + at}, kBlock);
            for (size_t i = at; i < at + kBlock && at >= size_t(runningThen + 1) * kBlock; ++i)
                difference = std::max(difference, double(std::fabs(ours[i] - theirs[i])));
        }
        QVERIFY2(difference < 1e-5, qPrintable(QString::number(difference)));
    }

    void reportedValuesReachTheController()
    {
        // The gain reduction ZamComp reports while another thread processes
        // reads back through the controller as the LV2 build's meter shows it.
        constexpr int kBlock = 512; // as renderElsewhere
        Lv2Reference::Plugin reference("/usr/lib/lv2/ZamComp.lv2", "ZamComp", 44100.0, kBlock);
        const Lv2Reference::Port* threshold = reference.control("Threshold");
        const Lv2Reference::Port* meter = reference.control("Gain Reduction", false);
        QVERIFY(reference.isValid() && threshold && meter);
        reference.setControl(threshold->index, -20.0f);
        VST3PluginInstance instance;
        QVERIFY(instance.load((kFolder + "/ZamComp.vst3").toStdString(), 44100, kBlock));
        const int meterIndex = parameterIndex(instance, "Gain Reduction");
        QVERIFY(meterIndex >= 0);
        instance.setParameter(parameterIndex(instance, "Threshold"), 0.75f);
        QVERIFY(instance.activate());
        std::vector<float> input(kBlock * 20), output(input.size()), theirs(input.size());
        for (size_t i = 0; i < input.size(); ++i)
            input[i] = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * double(i) / 44100.0));
        std::atomic<int> rendered{0};
        renderElsewhere(instance, input, output, rendered).join();
        for (size_t at = 0; at < input.size(); at += kBlock)
            reference.run({input.data() + at}, {theirs.data() + at}, kBlock);
        const float reduction = reference.controlValue(meter->index);
        // Within the meter's range, which the VST3 build clamps to.
        QVERIFY2(reduction > 1.0f && reduction < meter->maximum, qPrintable(QString::number(reduction)));
        const float shown = instance.getParameter(meterIndex) * (meter->maximum - meter->minimum) + meter->minimum;
        QVERIFY2(std::fabs(shown - reduction) < 1e-3f,
                 qPrintable(QString("controller %1 dB, LV2 meter %2 dB").arg(shown).arg(reduction)));
    }

    void programChangeReachesTheProcessor()
    {
        // The controller loads the last program (threshold below 0 dB, the
        // default's is 0 dB); the processor takes on what it moved.
        VST3PluginInstance compressor;
        QVERIFY(compressor.load((kFolder + "/ZamComp.vst3").toStdString(), 44100, 512));
        QVERIFY(compressor.activate());
        compressor.setParameter(parameterIndex(compressor, "Current Program"), 1.0f);
        processSine(compressor);
        const double threshold = savedValues(compressor, dir.filePath("program.state")).value("thr", 0.0);
        QVERIFY2(threshold < -1.0, qPrintable(QString::number(threshold)));
    }

    void readOnlyParametersAreNotWritten()
    {
        // ZamGEQ31's first two parameters are its own buffer size and rate:
        // a write is refused and the plug-in keeps running at its rate.
        VST3PluginInstance instance;
        QVERIFY(instance.load((kFolder + "/ZamGEQ31.vst3").toStdString(), 44100, 512));
        PluginTestSupport::ErrorCapture errors;
        for (int index : {0, 1}) {
            const float before = instance.getParameter(index);
            QVERIFY(!instance.setParameter(index, 0.0f));
            QCOMPARE(instance.getParameter(index), before);
        }
        QVERIFY(instance.activate());
        const std::vector<float> output = processSine(instance);
        QVERIFY(std::any_of(output.begin(), output.end(), [](float v) { return std::fabs(v) > 0.1f; }));
        QVERIFY2(!errors.text().contains("assertion"), qPrintable(errors.text()));
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
