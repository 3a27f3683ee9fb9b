// The bridge's C interface, loaded with dlopen as a foreign program would:
// what the library exports, the record it fills, blocks of every shape and
// handles that do not name a bridge.

#include "PluginTestSupport.h"
#include "TestSupport.h"

#include "plugins/capi/PluginBridgeC.h"

#include <QtTest/QtTest>

#include <atomic>
#include <climits>
#include <cmath>
#include <dlfcn.h>
#include <sys/stat.h>
#include <random>
#include <thread>
#include <vector>

using namespace PluginTestSupport;

namespace {

// The library's functions, looked up by name.
struct Api {
    void* library = nullptr;
#define CDW_FUNCTION(name) decltype(&::name) name = nullptr;
    CDW_FUNCTION(create_bridge)
    CDW_FUNCTION(destroy_bridge)
    CDW_FUNCTION(bridge_initialize)
    CDW_FUNCTION(bridge_shutdown)
    CDW_FUNCTION(bridge_get_plugin_count)
    CDW_FUNCTION(bridge_get_plugin_info)
    CDW_FUNCTION(bridge_scan_plugins)
    CDW_FUNCTION(bridge_get_scanned_plugin_count)
    CDW_FUNCTION(bridge_get_scanned_plugin_info)
    CDW_FUNCTION(bridge_load_plugin)
    CDW_FUNCTION(bridge_unload_plugin)
    CDW_FUNCTION(bridge_activate_plugin)
    CDW_FUNCTION(bridge_deactivate_plugin)
    CDW_FUNCTION(bridge_set_parameter)
    CDW_FUNCTION(bridge_get_parameter)
    CDW_FUNCTION(bridge_process)
    CDW_FUNCTION(bridge_save_preset)
    CDW_FUNCTION(bridge_load_preset)
    CDW_FUNCTION(bridge_show_editor)
    CDW_FUNCTION(bridge_hide_editor)
    CDW_FUNCTION(bridge_is_editor_open_by_id)
    CDW_FUNCTION(bridge_add_plugin_to_track)
    CDW_FUNCTION(bridge_remove_plugin_from_track)
    CDW_FUNCTION(bridge_set_track_plugin_bypass)
    CDW_FUNCTION(bridge_process_track)
    CDW_FUNCTION(bridge_clear_track_plugins)
    CDW_FUNCTION(bridge_schedule_midi_sequence)
    CDW_FUNCTION(bridge_render_offline)
#undef CDW_FUNCTION
};

QString libraryPath()
{
    return QString::fromLocal8Bit(qgetenv("CDW_BINARY_DIR")) + QStringLiteral("/libcalderwynbridge.so");
}

const QStringList kExports = {
    "create_bridge", "destroy_bridge", "bridge_initialize", "bridge_shutdown", "bridge_get_plugin_count",
    "bridge_get_plugin_info", "bridge_scan_plugins", "bridge_get_scanned_plugin_count",
    "bridge_get_scanned_plugin_info", "bridge_load_plugin", "bridge_unload_plugin", "bridge_activate_plugin",
    "bridge_deactivate_plugin", "bridge_set_parameter", "bridge_get_parameter", "bridge_process",
    "bridge_save_preset", "bridge_load_preset", "bridge_show_editor", "bridge_hide_editor",
    "bridge_is_editor_open_by_id", "bridge_add_plugin_to_track", "bridge_remove_plugin_from_track",
    "bridge_set_track_plugin_bypass", "bridge_process_track", "bridge_clear_track_plugins",
    "bridge_get_program_count", "bridge_set_program", "bridge_get_current_program", "bridge_is_editor_open",
    "bridge_render_offline", "bridge_schedule_midi_sequence", "bridge_hide_editor_window", "bridge_send_note_on",
    "bridge_send_note_off", "bridge_stop_midi_sequence"};

} // namespace

class PluginBridgeCTest : public QObject {
    Q_OBJECT

    Api api;
    QTemporaryDir dir;

    // The gain plug-in loaded, active, at half gain: its id, or -1.
    int loadHalfGain(BridgeHandle h)
    {
        const int id = api.bridge_load_plugin(h, bundle("CdwGain").c_str());
        const bool ready = id >= 0 && api.bridge_activate_plugin(h, id) == 1 && api.bridge_set_parameter(h, id, 0, 0.5f) == 1;
        return ready ? id : -1;
    }

    // A stereo block of 0.8 through the bridge, into an output filled with 9.
    std::vector<float> processed(BridgeHandle h)
    {
        std::vector<float> input(2 * 64, 0.8f), output(2 * 64, 9.0f);
        BridgeAudioBuffer in{input.data(), 2, 64};
        BridgeAudioBuffer out{output.data(), 2, 64};
        api.bridge_process(h, &in, &out);
        return output;
    }

private slots:
    void initTestCase()
    {
        api.library = dlopen(qPrintable(libraryPath()), RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(api.library, dlerror());
#define CDW_LOOKUP(name)                                                            \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(api.library, #name));     \
    QVERIFY2(api.name, #name);
        CDW_LOOKUP(create_bridge)
        CDW_LOOKUP(destroy_bridge)
        CDW_LOOKUP(bridge_initialize)
        CDW_LOOKUP(bridge_shutdown)
        CDW_LOOKUP(bridge_get_plugin_count)
        CDW_LOOKUP(bridge_get_plugin_info)
        CDW_LOOKUP(bridge_scan_plugins)
        CDW_LOOKUP(bridge_get_scanned_plugin_count)
        CDW_LOOKUP(bridge_get_scanned_plugin_info)
        CDW_LOOKUP(bridge_load_plugin)
        CDW_LOOKUP(bridge_unload_plugin)
        CDW_LOOKUP(bridge_activate_plugin)
        CDW_LOOKUP(bridge_deactivate_plugin)
        CDW_LOOKUP(bridge_set_parameter)
        CDW_LOOKUP(bridge_get_parameter)
        CDW_LOOKUP(bridge_process)
        CDW_LOOKUP(bridge_save_preset)
        CDW_LOOKUP(bridge_load_preset)
        CDW_LOOKUP(bridge_show_editor)
        CDW_LOOKUP(bridge_hide_editor)
        CDW_LOOKUP(bridge_is_editor_open_by_id)
        CDW_LOOKUP(bridge_add_plugin_to_track)
        CDW_LOOKUP(bridge_remove_plugin_from_track)
        CDW_LOOKUP(bridge_set_track_plugin_bypass)
        CDW_LOOKUP(bridge_process_track)
        CDW_LOOKUP(bridge_clear_track_plugins)
        CDW_LOOKUP(bridge_schedule_midi_sequence)
        CDW_LOOKUP(bridge_render_offline)
#undef CDW_LOOKUP
    }

    void exportsExactlyTheInterface()
    {
        QByteArray symbols;
        QVERIFY(TestSupport::runCommand("nm", {"-D", "--defined-only", libraryPath()}, &symbols));
        QStringList exported;
        for (const QByteArray& line : symbols.split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() == 3 && (fields[1] == "T" || fields[1] == "D" || fields[1] == "B"))
                exported << QString::fromLatin1(fields[2]);
        }
        exported.sort();
        QStringList expected = kExports;
        expected.sort();
        QCOMPARE(exported, expected);
        QCOMPARE(sizeof(BridgePluginInfo), size_t(1332));
        QCOMPARE(offsetof(BridgePluginInfo, format), size_t(1280));
        QCOMPARE(offsetof(BridgePluginInfo, isInstrument), size_t(1328));
        QCOMPARE(sizeof(BridgeAudioBuffer), size_t(16));
    }

    void pluginsThroughTheInterface()
    {
        BridgeHandle h = api.create_bridge();
        QVERIFY(h);
        QCOMPARE(api.bridge_load_plugin(h, bundle("CdwGain").c_str()), -1); // not initialised
        QCOMPARE(api.bridge_initialize(h, 44100, 512), 1);
        QCOMPARE(api.bridge_load_plugin(h, bundle("CdwSynth").c_str()), 0);
        QCOMPARE(api.bridge_load_plugin(h, bundle("CdwGain").c_str()), 1);
        QCOMPARE(api.bridge_load_plugin(h, nullptr), -1);
        QCOMPARE(api.bridge_unload_plugin(h, 0), 1);
        BridgePluginInfo info;
        QCOMPARE(api.bridge_get_plugin_info(h, 0, &info), 1); // position 0 is now id 1
        QCOMPARE(QString(info.name), QStringLiteral("Cdw Gain"));
        QCOMPARE(QString(info.uid), QStringLiteral("CD000001111111112222222233333333"));
        QCOMPARE(info.numParameters, 2);
        QCOMPARE(info.isInstrument, 0u);
        QCOMPARE(api.bridge_get_plugin_info(h, 1, &info), 0);
        QCOMPARE(api.bridge_get_plugin_info(h, 0, nullptr), 0);

        // A preset of gain 0.5, then 2 x 256 frames into a 2 x 512 output.
        const QString preset = dir.filePath("half.preset");
        const float half = 0.5f;
        QFile file(preset);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(&half), 4);
        file.close();
        QCOMPARE(api.bridge_load_preset(h, 1, qPrintable(preset)), 1);
        QCOMPARE(api.bridge_activate_plugin(h, 1), 1);
        std::vector<float> input(2 * 256, 0.8f), output(2 * 512, 9.0f);
        BridgeAudioBuffer in{input.data(), 2, 256};
        BridgeAudioBuffer out{output.data(), 2, 512};
        api.bridge_process(h, &in, &out);
        QCOMPARE(output[0], 0.4f);
        QCOMPARE(output[255], 0.4f);
        QCOMPARE(output[256], 0.0f);
        QCOMPARE(output[512 + 255], 0.4f);
        QCOMPARE(output[1023], 0.0f);

        // Blocks that claim what they cannot hold are empty: nothing is read or written.
        const std::vector<float> before = output;
        BridgeAudioBuffer negative{output.data(), -2, 512};
        BridgeAudioBuffer overflow{output.data(), 1 << 16, 1 << 16};
        BridgeAudioBuffer nullData{nullptr, 2, 512};
        api.bridge_process(h, &in, &negative);
        api.bridge_process(h, &in, &overflow);
        api.bridge_process(h, &in, &nullData);
        QVERIFY(output == before);
        api.bridge_process(h, &nullData, &out); // an empty input: the output is silence
        QCOMPARE(output[0], 0.0f);
        api.bridge_process_track(h, "t", input.data(), output.data(), -1, 256);
        api.bridge_process_track(h, "t", input.data(), output.data(), 1 << 16, 1 << 16);
        QCOMPARE(output[1], 0.0f);

        // Track chains: a track without one passes its audio through.
        api.bridge_process_track(h, "t", input.data(), output.data(), 2, 256);
        QCOMPARE(output[511], 0.8f);
        QCOMPARE(api.bridge_add_plugin_to_track(h, "t", bundle("CdwGain").c_str()), 0);
        QCOMPARE(api.bridge_set_track_plugin_bypass(h, "t", 0, 1), 1);
        QCOMPARE(api.bridge_remove_plugin_from_track(h, "t", 0), 1);
        QCOMPARE(api.bridge_remove_plugin_from_track(h, "t", 0), 0);
        api.bridge_clear_track_plugins(h, "t");

        // An editor for a loaded path loads one more instance with a headless view.
        const int count = api.bridge_get_plugin_count(h);
        QCOMPARE(api.bridge_show_editor(h, "/no/such/Plugin.vst3"), 0);
        QCOMPARE(api.bridge_get_plugin_count(h), count);
        QCOMPARE(api.bridge_show_editor(h, bundle("CdwGain").c_str()), 1);
        QCOMPARE(api.bridge_get_plugin_count(h), count + 1);
        QCOMPARE(api.bridge_schedule_midi_sequence(h, 1, nullptr, 0), -1);
        QCOMPARE(api.bridge_render_offline(h, 1, nullptr, 0, 16, nullptr), 0);
        api.destroy_bridge(h);
    }

    void callersAreNotTrusted()
    {
        // Rates and block sizes plug-ins cannot run at are refused.
        BridgeHandle h = api.create_bridge();
        QCOMPARE(api.bridge_initialize(h, 1, 512), 0);
        QCOMPARE(api.bridge_initialize(h, INT_MAX, 512), 0);
        QCOMPARE(api.bridge_initialize(h, 44100, INT_MAX), 0);
        QCOMPARE(api.bridge_initialize(h, 44100, 0), 0);
        QCOMPARE(api.bridge_initialize(h, 44100, 1), 0);
        QCOMPARE(api.bridge_load_plugin(h, bundle("CdwGain").c_str()), -1);
        QCOMPARE(api.bridge_initialize(h, 44100, 512), 1);

        // A mono plug-in in a stereo chain passes the right channel through.
        qputenv("CDW_TEST_PLUGIN_MONO", "1");
        const int id = loadHalfGain(h);
        qunsetenv("CDW_TEST_PLUGIN_MONO");
        QCOMPARE(id, 0);
        std::vector<float> output = processed(h);
        QCOMPARE(output[63], 0.4f);
        QCOMPARE(output[127], 0.8f);

        // NaN refused, the rest clamped to 0..1.
        QCOMPARE(api.bridge_set_parameter(h, id, 0, std::nanf("")), 0);
        QCOMPARE(api.bridge_get_parameter(h, id, 0), 0.5f);
        QCOMPARE(api.bridge_set_parameter(h, id, 0, INFINITY), 1);
        QCOMPARE(api.bridge_get_parameter(h, id, 0), 1.0f);

        // No samples, or too many channels: nothing is read or written.
        const std::vector<float> before = output;
        std::vector<float> input(2 * 64, 0.8f);
        BridgeAudioBuffer in{input.data(), 2, 64};
        BridgeAudioBuffer noFrames{output.data(), INT_MAX, 0};
        BridgeAudioBuffer manyChannels{output.data(), 100000000, 1};
        api.bridge_process(h, &noFrames, &noFrames);
        api.bridge_process(h, &in, &manyChannels);
        api.bridge_process_track(h, "t", input.data(), output.data(), 100000000, 1);
        QVERIFY(output == before);
        api.destroy_bridge(h);
    }

    void destroyedWhileInUse()
    {
        // The bridge outlives a call another thread is inside (sanitizers watch).
        for (int round = 0; round < 20; ++round) {
            BridgeHandle h = api.create_bridge();
            QCOMPARE(api.bridge_initialize(h, 44100, 64), 1);
            QCOMPARE(loadHalfGain(h), 0);
            std::atomic<bool> started{false}, stop{false};
            std::thread user([&] {
                std::vector<float> input(2 * 256, 0.5f), output(2 * 256);
                BridgeAudioBuffer in{input.data(), 2, 256};
                BridgeAudioBuffer out{output.data(), 2, 256};
                while (!stop) {
                    api.bridge_process(h, &in, &out);
                    api.bridge_get_parameter(h, 0, 0);
                    started = true;
                }
            });
            while (!started)
                std::this_thread::yield();
            api.destroy_bridge(h);
            stop = true;
            user.join();
            QCOMPARE(api.bridge_get_plugin_count(h), 0);
        }
    }

    void survivesRandomCallsFromThreeThreads()
    {
        // Three threads call every function in random order with hostile
        // arguments, on one bridge and on a handle that is none; the
        // sanitizers watch, and afterwards the bridge still works.
        const QString fifo = dir.filePath("random.fifo");
        QCOMPARE(mkfifo(qPrintable(fifo), 0600), 0);
        QVERIFY(QDir().mkpath(dir.filePath("Fifo.vst3/Contents/x86_64-linux")));
        QVERIFY(QDir().mkpath(dir.filePath("Zero.vst3/Contents/x86_64-linux")));
        for (const char* file : {"x86_64-linux/Fifo.so", "Info.plist"})
            QCOMPARE(mkfifo(qPrintable(dir.filePath(QString("Fifo.vst3/Contents/") + file)), 0600), 0);
        for (const char* file : {"x86_64-linux/Zero.so", "Info.plist"})
            QVERIFY(QFile::link("/dev/zero", dir.filePath(QString("Zero.vst3/Contents/") + file)));
        QVERIFY(QFile::link(dir.path(), dir.filePath("loop")));
        const std::string folder = dir.path().toStdString() + '/';
        const std::vector<std::string> paths = {bundle("CdwGain"), "/usr/lib/vst3/ZamComp.vst3", "", "/", "/dev/zero", fifo.toStdString(),
                                                folder + "Fifo.vst3", folder + "Zero.vst3",
                                                folder + std::string(300, 'a'), bundle("CdwGain") + "/Contents"};
        // Presets are written only inside the test's folder.
        const std::vector<std::string> presets = {folder + "random.preset", fifo.toStdString(), folder + "Fifo.vst3",
                                                  "/dev/zero"};
        BridgeHandle shared = api.create_bridge();
        QCOMPARE(api.bridge_scan_plugins(shared, qPrintable(dir.path())), 2); // Fifo and Zero, by name only
        std::atomic<int> lastId{0};
        auto worker = [&](unsigned seed) {
            std::mt19937 random(seed);
            const auto pick = [&](int n) { return int(random() % unsigned(n)); };
            const auto id = [&] { return lastId.load() - pick(4); };
            const int ints[] = {-1, 0, 1, 2, 3, 7, 64, 512, 4096, 16384, 16385, 44100, 8000, 384000, INT_MAX, INT_MIN};
            const float floats[] = {0.0f, 1.0f, 0.5f, -1.0f, 2.0f, NAN, INFINITY, -INFINITY, 1e-45f};
            std::vector<float> data(2 * 8192, 0.25f), out(2 * 8192);
            BridgePluginInfo info;
            for (int step = 0; step < 8000; ++step) {
                BridgeHandle h = pick(4) == 0 ? BridgeHandle(&data) : shared;
                const int any = ints[pick(16)];
                const std::string& path = paths[size_t(pick(int(paths.size())))];
                const char* preset = presets[size_t(pick(int(presets.size())))].c_str();
                float* target = pick(2) ? out.data() : data.data(); // blocks may alias
                switch (pick(20)) {
                case 0: api.bridge_initialize(h, pick(3) ? 44100 : any, pick(3) ? 512 : ints[pick(16)]); break;
                case 1: if (pick(100) == 0) api.bridge_shutdown(h); break;
                case 2: if (const int got = api.bridge_load_plugin(h, path.c_str()); got >= 0) lastId = got; break;
                case 3: api.bridge_unload_plugin(h, id()); break;
                case 4: api.bridge_activate_plugin(h, id()); break;
                case 5: api.bridge_deactivate_plugin(h, id()); break;
                case 6: api.bridge_set_parameter(h, id(), pick(3) ? pick(40) : any, floats[pick(9)]); break;
                case 7: api.bridge_get_parameter(h, id(), any); break;
                case 8:
                case 9: {
                    BridgeAudioBuffer in{data.data(), pick(3), pick(2) ? 4096 : pick(8192)};
                    BridgeAudioBuffer to{target, pick(3), pick(2) ? 4096 : pick(8192)};
                    api.bridge_process(h, &in, &to);
                    break;
                }
                case 10: api.bridge_save_preset(h, id(), preset); break;
                case 11: api.bridge_load_preset(h, id(), pick(2) ? preset : path.c_str()); break;
                case 12: api.bridge_show_editor(h, path.c_str()); break;
                case 13: api.bridge_hide_editor(h, id()); break;
                case 14: api.bridge_add_plugin_to_track(h, pick(2) ? "t" : "", path.c_str()); break;
                case 15: api.bridge_remove_plugin_from_track(h, "t", pick(2) ? pick(4) : any); break;
                case 16: api.bridge_set_track_plugin_bypass(h, "t", pick(4), any); break;
                case 17: api.bridge_process_track(h, pick(2) ? "t" : "u", data.data(), target, pick(3), pick(4096)); break;
                case 18: if (pick(10) == 0) api.bridge_clear_track_plugins(h, "t"); break;
                case 19:
                    api.bridge_get_plugin_info(h, id(), &info);
                    api.bridge_get_scanned_plugin_info(h, any, &info);
                    break;
                }
            }
        };
        std::thread one(worker, 1u), two(worker, 2u), three(worker, 3u);
        one.join();
        two.join();
        three.join();

        api.bridge_shutdown(shared);
        QCOMPARE(api.bridge_initialize(shared, 44100, 512), 1);
        QVERIFY(loadHalfGain(shared) >= 0);
        QCOMPARE(processed(shared)[127], 0.4f);
        api.destroy_bridge(shared);
    }

    void longTextsAreCut()
    {
        // A vendor of 300 characters and a path of more than 600.
        QString folder = dir.filePath("long");
        while (folder.size() < 600)
            folder += QStringLiteral("/") + QString(60, QLatin1Char('d'));
        const QString bundlePath = folder + "/Wide.vst3";
        QVERIFY(QDir().mkpath(bundlePath + "/Contents"));
        QFile plist(bundlePath + "/Contents/Info.plist");
        QVERIFY(plist.open(QIODevice::WriteOnly));
        plist.write("<vendor>" + QByteArray(300, 'v') + "</vendor>");
        plist.close();

        BridgeHandle h = api.create_bridge();
        QCOMPARE(api.bridge_scan_plugins(h, qPrintable(dir.filePath("long"))), 1);
        QCOMPARE(api.bridge_get_scanned_plugin_count(h), 1);
        BridgePluginInfo info;
        std::memset(&info, 0x55, sizeof info);
        QCOMPARE(api.bridge_get_scanned_plugin_info(h, 0, &info), 1);
        QCOMPARE(qstrlen(info.vendor), size_t(255));
        QCOMPARE(qstrlen(info.path), size_t(511));
        QCOMPARE(QByteArray(info.path), bundlePath.toUtf8().left(511));
        QCOMPARE(QString(info.format), QStringLiteral("vst3"));
        QCOMPARE(info.format[31], '\0');
        QCOMPARE(info.reserved, 0);
        QCOMPARE(api.bridge_get_scanned_plugin_info(h, 1, &info), 0);
        api.destroy_bridge(h);
    }

    void unknownHandlesTouchNothing()
    {
        BridgeHandle destroyed = api.create_bridge();
        api.bridge_initialize(destroyed, 44100, 512);
        api.destroy_bridge(destroyed);
        for (BridgeHandle h : {destroyed, BridgeHandle(reinterpret_cast<void*>(0x1234)), BridgeHandle(nullptr)}) {
            BridgePluginInfo info;
            std::memset(&info, 0x55, sizeof info);
            std::vector<float> output(8, 9.0f);
            std::vector<float> input(8, 1.0f);
            BridgeAudioBuffer in{input.data(), 2, 4};
            BridgeAudioBuffer out{output.data(), 2, 4};
            QCOMPARE(api.bridge_initialize(h, 44100, 512), 0);
            QCOMPARE(api.bridge_get_plugin_count(h), 0);
            QCOMPARE(api.bridge_get_plugin_info(h, 0, &info), 0);
            QCOMPARE(api.bridge_get_scanned_plugin_info(h, 0, &info), 0);
            QCOMPARE(api.bridge_scan_plugins(h, nullptr), 0);
            QCOMPARE(api.bridge_load_plugin(h, bundle("CdwGain").c_str()), -1);
            QCOMPARE(api.bridge_unload_plugin(h, 0), 0);
            QCOMPARE(api.bridge_activate_plugin(h, 0), 0);
            QCOMPARE(api.bridge_deactivate_plugin(h, 0), 0);
            QCOMPARE(api.bridge_set_parameter(h, 0, 0, 1.0f), 0);
            QCOMPARE(api.bridge_get_parameter(h, 0, 0), 0.0f);
            QCOMPARE(api.bridge_save_preset(h, 0, qPrintable(dir.filePath("x"))), 0);
            QCOMPARE(api.bridge_load_preset(h, 0, qPrintable(dir.filePath("x"))), 0);
            QCOMPARE(api.bridge_show_editor(h, bundle("CdwGain").c_str()), 0);
            QCOMPARE(api.bridge_hide_editor(h, 0), 0);
            QCOMPARE(api.bridge_is_editor_open_by_id(h, 0), 0);
            QCOMPARE(api.bridge_add_plugin_to_track(h, "t", bundle("CdwGain").c_str()), -1);
            QCOMPARE(api.bridge_remove_plugin_from_track(h, "t", 0), 0);
            QCOMPARE(api.bridge_set_track_plugin_bypass(h, "t", 0, 1), 0);
            api.bridge_process(h, &in, &out);
            api.bridge_process_track(h, "t", input.data(), output.data(), 2, 4);
            api.bridge_clear_track_plugins(h, "t");
            api.bridge_shutdown(h);
            api.destroy_bridge(h);
            QCOMPARE(info.uid[0], char(0x55));
            QCOMPARE(info.isInstrument, 0x55555555u);
            QCOMPARE(output, std::vector<float>(8, 9.0f));
        }
        QVERIFY(!QFile::exists(dir.filePath("x")));
    }
};

QTEST_GUILESS_MAIN(PluginBridgeCTest)
#include "tst_PluginBridgeC.moc"
