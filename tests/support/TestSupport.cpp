#include "TestSupport.h"

#include "audio/dsp/VectorState.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <cmath>

namespace TestSupport {

QList<float> sineWave(double frequency, double seconds, int sampleRate, float amplitude)
{
    const qsizetype count = static_cast<qsizetype>(std::llround(seconds * sampleRate));
    QList<float> out(count);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = amplitude * static_cast<float>(std::sin(2.0 * M_PI * frequency * double(i) / sampleRate));
    return out;
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

QString sourceDir()
{
    const QString dir = qEnvironmentVariable("CDW_SOURCE_DIR");
    return dir.isEmpty() ? QStringLiteral(".") : dir;
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

} // namespace TestSupport
