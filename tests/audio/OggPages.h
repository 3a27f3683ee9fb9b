#pragma once
// Ogg pages as the Ogg Vorbis tests take files apart and put them back
// together: the fixed header, the lacing values and the body of each page,
// written back with a fresh checksum.

#include <QByteArray>
#include <QList>

#include <algorithm>

// The Ogg page checksum: CRC-32, polynomial 0x04C11DB7, initial value 0,
// over the page with its checksum field zeroed.
inline quint32 oggCrc(const QByteArray& page)
{
    quint32 crc = 0;
    for (const char ch : page) {
        crc ^= quint32(quint8(ch)) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

struct OggPage {
    QByteArray header;  // the 27 fixed bytes
    QList<quint8> lacing;
    QByteArray body;
};

inline QList<OggPage> oggPages(const QByteArray& bytes)
{
    QList<OggPage> pages;
    qsizetype at = 0;
    while (at + 27 <= bytes.size() && bytes.mid(at, 4) == "OggS") {
        OggPage page;
        page.header = bytes.mid(at, 27);
        const int segments = quint8(bytes[at + 26]);
        qsizetype bodyBytes = 0;
        for (int s = 0; s < segments; ++s) {
            page.lacing << quint8(bytes[at + 27 + s]);
            bodyBytes += page.lacing.last();
        }
        page.body = bytes.mid(at + 27 + segments, bodyBytes);
        pages << page;
        at += 27 + segments + bodyBytes;
    }
    return pages;
}

inline QByteArray pageBytes(const OggPage& page)
{
    QByteArray out = page.header;
    out[26] = char(page.lacing.size());
    for (int i = 22; i < 26; ++i)
        out[i] = 0;
    for (quint8 l : page.lacing)
        out.append(char(l));
    out += page.body;
    const quint32 crc = oggCrc(out);
    for (int i = 0; i < 4; ++i)
        out[22 + i] = char((crc >> (8 * i)) & 0xFF);
    return out;
}

inline void appendLacing(QList<quint8>& lacing, qsizetype bytes)
{
    for (;; bytes -= 255) {
        lacing << quint8(std::min<qsizetype>(bytes, 255));
        if (bytes < 255)
            return;
    }
}
