#pragma once
// Reading the page structure of an Ogg file: one page as stb_vorbis's page
// search accepts it, and a walk over the whole file that lists the pages
// whose checksums hold and tells whether it is damaged or ends before its
// last page.

#include <QByteArray>
#include <QString>

#include <vector>

namespace OggPageParser {

enum Flag { Continued = 1, FirstPage = 2, LastPage = 4 };

constexpr qint64 kHeaderBytes = 27; // up to the segment count
// A page's position where none is stated (no packet ends on it).
constexpr quint64 kNoPosition = ~quint64(0);

struct Page {
    qint64 begin = 0;
    qint64 end = 0;
    int flags = 0;
    quint64 granule = 0;
    quint32 serial = 0;
    quint32 sequence = 0;
    int segments = 0;
    const unsigned char* lacing = nullptr;
};

// The Ogg checksum of `count` bytes: of a page whose checksum field is zeros.
quint32 checksum(const unsigned char* data, qint64 count);

// The page at `at`: capture pattern, version 0, the whole page inside the
// data, a matching checksum. `checked`, when given, grows by the bytes
// checksummed.
bool pageAt(const unsigned char* data, qint64 size, qint64 at, Page& page, qint64* checked = nullptr);

// The page at `at` as its header states it, whether its checksum holds or not.
bool statedPageAt(const unsigned char* data, qint64 size, qint64 at, Page& page);

// How many packets end on the page: its lacing values below 255.
int packetsEnding(const Page& page);

// What a search for pages may spend on checksums that fail: as many bytes
// as the data holds, and at least a megabyte. Damage rarely holds a capture
// pattern at all; only crafted data makes a search come near this.
qint64 failedCheckAllowance(qint64 size);

struct Survey {
    std::vector<Page> pages; // whose checksums hold, in file order
    bool damaged = false;    // bytes that are no page before a later page
    // Pages numbered other than one on from the page before them in their
    // stream: pages missing (or a cut) before them. Indices into `pages`.
    std::vector<size_t> sequenceJumps;
    bool cutShort = false;   // the last page is cut off or is not marked as the last
    qint64 checkedBytes = 0; // bytes checksummed on the way: the walk's work
};

// After damage the walk resumes at the next capture pattern whose header
// could continue the stream and whose checksum holds. Once the failed
// checksums have cost the allowance, the rest of the data counts as damage.
Survey survey(const QByteArray& bytes);

// Whether the last page whose checksum holds belongs to another logical
// stream than the first page: a stream chained after the first one.
bool endsInOtherStream(const QByteArray& bytes);

// The codec that the first packet of one of the file's first pages (of the
// streams multiplexed at its start) names, when it is one that is not
// Vorbis: "Opus" or "FLAC". Empty otherwise.
QString otherCodec(const QByteArray& bytes);

} // namespace OggPageParser
