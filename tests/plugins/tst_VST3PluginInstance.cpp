// A plug-in instance against the test plug-ins built with the suite: what it
// reads from them, the calls it makes and their order, processing, MIDI,
// parameters, state files and the editor view, and broken modules.

#include "PluginTestSupport.h"

#include "plugins/VST3Module.h"
#include "plugins/VST3PluginInstance.h"

#include <QtTest/QtTest>

#include <cmath>
#include <dlfcn.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace PluginTestSupport;

namespace {

// Planar channels that process() takes as float**.
struct Channels {
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
    Channels(int channels, int frames, float value = 0.0f)
        : data(size_t(channels), std::vector<float>(size_t(frames), value))
    {
        for (auto& channel : data)
            pointers.push_back(channel.data());
    }
    float** get() { return pointers.data(); }
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray floatBytes(float value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), 4);
}

// Calls a test hook of the loaded test plug-in, as its editor would.
template <typename Hook, typename... Args>
bool callPluginHook(const char* name, Args... args)
{
    void* library = dlopen(binary("CdwGain").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return false;
    auto hook = reinterpret_cast<Hook*>(dlsym(library, name));
    const bool done = hook && hook(args...);
    dlclose(library);
    return done;
}

} // namespace

class VST3PluginInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void describesTheLoadedClass_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<bool>("instrument");
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("parameters");
        QTest::newRow("effect: the side input stays off") << "CdwGain" << "Cdw Gain"
                                                          << "CD000001111111112222222233333333" << false << 2 << 2;
        QTest::newRow("instrument") << "CdwSynth" << "Cdw Synth" << "CD000001111111112222222233333333" << true << 0
                                    << 0;
        QTest::newRow("two audio classes: the last") << "CdwTwoClasses" << "Cdw Gain B"
                                                     << "CD000002444444445555555566666666" << false << 2 << 2;
        QTest::newRow("single component") << "CdwSingleComponent" << "Cdw Single"
                                          << "CD000001111111112222222233333333" << false << 2 << 2;
    }

    void describesTheLoadedClass()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, name);
        QFETCH(QString, uid);
        QFETCH(bool, instrument);
        QFETCH(int, inputs);
        QFETCH(int, parameters);
        VST3PluginInstance instance;
        const std::string path = bundle(qPrintable(plugin));
        QVERIFY(instance.load(path, 48000, 256));
        const PluginInfo info = instance.getInfo();
        QCOMPARE(QString::fromStdString(info.name), name);
        QCOMPARE(info.vendor, std::string("Calderwyn Test"));
        QCOMPARE(QString::fromStdString(info.uid), uid);
        QCOMPARE(info.isInstrument, instrument);
        QCOMPARE(info.numInputChannels, inputs);
        QCOMPARE(info.numOutputChannels, 2);
        QCOMPARE(info.numParameters, parameters);
        QCOMPARE(info.path, path);
        QVERIFY(info.format.empty());
        QVERIFY(!instance.load(path, 48000, 256)); // already loaded
        instance.unload();
        QVERIFY(!isMapped(binary(qPrintable(plugin))));
    }

    void brokenModulesFailWithNothingLoaded_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("entered"); // ModuleEntry succeeded, so ModuleExit must follow
        QTest::newRow("ModuleEntry false") << "CdwNoEntry" << "error: ModuleEntry failed" << false;
        QTest::newRow("no factory export") << "CdwNoFactory" << "error: the library does not export GetPluginFactory"
                                           << false;
        QTest::newRow("no audio class") << "CdwNoAudioClass" << "VST3PluginInstance: No AudioEffect class found"
                                        << true;
        QTest::newRow("initialize fails") << "CdwInitFails" << "VST3PluginInstance: Failed to initialize IComponent"
                                          << true;
        QTest::newRow("null instance") << "CdwNullInstance" << "VST3PluginInstance: Failed to create IComponent"
                                       << true;
        QTest::newRow("throws") << "CdwThrows" << "VST3PluginInstance: Plugin failed while loading" << true;
        QTest::newRow("throws once initialised")
            << "CdwThrowsLate" << "VST3PluginInstance: Plugin failed while loading" << true;
        QTest::newRow("unresolved symbol") << "CdwUnresolved" << "undefined symbol: cdwSymbolNobodyDefines" << false;
    }

    void brokenModulesFailWithNothingLoaded()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, message);
        QFETCH(bool, entered);
        CallLog log;
        VST3PluginInstance instance;
        ErrorCapture errors;
        QVERIFY(!instance.load(bundle(qPrintable(plugin)), 44100, 512));
        const QString text = errors.text();
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY(!instance.isLoaded());
        QVERIFY(!isMapped(binary(qPrintable(plugin))));
        QCOMPARE(log.count("ModuleExit"), entered ? 1 : 0);
        QCOMPARE(log.count("component created"), log.count("component destroyed"));
        if (plugin == "CdwThrowsLate") // what was initialised is terminated before release
            QCOMPARE(log.missingInOrder({"setupProcessing", "controller terminate", "controller destroyed",
                                         "component terminate", "component destroyed"}),
                     QString());
        // The instance may be used again.
        QVERIFY(instance.load(bundle("CdwGain"), 44100, 512));
    }

    void badBundlePaths()
    {
        const QString root = dir.filePath(QStringLiteral("bad"));
        QVERIFY(QDir().mkpath(root + "/NoContents.vst3"));
        QVERIFY(QDir().mkpath(root + "/NoArch.vst3/Contents/i386-linux"));
        QVERIFY(QDir().mkpath(root + "/Text.vst3/Contents/x86_64-linux"));
        QVERIFY(writeFile(root + "/Text.vst3/Contents/x86_64-linux/Text.so", "not a library\n"));
        // A real library cut short (the loader would fault mapping it) and
        // one marked for another processor.
        QFile good(QString::fromStdString(binary("CdwGain")));
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray library = good.readAll();
        QVERIFY(QDir().mkpath(root + "/Cut.vst3/Contents/x86_64-linux"));
        QVERIFY(writeFile(root + "/Cut.vst3/Contents/x86_64-linux/Cut.so", library.left(library.size() / 3)));
        QByteArray arm = library;
        arm[18] = char(183); // e_machine: AArch64
        arm[19] = 0;
        QVERIFY(QDir().mkpath(root + "/Arm.vst3/Contents/x86_64-linux"));
        QVERIFY(writeFile(root + "/Arm.vst3/Contents/x86_64-linux/Arm.so", arm));
        const QList<QPair<QString, QString>> cases = {
            {root + "/Missing.vst3", "no such file or folder"},
            {root + "/NoContents.vst3", "no Contents folder"},
            {root + "/NoArch.vst3/", "no x86_64-linux folder"},
            {root + "/Text.vst3", "Text.so"},
            {root + "/Text.vst3/Contents/x86_64-linux/Text.so", "Text.so"},
            {root + "/Cut.vst3", "Cut.so: the file is cut short"},
            {root + "/Arm.vst3", "Arm.so: a library for another processor"},
        };
        for (const auto& [path, reason] : cases) {
            VST3PluginInstance instance;
            ErrorCapture errors;
            QVERIFY2(!instance.load(path.toStdString(), 44100, 512), qPrintable(path));
            const QString text = errors.text();
            QVERIFY2(text.contains("VST3PluginInstance: Failed to load module: " + path) && text.contains(reason),
                     qPrintable(text));
        }
        // A good bundle chosen with a trailing slash, or by its binary, loads.
        VST3PluginInstance slash;
        QVERIFY(slash.load(bundle("CdwGain") + "/", 44100, 512));
        QCOMPARE(slash.getInfo().name, std::string("Cdw Gain"));
        VST3PluginInstance direct;
        QVERIFY(direct.load(binary("CdwGain"), 44100, 512));
    }

    void callOrderThroughLoadActivateUnload()
    {
        CallLog log;
        {
            VST3PluginInstance instance;
            QVERIFY(instance.load(bundle("CdwGain"), 44100, 512));
            QVERIFY(instance.activate());
            QVERIFY(instance.activate()); // already active: no second call
            instance.unload();
            instance.unload();
        }
        const QString missing = log.missingInOrder({
            "ModuleEntry", "GetPluginFactory", "createInstance component A", "component initialize host",
            "createInstance controller", "controller initialize host", "controller setComponentHandler set",
            "component connect other", "controller connect", "getState gain=1.0000",
            "controller setComponentState gain", "activateBus audio in 0 1", "activateBus audio in 1 0",
            "activateBus audio out 0 1", "setupProcessing mode=0 size=0 max=512 rate=44100",
            "setActive 1", "setProcessing 1",
            "setProcessing 0", "setActive 0", "component disconnect", "controller disconnect",
            "controller setComponentHandler null", "controller terminate", "controller destroyed",
            "component terminate", "component destroyed", "factory destroyed", "ModuleExit"});
        QVERIFY2(missing.isEmpty(), qPrintable(missing + " in\n" + log.lines().join('\n')));
        QCOMPARE(log.count("setActive 1"), 1);
        QCOMPARE(log.count("component terminate"), 1);
    }

    void protocolOfSpecialPlugins()
    {
        CallLog log;
        {
            // The instrument's event input is switched on.
            VST3PluginInstance synth;
            QVERIFY(synth.load(bundle("CdwSynth"), 44100, 512));
            QCOMPARE(log.count("activateBus event in 0 1"), 1);
            QVERIFY(!synth.showEditor(nullptr)); // no controller
        }
        log.clear();
        {
            // A single component is neither connected to itself nor terminated twice.
            VST3PluginInstance single;
            QVERIFY(single.load(bundle("CdwSingleComponent"), 44100, 512));
            QVERIFY(single.activate());
        }
        QCOMPARE(log.count("component connect"), 0);
        QCOMPARE(log.count("component terminate"), 1);
        QCOMPARE(log.count("component setComponentHandler null"), 1);
        QCOMPARE(log.count("component destroyed"), 1);
        log.clear();
        {
            // A controller that fails to start is given back at once.
            VST3PluginInstance instance;
            QVERIFY(instance.load(bundle("CdwControllerFails"), 44100, 512));
            QCOMPARE(instance.getInfo().numParameters, 0);
            const QString missing = log.missingInOrder(
                {"controller initialize", "controller destroyed", "setupProcessing"});
            QVERIFY2(missing.isEmpty(), qPrintable(missing));
        }
        QCOMPARE(log.count("controller terminate"), 0);
    }

    void processing()
    {
        CallLog log;
        VST3PluginInstance gain;
        QVERIFY(gain.load(bundle("CdwGain"), 44100, 128));
        const QString state = dir.filePath("half.state");
        QVERIFY(writeFile(state, floatBytes(0.5f)));
        QVERIFY(gain.loadState(state.toStdString()));

        // Inactive: a copy; an instrument would give silence.
        Channels in(4, 300, 0.8f), out(4, 300, 0.1f);
        gain.process(in.get(), out.get(), 2, 300);
        QCOMPARE(out.data[0][299], 0.8f);
        QCOMPARE(out.data[2][0], 0.1f);
        QCOMPARE(log.count("process"), 0);
        VST3PluginInstance synth;
        QVERIFY(synth.load(bundle("CdwSynth"), 44100, 512));
        synth.process(in.get(), out.get(), 2, 300);
        QCOMPARE(out.data[1][10], 0.0f);
        QCOMPARE(out.data[2][10], 0.1f);

        // Active, 4 channels to a stereo plug-in: two reach it; 300 frames in
        // blocks of at most 128.
        QVERIFY(gain.activate());
        log.clear();
        gain.process(in.get(), out.get(), 4, 300);
        QCOMPARE(out.data[0][0], 0.4f);
        QCOMPARE(out.data[1][299], 0.4f);
        QCOMPARE(out.data[2][5], 0.1f);
        const QString rest = QStringLiteral(" ins=1 outs=1 in0=2 out0=2 events=0 aliased=0 state=2 rate=44100");
        QCOMPARE(log.lines().filter("process"), (QStringList{"process mode=0 size=0 n=128" + rest,
                                                             "process mode=0 size=0 n=128" + rest,
                                                             "process mode=0 size=0 n=44" + rest}));
        log.clear();
        gain.process(in.get(), out.get(), 4, 0);
        gain.process(in.get(), out.get(), 4, -5);
        QCOMPARE(log.count("process"), 0);

        // One channel given: the second of each side is scratch, never shared
        // between input and output; in place, the caller's own channels.
        Channels mono(1, 64, 1.0f), monoOut(1, 64);
        gain.process(mono.get(), monoOut.get(), 1, 64);
        QCOMPARE(monoOut.data[0][63], 0.5f);
        QVERIFY(log.lines().filter("process").last().contains("aliased=0"));
        gain.process(out.get(), out.get(), 2, 64);
        QVERIFY(log.lines().filter("process").last().contains("aliased=2"));
        QCOMPARE(out.data[0][0], 0.2f);
    }

    void parametersReachTheProcessor()
    {
        CallLog log;
        VST3PluginInstance gain;
        QVERIFY(gain.load(bundle("CdwGain"), 44100, 64));
        QCOMPARE(log.count("controller notify hello 42"), 1); // a message the host made
        gain.setParameter(0, 0.25f); // before activation: heard with the first block, once
        QVERIFY(gain.activate());
        Channels in(2, 100, 1.0f), out(2, 100);
        gain.process(in.get(), out.get(), 2, 100);
        QCOMPARE(out.data[1][99], 0.25f);
        QCOMPARE(log.count("parameter 100=0.2500 at 0"), 1);
        QCOMPARE(gain.getParameter(1), 0.125f); // reported back by the processor

        QVERIFY(callPluginHook<bool(uint32_t, double)>("CdwTestEdit", 100u, 0.75));
        gain.process(in.get(), out.get(), 2, 100);
        QCOMPARE(out.data[0][50], 0.75f);

        // A program loaded by the controller: only the values it moved follow.
        log.clear();
        QVERIFY(callPluginHook<bool(double)>("CdwTestLoadProgram", 0.5));
        gain.process(in.get(), out.get(), 2, 10);
        QCOMPARE(out.data[0][0], 0.5f);
        QCOMPARE(log.lines().filter("parameter ").join(','), QStringLiteral("parameter 100=0.5000 at 0"));

        // Clamped; NaN ignored.
        gain.setParameter(0, 7.0f);
        QCOMPARE(gain.getParameter(0), 1.0f);
        log.clear();
        gain.setParameter(0, -INFINITY);
        gain.setParameter(0, std::nanf(""));
        gain.process(in.get(), out.get(), 2, 10);
        QCOMPARE(log.lines().filter("parameter 100").join(','), QStringLiteral("parameter 100=0.0000 at 0"));

        // A state loaded after a value was set is not overridden by it.
        gain.setParameter(0, 0.9f);
        const QString state = dir.filePath("tenth.state");
        QVERIFY(writeFile(state, floatBytes(0.1f)));
        QVERIFY(gain.loadState(state.toStdString()));
        gain.process(in.get(), out.get(), 2, 10);
        QCOMPARE(out.data[0][0], 0.1f);

        // What an audio thread's block reports reaches the controller on its own thread.
        gain.setParameter(0, 0.5f);
        std::thread([&] { gain.process(in.get(), out.get(), 2, 64); }).join();
        QCOMPARE(gain.getParameter(1), 0.25f);
        QCOMPARE(log.count("controller setParamNormalized off the main thread"), 0);

        // Presets are regular files: a device reads without end, a FIFO blocks the open.
        QVERIFY(!gain.loadState("/dev/zero"));
        const QString fifo = dir.filePath("preset.fifo");
        QCOMPARE(mkfifo(qPrintable(fifo), 0600), 0);
        QVERIFY(!gain.loadState(fifo.toStdString()));
        QVERIFY(!gain.saveState(fifo.toStdString()));
        QVERIFY(!QFileInfo(fifo).isFile() && QFileInfo::exists(fifo));
    }

    void reopeningFromTwoThreads()
    {
        // ModuleExit comes before anyone enters again; a third thread failing
        // on another module keeps the registry busy, so closers wait.
        CallLog log;
        auto cycle = [](const char* plugin) {
            for (int i = 0; i < 600; ++i) {
                std::string error;
                auto module = VST3Module::open(binary(plugin), error);
            }
        };
        std::thread first(cycle, "CdwGain"), second(cycle, "CdwGain"), other(cycle, "CdwNoFactory");
        first.join();
        second.join();
        other.join();
        const QStringList calls = log.lines().filter(QRegularExpression("^Module(Entry|Exit)$"));
        QVERIFY(calls.size() % 2 == 0 && !calls.isEmpty());
        for (int i = 0; i < calls.size(); ++i)
            QVERIFY2(calls[i] == (i % 2 == 0 ? "ModuleEntry" : "ModuleExit"), qPrintable(QString::number(i)));
    }

    void notesAndMessages()
    {
        CallLog log;
        VST3PluginInstance synth;
        QVERIFY(synth.load(bundle("CdwSynth"), 44100, 64));
        QVERIFY(synth.activate());
        const unsigned char noteOn[] = {0x91, 60, 100};
        const unsigned char zeroVelocity[] = {0x90, 61, 0};
        const unsigned char control[] = {0xB0, 7, 100};
        const unsigned char shortNote[] = {0x92, 62};
        synth.sendMidiEvent(noteOn, 3);
        synth.sendMidiEvent(control, 3);
        synth.sendMidiEvent(shortNote, 2); // not read past its end
        synth.sendMidiEvent(zeroVelocity, 3);
        synth.sendMidiEvent(noteOn, 1);
        synth.sendMidiEvent(nullptr, 3);
        synth.sendNoteOn(3, 64, 0.25f);
        Channels out(2, 100, 9.0f);
        synth.process(nullptr, out.get(), 2, 100);
        QCOMPARE(log.lines().filter(QRegularExpression("^note")).join('|'),
                 QStringLiteral("noteOn bus=0 offset=0 ch=1 pitch=60 vel=0.7874 id=-1|"
                                "noteOff bus=0 offset=0 ch=0 pitch=61 vel=0.0000 id=-1|"
                                "noteOn bus=0 offset=0 ch=3 pitch=64 vel=0.2500 id=-1"));
        // The notes went with the first of the two blocks; the level holds.
        QCOMPARE(log.lines().filter("process").size(), 2);
        QVERIFY(log.lines().filter("process")[1].contains("events=0"));
        QCOMPARE(out.data[0][0], 0.25f);
        QCOMPARE(out.data[1][99], 0.25f);
    }

    void parametersAndState()
    {
        VST3PluginInstance gain;
        QVERIFY(gain.load(bundle("CdwGain"), 44100, 512));
        QCOMPARE(gain.getParameterCount(), 2);
        QCOMPARE(gain.getParameterName(0), std::string("Gain"));
        QCOMPARE(gain.getParameterName(1), std::string("Gre")); // "Größe" less its non-ASCII letters
        QCOMPARE(gain.getParameterName(2), std::string());
        QCOMPARE(gain.getParameterName(-1), std::string());
        gain.setParameter(1, 0.25f);
        QCOMPARE(gain.getParameter(1), 0.25f);
        QCOMPARE(gain.getParameter(7), 0.0f);

        // A state round trip through a file: exactly the component's bytes.
        const QString state = dir.filePath("gain.state");
        QVERIFY(writeFile(state, floatBytes(0.25f)));
        QVERIFY(gain.loadState(state.toStdString()));
        QCOMPARE(gain.getParameter(0), 0.25f); // the controller heard of it
        const QString saved = dir.filePath("saved.state");
        QVERIFY(gain.saveState(saved.toStdString()));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), floatBytes(0.25f));
        VST3PluginInstance other;
        QVERIFY(other.load(bundle("CdwGain"), 44100, 512));
        QVERIFY(other.loadState(saved.toStdString()));
        QVERIFY(other.activate());
        Channels in(2, 8, 1.0f), out(2, 8);
        other.process(in.get(), out.get(), 2, 8);
        QCOMPARE(out.data[1][7], 0.25f);

        // Refusals: a state the plug-in rejects, a missing file, a missing folder.
        const QString shortState = dir.filePath("short.state");
        QVERIFY(writeFile(shortState, "ab"));
        QVERIFY(!other.loadState(shortState.toStdString()));
        QVERIFY(!other.loadState(dir.filePath("none.state").toStdString()));
        QVERIFY(!other.saveState(dir.filePath("no/such/folder/x.state").toStdString()));

        // An instrument whose state is empty saves an empty file that loads.
        VST3PluginInstance synth;
        QVERIFY(synth.load(bundle("CdwSynth"), 44100, 512));
        const QString empty = dir.filePath("empty.state");
        QVERIFY(synth.saveState(empty.toStdString()));
        QCOMPARE(QFileInfo(empty).size(), 0);
        QVERIFY(synth.loadState(empty.toStdString()));
    }

    void hostileValuesAreBounded()
    {
        VST3PluginInstance hostile;
        QVERIFY(hostile.load(bundle("CdwHostile"), 44100, 512));
        const PluginInfo info = hostile.getInfo();
        QCOMPARE(info.name, std::string(64, 'H'));
        QCOMPARE(info.vendor, std::string(64, 'V'));
        QCOMPARE(info.numParameters, 0);
        QVERIFY(info.numInputChannels > 0 && info.numInputChannels <= 64 * 64);
        QCOMPARE(info.numOutputChannels, 2);
        QVERIFY(hostile.activate());
        Channels in(2, 512, 0.5f), out(2, 512);
        hostile.process(in.get(), out.get(), 2, 512);

        // An absurd state write is refused and the old file stays.
        const QString state = dir.filePath("hostile.state");
        QVERIFY(writeFile(state, "keep"));
        QVERIFY(!hostile.saveState(state.toStdString()));
        QFile file(state);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));

        // A view of negative size reports none.
        QVERIFY(hostile.showEditor(reinterpret_cast<void*>(0x42)));
        int width = 0, height = 0;
        QVERIFY(!hostile.getEditorSize(width, height));
    }

    void editorView()
    {
        CallLog log;
        VST3PluginInstance gain;
        QVERIFY(gain.load(bundle("CdwGain"), 44100, 512));
        // Headless: a view exists but is attached nowhere.
        QVERIFY(gain.showEditor(nullptr));
        QVERIFY(gain.isEditorOpen());
        QVERIFY(gain.isActive());
        QCOMPARE(log.count("controller createView editor"), 1);
        QCOMPARE(log.count("view attached"), 0);
        gain.hideEditor();
        QVERIFY(!gain.isEditorOpen());
        QCOMPARE(log.count("view removed"), 0);
        QCOMPARE(log.count("view destroyed"), 1);

        QVERIFY(gain.showEditor(reinterpret_cast<void*>(0x1234)));
        QCOMPARE(log.count("view attached 4660 X11EmbedWindowID"), 1);
        int width = 0, height = 0;
        QVERIFY(gain.getEditorSize(width, height));
        QCOMPARE(width, 400);
        QCOMPARE(height, 300);
        gain.unload(); // removes the view first
        QVERIFY(log.missingInOrder({"view removed", "view destroyed", "setActive 0"}).isEmpty());

        VST3PluginInstance zero;
        QVERIFY(zero.load(bundle("CdwZeroView"), 44100, 512));
        QVERIFY(zero.showEditor(reinterpret_cast<void*>(0x99)));
        QVERIFY(!zero.getEditorSize(width, height));
    }
};

QTEST_GUILESS_MAIN(VST3PluginInstanceTest)
#include "tst_VST3PluginInstance.moc"
