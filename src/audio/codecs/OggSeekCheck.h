#pragma once
// Whether stb_vorbis can seek in an Ogg Vorbis file without trusting what it
// cannot check. Its seeking bisects the file by the granule positions of the
// pages it finds (any checksum-valid page, also one hidden in another page's
// body) and asserts, or with assertions off reads out of bounds, when they
// do not rise through the stream. So a file is seekable only when it is one
// run of well-formed pages from its first byte to its last, numbered without
// a gap, with no other valid page inside them, its headers ending a page,
// and granule positions that rise strictly on every page where a packet
// ends (and only there), each by no more than the packets ending there
// decode to: a page lost before pages numbered on without a gap shows only
// as a larger step.
// Anything else is decoded in one pass instead.

#include "VorbisPacketClock.h"

#include <QByteArray>

namespace OggSeekCheck {

// `clock`: the stream's, fed no page yet.
bool seekable(const QByteArray& bytes, VorbisPacketClock clock);

} // namespace OggSeekCheck
