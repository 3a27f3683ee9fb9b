#pragma once
// Helpers shared by the Qt Test programs: signal generators, external tools
// and the audio/MIDI servers that tests/run-tests.sh starts.

#include <QByteArray>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QtTest>

class QPushButton;
class QWidget;

namespace TestSupport {

QList<float> sineWave(double frequency, double seconds, int sampleRate, float amplitude = 0.5f);
// Amplitude of the component at `frequency` in x[first, end), by projection
// on a sine and a cosine (the range should hold many periods).
double amplitudeAt(const QList<float>& x, double frequency, int sampleRate, qsizetype first,
                   qsizetype end);

// Runs a program to completion; false when it cannot start, times out or exits non-zero.
bool runCommand(const QString& program, const QStringList& args,
                QByteArray* standardOutput = nullptr, int timeoutMs = 300000);
bool hasCommand(const QString& program);

// True when a PulseAudio server answers (tests/run-tests.sh starts a private one).
bool pulseServerRunning();
// True when a JACK server runs (tests/run-tests.sh starts one with the dummy driver).
bool jackServerRunning();
// tests/run-tests.sh exports CDW_REQUIRE_SERVERS=1: then a missing server fails the test.
bool serversRequired();
// Points the sound and MIDI libraries at servers that do not exist (they read
// this once): the program runs as on a machine without audio or MIDI
// devices. Call it first, in initTestCase.
void withoutSoundServers();

QString sourceDir();

// Starts a private X server (Xvfb) for the rest of this process and points
// DISPLAY at it; call before the application object exists, then choose the
// "xcb" platform. False when Xvfb is missing or does not start.
bool startPrivateXServer();
// The whole content of a file; empty when it cannot be read.
QByteArray fileBytes(const QString& path);

// Makes every write of this process beyond `bytes` fail as on a full disk,
// for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    qint64 savedLimit = 0;
    void (*savedHandler)(int) = nullptr;
};

// Every commit of this process fails its sync with `error` while the object lives.
struct FailingDataSync {
    explicit FailingDataSync(int error);
    ~FailingDataSync();
};

// A tmpfs of `bytes` on a temporary folder for the object's life: writes
// past its size fail with ENOSPC. Mounting needs root; else path() is empty.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes);
    ~SmallDisk();
    QString path() const { return mounted ? folder.path() : QString(); }
    bool makeReadOnly();
private:
    QTemporaryDir folder;
    bool mounted = false;
};

// <build>/screenshots/, where the test run leaves pictures of pages and dialogs.
QString screenshotDir();
// Saves a picture there as PNG; false (with a test failure message) when the
// picture is empty, one flat colour or cannot be written.
bool saveScreenshot(const QPixmap& pixmap, const QString& fileName);

// The first push button below `parent` showing exactly `text`, or null.
QPushButton* buttonWithText(const QWidget& parent, const QString& text);

} // namespace TestSupport

// Skips the test when no PulseAudio server can be reached, unless the test run
// requires the servers (then it fails).
#define CDW_REQUIRE_PULSE()                                                              \
    do {                                                                                 \
        if (!TestSupport::pulseServerRunning()) {                                        \
            if (TestSupport::serversRequired())                                          \
                QFAIL("needs the PulseAudio null-sink server, which did not start");     \
            QSKIP("needs a PulseAudio server (started by tests/run-tests.sh)");          \
        }                                                                                \
    } while (0)

#define CDW_REQUIRE_JACK()                                                               \
    do {                                                                                 \
        if (!TestSupport::jackServerRunning()) {                                         \
            if (TestSupport::serversRequired())                                          \
                QFAIL("needs the JACK dummy server, which did not start");               \
            QSKIP("needs a JACK server (started by tests/run-tests.sh)");                 \
        }                                                                                \
    } while (0)
