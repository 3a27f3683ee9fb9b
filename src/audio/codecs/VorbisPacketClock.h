#pragma once
// How far the position of a Vorbis stream can move over its pages. Each
// audio packet adds a quarter of its own block and a quarter of the one
// before it; the stream's first adds nothing. Fed the pages in order, it
// tells the most that the packets ending on a page add: where a packet's
// block cannot be told (its start was lost, its mode is unknown) or the
// block before it is unknown, a long block is counted. A page whose
// position moves further has lost packets before it.

#include "OggPageParser.h"

#include <vector>

class VorbisPacketClock {
public:
    // `modeBlocks`: the block size of each mode; `longBlock`: the larger one.
    VorbisPacketClock(std::vector<int> modeBlocks, int longBlock);

    // The most frames the packets ending on `page` add. The page follows
    // the one fed before it, unless restart() came between.
    quint64 advance(const OggPageParser::Page& page);

    // After a break: the packet running across it is lost, and the block
    // before the next packet is unknown.
    void restart();

    // The block of the packet whose first byte this is: 0 for a packet that
    // is not audio, -1 when its mode is unknown.
    int blockOf(unsigned char firstByte) const;

    // The block of the last packet that ended on the page fed last, as
    // blockOf tells it; -1 when none ended there or its start was not fed.
    int lastEndedBlock() const { return m_lastEnded; }

private:
    std::vector<int> m_modeBlocks;
    int m_modeBits = 0;
    int m_longBlock = 0;
    bool m_started = false; // an audio packet has ended
    int m_previous = -1;    // the block of the last audio packet, -1 unknown
    bool m_open = false;    // a packet runs on from the last page fed
    int m_openFirst = -1;   // that packet's first byte, -1 unknown
    int m_lastEnded = -1;   // see lastEndedBlock
};
