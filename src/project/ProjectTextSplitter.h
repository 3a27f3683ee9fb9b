#pragma once
// Reads a project's JSON text piece by piece and splits it in two as it
// goes: the strings of every "channels" array (the embedded Base64 audio)
// are decoded straight into float lists, and the rest of the text, with each
// such string left empty, is kept for the JSON parser. Opening a project so
// costs about the memory of its decoded audio, not of its text.
//
// Only strings of plain text are taken out (printable ASCII and white space,
// no escapes but those of line breaks and the slash); any other string stays
// in the text as it was, so the parser sees the same document apart from the
// emptied strings.

#include "Base64Floats.h"

#include <QByteArray>
#include <QList>
#include <memory>
#include <vector>

class QIODevice;

class ProjectTextSplitter {
public:
    struct Channel {
        qsizetype offset = 0;   // in text(): just past the emptied string's opening quote
        int entry = 0;          // its index in the "channels" array
        QList<float> floats;    // entry 1 with a paired entry 2: interleaved L/R
        qsizetype count = 0;    // whole floats its text held
        bool clean = false;     // Base64Floats' sense
        bool interleaved = false;
        int pairedLeft = -1;    // entry 2 decoded into this index's list
    };

    // Reads `device` from its position to its end, in reads of `blockSize`.
    // A string that turns out not to be plain is read again, so the device
    // must be able to seek. False when reading failed.
    bool read(QIODevice* device, qint64 blockSize);

    QByteArray& text() { return m_text; }
    std::vector<Channel>& channels() { return m_channels; }

private:
    struct Level {
        bool array = false;
        bool channels = false;      // an array that is the value of "channels"
        bool expectKey = false;     // an object before its next key
        bool keyIsChannels = false; // an object whose last key was "channels"
        int commas = 0;
        int left = -1;              // its extracted entry 1, while unpaired
    };
    enum class Mode { Outside, String, Key, Channel };

    // Processes bytes; returns how many, or -1 when a string must be read
    // again from m_restartAt.
    qsizetype process(const char* data, qsizetype n, qint64 position);
    void startChannel();
    void endChannel();
    void abandonChannel();
    void closeLevel();

    QByteArray m_text;
    std::vector<Channel> m_channels;
    std::vector<Level> m_levels;
    Mode m_mode = Mode::Outside;
    bool m_escape = false;
    bool m_channelEscape = false; // a channel string's backslash, its escape still to come
    QByteArray m_key;
    bool m_keyEscaped = false;
    qint64 m_channelStart = -1; // file position of the current channel's quote
    qint64 m_plainOnly = -1;    // a string here is kept as text
    qint64 m_restartAt = -1;
    std::unique_ptr<Base64Floats::ChannelDecoder> m_decoder;
};
