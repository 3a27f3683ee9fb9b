#pragma once
// What an export command writes: the list, its channel count and bit depth,
// chosen from the single-track page's lists or from the multitrack mixdown.
// A file with one channel is always the mix of both channels, never an
// interleaved list read as mono (which would double its length).

#include <QList>
#include <QString>

namespace AudioExport {

enum class Format { Wav, Mp3, Flac };

struct Request {
    QList<float> data; // interleaved when channels is 2
    int channels = 1;
    int bits = 16;
};

// WAV and FLAC take the stereo list when there is one and the page was not
// made mono, else the mono list; MP3 always the mono list at 16 bits.
Request fromSingleTrack(Format format, const QList<float>& mono, const QList<float>& stereo,
                        int bitDepth, bool forceMono);

// From an interleaved stereo mixdown: two channels for WAV and FLAC unless
// the project is mono; MP3 one channel at 16 bits. A one-channel request is
// mixed in the mixdown's own memory: pass it moved when it is not needed
// after, so that a long mix is not held twice.
Request fromMixdown(Format format, QList<float> interleaved, int bitDepth, bool mono);

struct Outcome {
    bool saved = false;
    QString error; // the writer's first message when not saved
};

// Writes the request's list to `path` in the format of its suffix. Uses
// nothing shared, so it may run on a worker thread.
Outcome write(const QString& path, const Request& request, int sampleRate);

QString dialogTitle(Format format);
QString dialogFilter(Format format);

} // namespace AudioExport
