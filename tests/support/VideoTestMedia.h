#pragma once
// Short videos made by the ffmpeg command line while the tests run: known
// colours, a test pattern and known tones, so no media is kept in the tree.

#include "TestSupport.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace VideoTestMedia {

// The folder a test makes its media in; test classes derive from it.
class MediaFolder {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    // The folder exists and ffmpeg is there to fill it.
    bool mediaReady() const { return dir.isValid() && TestSupport::hasCommand("ffmpeg"); }
};

// ffmpeg quietly writing `output` from `inputs` (everything before the output name).
inline bool make(const QString& output, const QStringList& inputs)
{
    return TestSupport::runCommand("ffmpeg", QStringList{"-v", "error", "-nostdin", "-y"} + inputs
                                                 + QStringList{output});
}

// Inputs of a `seconds`-long tone: 440 Hz left, 660 Hz right at 44.1 kHz.
inline QStringList stereoTone(double seconds)
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t)"
                           ":s=44100:d=%1")
                .arg(seconds)};
}

// Inputs of the test pattern at a size, 25 frames a second.
inline QStringList pattern(const QString& size, double seconds)
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("testsrc=size=%1:rate=25:duration=%2").arg(size).arg(seconds)};
}

// A 3 s video of red, green and blue seconds (320x240, 25 fps, a key frame
// every 5 frames) with a mono tone; `container` options pick the file kind.
inline bool makeColourSeconds(const QString& output, const QStringList& codecs)
{
    QStringList args;
    for (const char* colour : {"0xFF0000", "0x00FF00", "0x0000FF"})
        args << "-f" << "lavfi" << "-i" << QStringLiteral("color=c=%1:s=320x240:r=25:d=1").arg(colour);
    args << "-f" << "lavfi" << "-i" << "sine=frequency=440:sample_rate=44100:duration=3"
         << "-filter_complex" << "[0:v][1:v][2:v]concat=n=3:v=1:a=0,format=yuv420p[v]"
         << "-map" << "[v]" << "-map" << "3:a" << "-g" << "5";
    return make(output, args + codecs);
}

// colours.mkv (MPEG-4) and colours.ts (MPEG-2 in MPEG-TS, whose times start
// near 1.4 s) in `dir`.
inline bool makeColourFiles(const QString& dir)
{
    return makeColourSeconds(dir + "/colours.mkv", {"-c:v", "mpeg4", "-q:v", "2", "-c:a", "flac"})
           && makeColourSeconds(dir + "/colours.ts", {"-c:v", "mpeg2video", "-q:v", "2", "-c:a", "mp2"});
}

// Test rows over both colour files, in a column "file".
inline void addColourFileRows()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("Matroska") << "colours.mkv";
    QTest::newRow("MPEG-TS (starts at 1.4 s)") << "colours.ts";
}

// Which of red, green and blue clearly dominates a pixel, or 'none'.
inline char dominantColour(QRgb pixel)
{
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    if (r > 150 && g < 90 && b < 90)
        return 'r';
    if (g > 150 && r < 90 && b < 90)
        return 'g';
    if (b > 150 && r < 90 && g < 90)
        return 'b';
    return '-';
}

inline char centreColour(const QImage& image)
{
    return image.isNull() ? '?' : dominantColour(image.pixel(image.width() / 2, image.height() / 2));
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace VideoTestMedia
