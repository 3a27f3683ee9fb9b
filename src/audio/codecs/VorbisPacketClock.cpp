#include "VorbisPacketClock.h"

#include <utility>

VorbisPacketClock::VorbisPacketClock(std::vector<int> modeBlocks, int longBlock)
    : m_modeBlocks(std::move(modeBlocks))
    , m_longBlock(longBlock)
{
    // The mode number takes as many bits as the highest mode needs.
    for (size_t n = m_modeBlocks.empty() ? 0 : m_modeBlocks.size() - 1; n > 0; n >>= 1)
        ++m_modeBits;
}

int VorbisPacketClock::blockOf(unsigned char firstByte) const
{
    if (firstByte & 1)
        return 0;
    const size_t mode = size_t(firstByte >> 1) & ((size_t(1) << m_modeBits) - 1);
    return mode < m_modeBlocks.size() ? m_modeBlocks[mode] : -1;
}

quint64 VorbisPacketClock::advance(const OggPageParser::Page& page)
{
    const unsigned char* body = page.lacing + page.segments;
    quint64 frames = 0;
    const bool continued = page.flags & OggPageParser::Continued;
    int first = continued && m_open ? m_openFirst : -1;
    m_lastEnded = -1;
    for (int s = 0; s < page.segments; body += page.lacing[s++]) {
        const bool starts = s == 0 ? !continued : page.lacing[s - 1] < 255;
        if (starts)
            first = page.lacing[s] > 0 ? body[0] : -1;
        if (page.lacing[s] == 255)
            continue;
        const int block = first < 0 ? -1 : blockOf(static_cast<unsigned char>(first));
        m_lastEnded = block;
        if (block == 0)
            continue;
        if (m_started)
            frames += quint64((m_previous < 0 ? m_longBlock : m_previous) / 4 + (block < 0 ? m_longBlock : block) / 4);
        m_started = true;
        m_previous = block;
    }
    if (page.segments > 0) {
        m_open = page.lacing[page.segments - 1] == 255;
        m_openFirst = first;
    }
    return frames;
}

void VorbisPacketClock::restart()
{
    m_previous = -1;
    m_open = false;
    m_openFirst = -1;
}
