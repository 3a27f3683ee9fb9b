#include "OggPageFilter.h"

#include <QHashFunctions>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace OggPageFilter {

using OggPageParser::kNoPosition;
using OggPageParser::Page;

namespace {

constexpr int kHeaderPackets = 3;

const unsigned char* headerOf(const Page& page)
{
    return page.lacing - OggPageParser::kHeaderBytes;
}

bool beginsVorbis(const Page& page)
{
    return (page.flags & OggPageParser::FirstPage) && page.segments > 0 && page.lacing[0] >= 7
           && std::memcmp(page.lacing + page.segments, "\x01vorbis", 7) == 0;
}

// Everything a page says but its number and checksum: flags, position,
// stream, lacing and body.
size_t contentHash(const Page& page)
{
    const unsigned char* header = headerOf(page);
    const size_t hash = qHashBits(header + 4, 14);
    return qHashBits(header + 26, size_t(page.end - page.begin - 26), hash);
}

bool sameContent(const Page& a, const Page& b)
{
    const unsigned char* x = headerOf(a);
    const unsigned char* y = headerOf(b);
    return a.end - a.begin == b.end - b.begin && std::memcmp(x + 4, y + 4, 14) == 0
           && std::memcmp(x + 26, y + 26, size_t(a.end - a.begin - 26)) == 0;
}

// Marks the repeats among the Vorbis stream's audio pages (those after its
// header packets that state a position). Of pages alike in all but their
// number, the one that follows the page stating the position just below
// theirs stays (a copy may sit ahead of the original), else the first.
void markRepeats(const std::vector<Page>& pages, quint32 serial, std::vector<bool>& drop)
{
    std::vector<size_t> audio;
    int headerPackets = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].serial != serial || drop[i])
            continue;
        if (headerPackets < kHeaderPackets)
            headerPackets += OggPageParser::packetsEnding(pages[i]);
        else if (pages[i].granule != kNoPosition)
            audio.push_back(i);
    }
    // Positions rise through a sound stream: only a position stated twice
    // can be a repeat, so only those pages are compared.
    std::unordered_map<quint64, int> stated;
    for (size_t i : audio)
        ++stated[pages[i].granule];
    std::vector<quint64> positions;
    std::unordered_map<size_t, std::vector<size_t>> alike; // by content: places in `audio`
    for (size_t a = 0; a < audio.size(); ++a) {
        const Page& page = pages[audio[a]];
        positions.push_back(page.granule);
        if (stated[page.granule] > 1)
            alike[contentHash(page)].push_back(a);
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    for (auto& [hash, places] : alike) {
        while (!places.empty()) {
            const Page& first = pages[audio[places.front()]];
            std::vector<size_t> copies;
            std::vector<size_t> others;
            for (size_t a : places)
                (sameContent(pages[audio[a]], first) ? copies : others).push_back(a);
            const auto below = std::lower_bound(positions.begin(), positions.end(), first.granule);
            auto inPlace = [&](size_t a) {
                if (below == positions.begin())
                    return a == 0;
                return a > 0 && pages[audio[a - 1]].granule == *(below - 1);
            };
            const auto stays = std::find_if(copies.begin(), copies.end(), inPlace);
            const size_t kept = stays == copies.end() ? copies.front() : *stays;
            for (size_t a : copies)
                if (a != kept)
                    drop[audio[a]] = true;
            places = std::move(others);
        }
    }
}

} // namespace

bool vorbisPages(const QByteArray& bytes, const OggPageParser::Survey& survey, QByteArray& kept, int& repeats)
{
    repeats = 0;
    const std::vector<Page>& pages = survey.pages;
    // The streams of a multiplexed file begin together: their first pages
    // come before any other. One of them must be Vorbis.
    std::vector<quint32> others;
    quint32 vorbis = 0;
    int vorbisStreams = 0;
    for (size_t i = 0; i < pages.size() && (pages[i].flags & OggPageParser::FirstPage); ++i) {
        if (beginsVorbis(pages[i])) {
            vorbis = pages[i].serial;
            ++vorbisStreams;
        } else {
            others.push_back(pages[i].serial);
        }
    }
    if (vorbisStreams != 1)
        return false;
    std::sort(others.begin(), others.end());
    std::vector<bool> drop(pages.size(), false);
    for (size_t i = 0; i < pages.size(); ++i)
        drop[i] = pages[i].serial != vorbis && std::binary_search(others.begin(), others.end(), pages[i].serial);
    markRepeats(pages, vorbis, drop);
    if (std::find(drop.begin(), drop.end(), true) == drop.end())
        return false;

    const char* data = bytes.constData();
    kept.clear();
    kept.reserve(bytes.size());
    qint64 copied = 0;
    quint32 shift = 0;      // numbers taken by repeats dropped so far
    int droppedSince = 0;   // repeats since the last page kept
    bool numbered = false;
    quint32 lastNumber = 0; // of the last page kept, as renumbered
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& page = pages[i];
        kept.append(data + copied, qsizetype(page.begin - copied)); // bytes that are no page stay
        copied = page.end;
        if (drop[i]) {
            if (page.serial == vorbis) {
                ++repeats;
                ++droppedSince;
            }
            continue;
        }
        const qsizetype at = kept.size();
        kept.append(data + page.begin, qsizetype(page.end - page.begin));
        if (page.serial != vorbis)
            continue;
        quint32 number = page.sequence - shift;
        if (numbered && droppedSince > 0 && number == lastNumber + 1 + quint32(droppedSince)) {
            shift += quint32(droppedSince);
            number -= quint32(droppedSince);
        }
        droppedSince = 0;
        numbered = true;
        lastNumber = number;
        if (number != page.sequence) {
            char* header = kept.data() + at;
            qToLittleEndian<quint32>(number, header + 18);
            qToLittleEndian<quint32>(0, header + 22);
            qToLittleEndian<quint32>(OggPageParser::checksum(reinterpret_cast<const unsigned char*>(header),
                                                     page.end - page.begin),
                                     header + 22);
        }
    }
    kept.append(data + copied, qsizetype(bytes.size() - copied));
    return true;
}

} // namespace OggPageFilter
