#include "engine/midi/MidiInput.h"
#include "engine/ui/MidiDeviceDialog.h"

#include "TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QtTest>
#include <rtmidi/RtMidi.h>
#include <thread>

namespace {

struct Received {
    QString kind; // "on", "off" or "raw"
    int channel = -1;
    int pitch = -1;
    int velocity = -1;
    QByteArray raw;
    bool onGuiThread = false;
};

// Collects the signals of a MidiInput through automatic connections, noting
// the thread each handler ran on.
class Collector : public QObject {
public:
    explicit Collector(MidiInput* input)
    {
        connect(input, &MidiInput::noteOnReceived, this, [this](int c, int p, int v) {
            received.push_back({"on", c, p, v, {}, QThread::currentThread() == qApp->thread()});
        });
        connect(input, &MidiInput::noteOffReceived, this, [this](int c, int p) {
            received.push_back({"off", c, p, -1, {}, QThread::currentThread() == qApp->thread()});
        });
        connect(input, &MidiInput::rawMidiReceived, this, [this](const QByteArray& d) {
            received.push_back({"raw", -1, -1, -1, d, QThread::currentThread() == qApp->thread()});
        });
    }
    std::vector<Received> received;
};

// This machine has an ALSA sequencer: MidiInput would use it, not JACK.
bool alsaSequencerPresent()
{
    return QFile::exists(QStringLiteral("/dev/snd/seq"));
}

} // namespace

class MidiInputTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("emitted"); // kinds in emission order
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("pitch");
        QTest::newRow("note on") << QByteArray("\x92\x3C\x64", 3) << "on raw" << 2 << 60;
        QTest::newRow("note on velocity 0") << QByteArray("\x93\x3C\x00", 3) << "off raw" << 3 << 60;
        QTest::newRow("note off") << QByteArray("\x80\x40\x0A", 3) << "off raw" << 0 << 64;
        QTest::newRow("two-byte note on") << QByteArray("\x90\x3C", 2) << "raw" << -1 << -1;
        QTest::newRow("control change") << QByteArray("\xB0\x07\x64", 3) << "raw" << -1 << -1;
        QTest::newRow("one byte") << QByteArray("\xF8", 1) << "" << -1 << -1;
    }

    void decoding()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, emitted);
        QFETCH(int, channel);
        QFETCH(int, pitch);
        MidiInput input;
        Collector collector(&input);
        std::vector<unsigned char> bytes(message.begin(), message.end());
        MidiInput::midiCallback(0.0, &bytes, &input);
        QStringList kinds;
        for (const Received& r : collector.received)
            kinds << r.kind;
        QCOMPARE(kinds.join(QLatin1Char(' ')), emitted);
        if (!collector.received.empty() && collector.received[0].kind != "raw") {
            QCOMPARE(collector.received[0].channel, channel);
            QCOMPARE(collector.received[0].pitch, pitch);
        }
        if (!collector.received.empty())
            QCOMPARE(collector.received.back().raw, message);
        std::vector<unsigned char> empty;
        MidiInput::midiCallback(0.0, &empty, &input);
        MidiInput::midiCallback(0.0, nullptr, &input);
        QCOMPARE(collector.received.size(), size_t(kinds.size()));
    }

    void signalsFromAnotherThreadArriveQueuedInOrder()
    {
        MidiInput input;
        Collector collector(&input);
        std::thread midiThread([&input] {
            for (int i = 0; i < 50; ++i) {
                std::vector<unsigned char> on{0x90, (unsigned char)(40 + i), 100};
                std::vector<unsigned char> off{0x80, (unsigned char)(40 + i), 0};
                MidiInput::midiCallback(0.0, &on, &input);
                MidiInput::midiCallback(0.0, &off, &input);
            }
        });
        midiThread.join();
        QVERIFY(collector.received.empty()); // nothing delivered outside the event loop
        QTRY_COMPARE(collector.received.size(), size_t(200));
        for (int i = 0; i < 50; ++i) {
            const Received* r = &collector.received[size_t(4 * i)];
            QCOMPARE(r[0].kind, QStringLiteral("on"));
            QCOMPARE(r[0].pitch, 40 + i);
            QCOMPARE(r[1].kind, QStringLiteral("raw"));
            QCOMPARE(r[2].kind, QStringLiteral("off"));
            QCOMPARE(r[2].pitch, 40 + i);
        }
        for (const Received& r : collector.received)
            QVERIFY(r.onGuiThread);
    }

    void withoutAnyMidiSystemThereAreNoPorts()
    {
        if (alsaSequencerPresent())
            QSKIP("this machine has an ALSA sequencer");
        const QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
        qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
        MidiInput input;
        if (server.isEmpty())
            qunsetenv("JACK_DEFAULT_SERVER");
        else
            qputenv("JACK_DEFAULT_SERVER", server);

        QVERIFY(input.availableDevices().isEmpty());
        QVERIFY(!input.openDevice(0));
        QVERIFY(!input.autoConnect());
        QVERIFY(!input.isOpen());

        MidiDeviceDialog dialog(&input);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("MIDI 设备"));
        auto* combo = dialog.findChild<QComboBox*>();
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QStringLiteral("(未发现 MIDI 设备)"));
        QCOMPARE(statusText(dialog), QStringLiteral("未连接"));
        QSignalSpy selected(&dialog, &MidiDeviceDialog::deviceSelected);
        button(dialog, "连接")->click(); // tries port 0, which does not exist
        QCOMPARE(selected.count(), 0);
        QCOMPARE(statusText(dialog), QStringLiteral("未连接"));
    }

    void notesFromAJackKeyboard()
    {
        CDW_REQUIRE_JACK();
        if (alsaSequencerPresent())
            QSKIP("this machine has an ALSA sequencer: MidiInput uses it instead of JACK");
        // Ports that auto-connect must pass over.
        RtMidiOut through(RtMidi::UNIX_JACK, "Midi Through");
        through.openVirtualPort("Midi Through Port-0");
        RtMidiOut own(RtMidi::UNIX_JACK, MidiInput::kClientName);
        own.openVirtualPort("out");

        MidiInput input;
        Collector collector(&input);
        QCOMPARE(input.availableDevices().size(), 2);
        QVERIFY(!input.autoConnect());
        QVERIFY(!input.isOpen());

        RtMidiOut keyboard(RtMidi::UNIX_JACK, "CdwTestKeyboard");
        keyboard.openVirtualPort("keys");
        const QStringList devices = input.availableDevices();
        QCOMPARE(devices.size(), 3);
        const int keys = devices.indexOf("CdwTestKeyboard:keys");
        QVERIFY2(keys >= 0, qPrintable(devices.join(", ")));
        QVERIFY(input.autoConnect());
        QCOMPARE(input.currentPort(), keys);
        QVERIFY(input.autoConnect()); // already open: stays on that port
        QCOMPARE(input.currentPort(), keys);

        std::vector<unsigned char> on{0x91, 64, 99};
        std::vector<unsigned char> off{0x81, 64, 0};
        keyboard.sendMessage(&on);
        QTest::qWait(50);
        keyboard.sendMessage(&off);
        QTRY_VERIFY_WITH_TIMEOUT(collector.received.size() >= 4, 10000);
        QCOMPARE(collector.received[0].kind, QStringLiteral("on"));
        QCOMPARE(collector.received[0].channel, 1);
        QCOMPARE(collector.received[0].pitch, 64);
        QCOMPARE(collector.received[0].velocity, 99);
        QCOMPARE(collector.received[2].kind, QStringLiteral("off"));
        for (const Received& r : collector.received)
            QVERIFY(r.onGuiThread);

        // The dialog lists the ports, shows the connection and disconnects it.
        MidiDeviceDialog dialog(&input);
        auto* combo = dialog.findChild<QComboBox*>();
        QCOMPARE(combo->count(), int(devices.size()));
        QCOMPARE(combo->currentIndex(), keys);
        QCOMPARE(statusText(dialog), QStringLiteral("已连接: CdwTestKeyboard:keys"));
        QVERIFY(!button(dialog, "连接")->isEnabled());
        QSignalSpy disconnected(&dialog, &MidiDeviceDialog::disconnected);
        button(dialog, "断开")->click();
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!input.isOpen());
        QCOMPARE(statusText(dialog), QStringLiteral("未连接"));
        QSignalSpy selected(&dialog, &MidiDeviceDialog::deviceSelected);
        combo->setCurrentIndex(keys);
        button(dialog, "连接")->click();
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toInt(), keys);
        QVERIFY(input.isOpen());
        input.closeDevice();
        QCOMPARE(input.currentPort(), -1);
    }

    void aKeyboardThatGoesIsNoLongerShownConnected()
    {
        CDW_REQUIRE_JACK();
        if (alsaSequencerPresent())
            QSKIP("this machine has an ALSA sequencer: MidiInput uses it instead of JACK");
        RtMidiOut before(RtMidi::UNIX_JACK, "CdwAaa");
        before.openVirtualPort("a");
        auto keyboard = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "CdwKeys");
        keyboard->openVirtualPort("keys");
        RtMidiOut after(RtMidi::UNIX_JACK, "CdwZzz");
        after.openVirtualPort("z");

        MidiInput input;
        const int keys = input.availableDevices().indexOf("CdwKeys:keys");
        QVERIFY(keys >= 0);
        QVERIFY(input.openDevice(keys));
        MidiDeviceDialog dialog(&input);
        QCOMPARE(statusText(dialog), QStringLiteral("已连接: CdwKeys:keys"));

        // Unplugged: the port after it moves into its place in the list,
        // and must not be shown as the one connected.
        keyboard.reset();
        QTRY_VERIFY(!input.availableDevices().contains("CdwKeys:keys"));
        QVERIFY(!input.isOpen());
        QCOMPARE(input.currentPort(), -1);
        dialog.refreshDeviceList();
        QCOMPARE(statusText(dialog), QStringLiteral("未连接"));
        QVERIFY(button(dialog, "连接")->isEnabled());

        // Another device can be connected in its place.
        auto* combo = dialog.findChild<QComboBox*>();
        const int other = input.availableDevices().indexOf("CdwZzz:z");
        combo->setCurrentIndex(other);
        button(dialog, "连接")->click();
        QCOMPARE(input.currentPort(), other);
        QCOMPARE(statusText(dialog), QStringLiteral("已连接: CdwZzz:z"));
    }

private:
    static QString statusText(QDialog& dialog)
    {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (label->alignment() & Qt::AlignHCenter)
                return label->text();
        return {};
    }

    static QPushButton* button(QDialog& dialog, const char* text)
    {
        for (QPushButton* b : dialog.findChildren<QPushButton*>())
            if (b->text() == QString::fromUtf8(text))
                return b;
        return nullptr;
    }
};

QTEST_MAIN(MidiInputTest)
#include "tst_MidiInput.moc"
