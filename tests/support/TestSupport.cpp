#include "TestSupport.h"

#include "audio/dsp/VectorState.h"
#include "common/SaveFileCommit.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <cmath>
#include <csignal>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/mount.h>

namespace TestSupport {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    savedLimit = qint64(limit.rlim_cur);
    limit.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(savedLimit);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler);
}

FailingDataSync::FailingDataSync(int error)
{
    static int failure;
    failure = error;
    SaveFileCommit::setDataSync([](int) { return errno = failure, -1; });
}

FailingDataSync::~FailingDataSync() { SaveFileCommit::setDataSync(nullptr); }

SmallDisk::SmallDisk(qint64 bytes)
{
    mounted = mount("tmpfs", QFile::encodeName(folder.path()).constData(), "tmpfs", 0,
                    ("size=" + QByteArray::number(bytes)).constData()) == 0;
}

bool SmallDisk::makeReadOnly()
{
    return mounted && mount(nullptr, QFile::encodeName(folder.path()).constData(), nullptr,
                            MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

SmallDisk::~SmallDisk()
{
    if (mounted) // detached: a file a failed test left open cannot keep it mounted
        umount2(QFile::encodeName(folder.path()).constData(), MNT_DETACH);
}

QList<float> sineWave(double frequency, double seconds, int sampleRate, float amplitude)
{
    const qsizetype count = static_cast<qsizetype>(std::llround(seconds * sampleRate));
    QList<float> out(count);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = amplitude * static_cast<float>(std::sin(2.0 * M_PI * frequency * double(i) / sampleRate));
    return out;
}

double amplitudeAt(const QList<float>& x, double frequency, int sampleRate, qsizetype first,
                   qsizetype end)
{
    double s = 0.0, c = 0.0;
    for (qsizetype i = first; i < end; ++i) {
        const double phase = 2.0 * M_PI * frequency * double(i) / sampleRate;
        s += x[i] * std::sin(phase);
        c += x[i] * std::cos(phase);
    }
    return end > first ? 2.0 * std::sqrt(s * s + c * c) / double(end - first) : 0.0;
}

bool runCommand(const QString& program, const QStringList& args, QByteArray* standardOutput,
                int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(standardOutput ? QProcess::SeparateChannels
                                                 : QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return false;
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    clearUpperVectorState();
    if (!finished)
        return false;
    if (standardOutput)
        *standardOutput = process.readAllStandardOutput();
    else
        process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool hasCommand(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool pulseServerRunning()
{
    return hasCommand("pactl") && runCommand("pactl", {"info"}, nullptr, 5000);
}

bool jackServerRunning()
{
    // A JACK client would otherwise try to start a server of its own.
    qputenv("JACK_NO_START_SERVER", "1");
    return hasCommand("jack_lsp") && runCommand("jack_lsp", {}, nullptr, 5000);
}

bool serversRequired()
{
    return qEnvironmentVariableIntValue("CDW_REQUIRE_SERVERS") == 1;
}

void withoutSoundServers()
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/cdw-no-server");
    qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
}

QString sourceDir()
{
    const QString dir = qEnvironmentVariable("CDW_SOURCE_DIR");
    return dir.isEmpty() ? QStringLiteral(".") : dir;
}

namespace {

// The Xvfb of this process, stopped when the process ends.
struct PrivateXServer {
    pid_t pid = -1;
    ~PrivateXServer()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

} // namespace

bool startPrivateXServer()
{
    static PrivateXServer server;
    if (server.pid > 0)
        return true;
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return false;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    const QByteArray program = xvfb.toLocal8Bit();
    const QByteArray displayFd = QByteArray::number(pipeFds[1]);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        // The server goes with this process, even when a test crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The server writes its display number to the pipe once it accepts clients.
        execl(program.constData(), "Xvfb", "-displayfd", displayFd.constData(), "-screen", "0", "1280x1024x24",
              "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return false;
    }
    server.pid = pid;
    QByteArray number;
    pollfd readable{pipeFds[0], POLLIN, 0};
    while (!number.endsWith('\n') && poll(&readable, 1, 15000) > 0) {
        char c = 0;
        if (read(pipeFds[0], &c, 1) != 1)
            break;
        number.append(c);
    }
    close(pipeFds[0]);
    if (number.trimmed().isEmpty())
        return false;
    qputenv("DISPLAY", ":" + number.trimmed());
    return true;
}

QString screenshotDir()
{
    const QByteArray binary = qgetenv("CDW_BINARY_DIR");
    const QString base = binary.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(binary);
    return base + QStringLiteral("/screenshots");
}

bool saveScreenshot(const QPixmap& pixmap, const QString& fileName)
{
    if (pixmap.isNull()) {
        QTest::qFail(qPrintable(QStringLiteral("empty screenshot ") + fileName), __FILE__, __LINE__);
        return false;
    }
    // A picture of one flat colour means nothing was drawn.
    const QImage image = pixmap.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    if (colours.size() <= 8) {
        QTest::qFail(qPrintable(QStringLiteral("flat screenshot ") + fileName), __FILE__, __LINE__);
        return false;
    }
    const QString path = screenshotDir() + QLatin1Char('/') + fileName;
    if (!QDir().mkpath(screenshotDir()) || !pixmap.save(path, "PNG")) {
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
        return false;
    }
    qInfo("Screenshots: wrote %s", qPrintable(path));
    return true;
}

QPushButton* buttonWithText(const QWidget& parent, const QString& text)
{
    for (QPushButton* button : parent.findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace TestSupport
