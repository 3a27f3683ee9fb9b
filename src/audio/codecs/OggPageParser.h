#pragma once
// Reading the page structure of an Ogg file: one page as stb_vorbis's page
// search accepts it, and a walk over the whole file that tells whether it
// is damaged or ends before its last page.

#include <QByteArray>

namespace OggPageParser {

enum Flag { Continued = 1, FirstPage = 2, LastPage = 4 };

constexpr qint64 kHeaderBytes = 27; // up to the segment count

struct Page {
    qint64 end = 0;
    int flags = 0;
    quint64 granule = 0;
    quint32 serial = 0;
    quint32 sequence = 0;
    int segments = 0;
    const unsigned char* lacing = nullptr;
};

// The page at `at`: capture pattern, version 0, the whole page inside the
// data, a matching checksum.
bool pageAt(const unsigned char* data, qint64 size, qint64 at, Page& page);

struct Survey {
    bool damaged = false;  // bytes that are no page, or pages missing, before a later page
    bool cutShort = false; // the last page is cut off or is not marked as the last
};

Survey survey(const QByteArray& bytes);

} // namespace OggPageParser
