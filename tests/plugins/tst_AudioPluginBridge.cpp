// The plug-in manager with the test plug-ins: ids, the global chain, track
// chains, presets, offline rendering of an instrument and concurrent loads.

#include "PluginTestSupport.h"

#include "plugins/AudioPluginBridge.h"
#include "plugins/VST3PluginInstance.h"

#include <QtTest/QtTest>

#include <cmath>
#include <set>
#include <thread>

using namespace PluginTestSupport;

namespace {

void fillBuffer(AudioBuffer& buffer, int channels, int frames, float value)
{
    buffer.allocate(channels, frames);
    for (int c = 0; c < channels; ++c)
        std::fill(buffer.data[c], buffer.data[c] + frames, value);
}

} // namespace

class AudioPluginBridgeTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString halfGain;
    QString quarterGain;

    static bool writeGain(const QString& path, float gain)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(&gain), 4) == 4;
    }

    // A gain plug-in set to the given preset and made active; its id.
    int loadGain(AudioPluginBridge& bridge, const QString& preset)
    {
        const int id = bridge.loadPlugin(bundle("CdwGain"));
        if (id < 0 || !bridge.loadPreset(id, preset.toStdString()) || !bridge.activatePlugin(id))
            return -1;
        return id;
    }

private slots:
    void initTestCase()
    {
        halfGain = dir.filePath("half.preset");
        quarterGain = dir.filePath("quarter.preset");
        QVERIFY(writeGain(halfGain, 0.5f));
        QVERIFY(writeGain(quarterGain, 0.25f));
    }

    void idsAreNeverReused()
    {
        AudioPluginBridge bridge;
        QCOMPARE(bridge.loadPlugin(bundle("CdwGain")), -1); // not initialised
        QVERIFY(bridge.initialize(44100, 512));
        QVERIFY(bridge.initialize(48000, 256)); // keeps the first values
        QCOMPARE(bridge.loadPlugin(bundle("CdwGain")), 0);
        QCOMPARE(bridge.loadPlugin(bundle("CdwSynth")), 1);
        QCOMPARE(bridge.loadPlugin(bundle("CdwNoEntry")), -1);
        QVERIFY(bridge.unloadPlugin(0));
        QVERIFY(!bridge.unloadPlugin(0));
        QCOMPARE(bridge.loadPlugin(bundle("CdwGain")), 2);
        QCOMPARE(bridge.loadedPluginIds(), (std::vector<int>{1, 2}));
        QCOMPARE(bridge.pluginName(1), std::string("Cdw Synth"));
        QVERIFY(bridge.getPluginInfo(0).name.empty());
        QCOMPARE(bridge.getParameterNames(2), (std::vector<std::string>{"Gain", "Gre"}));
        QVERIFY(bridge.getParameterNames(1).empty());
        QCOMPARE(bridge.getPluginInstance(2)->getInfo().numInputChannels, 2);

        bridge.shutdown();
        QVERIFY(!bridge.getPluginInstance(2));
        QVERIFY(bridge.loadedPluginIds().empty());
        QVERIFY(bridge.initialize(44100, 512));
        QCOMPARE(bridge.loadPlugin(bundle("CdwGain")), 3);
    }

    void concurrentLoadsGetUniqueIds()
    {
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        std::vector<int> ids(32, -1);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 8; ++i)
                    ids[size_t(t * 8 + i)] = bridge.loadPlugin(bundle(i % 2 ? "CdwGain" : "CdwSynth"));
            });
        for (auto& thread : threads)
            thread.join();
        const std::set<int> unique(ids.begin(), ids.end());
        QCOMPARE(unique.size(), ids.size());
        QCOMPARE(*unique.begin(), 0);
        QCOMPARE(*unique.rbegin(), 31);
    }

    void globalChain()
    {
        AudioPluginBridge bridge;
        AudioBuffer in, out;
        fillBuffer(in, 2, 64, 0.8f);
        fillBuffer(out, 2, 64, 9.0f);
        bridge.process(in, out); // not initialised: untouched
        QCOMPARE(out.data[0][0], 9.0f);
        bridge.initialize(44100, 512);
        bridge.process(in, out); // nothing loaded: untouched
        QCOMPARE(out.data[1][63], 9.0f);

        const int a = loadGain(bridge, halfGain);
        const int b = loadGain(bridge, halfGain);
        QVERIFY(a >= 0 && b >= 0);
        int callbacks = 0;
        bridge.setProcessCallback([&](const AudioBuffer& input, AudioBuffer& output) {
            callbacks += &input == &in && &output == &out ? 1 : 0;
        });
        bridge.process(in, out);
        QCOMPARE(out.data[0][0], 0.2f); // 0.8 × 0.5 × 0.5
        QCOMPARE(out.data[1][63], 0.2f);
        QCOMPARE(in.data[0][0], 0.8f);
        QCOMPARE(callbacks, 1);

        // None active: a copy over the common channels and frames.
        QVERIFY(bridge.deactivatePlugin(a));
        QVERIFY(bridge.deactivatePlugin(b));
        AudioBuffer mono, stereo;
        fillBuffer(mono, 1, 32, 0.3f);
        fillBuffer(stereo, 2, 64, 9.0f);
        bridge.process(mono, stereo);
        QCOMPARE(stereo.data[0][31], 0.3f);
        QCOMPARE(stereo.data[0][32], 9.0f);
        QCOMPARE(stereo.data[1][0], 9.0f);
        // One buffer as input and output, as the live output passes it.
        bridge.process(stereo, stereo);
        QCOMPARE(stereo.data[0][0], 0.3f);
        QVERIFY(bridge.activatePlugin(a));
        bridge.process(stereo, stereo);
        QCOMPARE(stereo.data[0][0], 0.15f);
        QCOMPARE(callbacks, 1);
        bridge.setProcessCallback(nullptr);
    }

    void trackChains()
    {
        AudioPluginBridge bridge;
        QCOMPARE(bridge.addPluginToTrack("t1", bundle("CdwGain")), -1);
        bridge.initialize(44100, 512);
        QCOMPARE(bridge.addPluginToTrack("t1", bundle("CdwGain")), 0);
        QCOMPARE(bridge.addPluginToTrack("t1", bundle("CdwGain")), 1);
        QCOMPARE(bridge.addPluginToTrack("t1", bundle("CdwGain")), 2);
        QCOMPARE(bridge.addPluginToTrack("t1", bundle("CdwInitFails")), -1);
        QVERIFY(!bridge.setTrackPluginBypass("t1", 3, true));
        QVERIFY(!bridge.setTrackPluginBypass("none", 0, true));
        for (int id : bridge.loadedPluginIds()) {
            QVERIFY(bridge.loadPreset(id, halfGain.toStdString()));
            QVERIFY(bridge.activatePlugin(id));
        }
        AudioBuffer in, out;
        fillBuffer(in, 2, 16, 1.0f);
        fillBuffer(out, 2, 16, 0.0f);
        bridge.processTrack("t1", in, out);
        QCOMPARE(out.data[1][15], 0.125f);
        QVERIFY(bridge.setTrackPluginBypass("t1", 1, true));
        bridge.processTrack("t1", in, out);
        QCOMPARE(out.data[0][0], 0.25f);
        QVERIFY(bridge.removePluginFromTrack("t1", 0)); // unloads id 0
        QVERIFY(!bridge.removePluginFromTrack("t1", 5));
        QCOMPARE(bridge.loadedPluginIds(), (std::vector<int>{1, 2}));
        bridge.processTrack("t1", in, out); // [bypassed 1, active 2]
        QCOMPARE(out.data[0][0], 0.5f);
        bridge.processTrack("no chain", in, out);
        QCOMPARE(out.data[0][0], 1.0f);

        // Unloading a plug-in takes its slot out of the chain.
        const int shared = bridge.loadedPluginIds().back();
        QVERIFY(bridge.unloadPlugin(shared));
        fillBuffer(out, 2, 16, 0.0f);
        bridge.processTrack("t1", in, out); // only the bypassed slot is left
        QCOMPARE(out.data[0][0], 1.0f);
        bridge.clearTrackPlugins("t1");
        QVERIFY(bridge.loadedPluginIds().empty());
        QVERIFY(!bridge.setTrackPluginBypass("t1", 0, false));
    }

    void presets()
    {
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        const int id = loadGain(bridge, quarterGain);
        const QString saved = dir.filePath("saved.preset");
        QVERIFY(bridge.savePreset(id, saved.toStdString()));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const float quarter = 0.25f;
        QCOMPARE(file.readAll(), QByteArray(reinterpret_cast<const char*>(&quarter), 4));
        QVERIFY(!bridge.savePreset(id + 1, saved.toStdString()));
        AudioBuffer in, out;
        fillBuffer(in, 2, 8, 1.0f);
        fillBuffer(out, 2, 8, 0.0f);
        QVERIFY(bridge.loadPreset(id, halfGain.toStdString()));
        bridge.process(in, out);
        QCOMPARE(out.data[0][0], 0.5f);
        QVERIFY(bridge.loadPreset(id, saved.toStdString()));
        bridge.process(in, out);
        QCOMPARE(out.data[0][0], 0.25f);
        QCOMPARE(bridge.getParameter(id, 0), 0.25f);
        QVERIFY(bridge.setParameter(id, 1, 0.75f));
        QCOMPARE(bridge.getParameter(id, 1), 0.75f);
        QVERIFY(!bridge.setParameter(id + 1, 1, 0.75f));
        QCOMPARE(bridge.getProgramCount(id), 0);
        QVERIFY(!bridge.setProgram(id, 1));
    }

    void offlineRendering()
    {
        CallLog log;
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        const int synth = bridge.loadPlugin(bundle("CdwSynth"));
        QVERIFY(synth >= 0);
        std::vector<float> output(2000, 9.0f);
        const OfflineMidiEvent events[] = {
            {600, 0, 0x12, 0x83, 0.5f}, // channel 2, note 3: low bits only
            {100, 0, 0, 70, 1.0f},      // out of order: before its block, dropped
        };
        QVERIFY(!bridge.renderOffline(synth, nullptr, 0, 1000, 0, output.data()));
        QVERIFY(!bridge.renderOffline(synth, events, 2, 0, 0, output.data()));
        QVERIFY(!bridge.renderOffline(synth + 1, events, 2, 1000, 0, output.data()));
        QVERIFY(bridge.renderOffline(synth, events, 2, 1000, 0, output.data()));
        QVERIFY(bridge.getPluginInstance(synth)->isActive());
        // The note sounds from the start of the block it falls in.
        QCOMPARE(output[2 * 511], 0.0f);
        QCOMPARE(output[2 * 511 + 1], 0.0f);
        QCOMPARE(output[2 * 512], 63.0f / 127.0f);
        QCOMPARE(output[2 * 999 + 1], 63.0f / 127.0f);
        QCOMPARE(log.lines().filter(QRegularExpression("^note")),
                 QStringList{"noteOn bus=0 offset=0 ch=2 pitch=3 vel=0.4961 id=-1"});
        QStringList blocks;
        for (const QString& line : log.lines().filter("process"))
            blocks << line.section(' ', 3, 3);
        QCOMPARE(blocks, (QStringList{"n=512", "n=488"}));

        // Velocities out of range are clamped; NaN and tiny ones give 0, a note off.
        log.clear();
        const OfflineMidiEvent loud[] = {{0, 0, 0, 60, 2.0f}, {0, 0, 0, 61, std::nanf("")}, {0, 0, 0, 62, 0.005f},
                                         {0, 0, 0, 63, -1.0f}, {0, 1, 0, 64, 1.0f}};
        QVERIFY(bridge.renderOffline(synth, loud, 5, 16, 0, output.data()));
        QCOMPARE(log.lines().filter(QRegularExpression("^note")),
                 (QStringList{"noteOn bus=0 offset=0 ch=0 pitch=60 vel=1.0000 id=-1",
                              "noteOff bus=0 offset=0 ch=0 pitch=61 vel=0.0000 id=-1",
                              "noteOff bus=0 offset=0 ch=0 pitch=62 vel=0.0000 id=-1",
                              "noteOff bus=0 offset=0 ch=0 pitch=63 vel=0.0000 id=-1",
                              "noteOff bus=0 offset=0 ch=0 pitch=64 vel=0.0000 id=-1"}));
        const unsigned char note[] = {0x90, 60, 64};
        QVERIFY(bridge.sendMidiEvent(synth, note, 3));
        QVERIFY(!bridge.sendMidiEvent(synth, note, 0));
        QVERIFY(!bridge.sendMidiEvent(synth, nullptr, 3));
        QVERIFY(!bridge.sendMidiEvent(synth + 7, note, 3));
    }
};

QTEST_GUILESS_MAIN(AudioPluginBridgeTest)
#include "tst_AudioPluginBridge.moc"
