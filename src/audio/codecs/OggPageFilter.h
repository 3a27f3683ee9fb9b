#pragma once
// The pages of an Ogg file that the Vorbis reader decodes: the Vorbis
// stream alone where other logical streams are multiplexed beside it (a
// Skeleton index, a video), and each audio page once where one was written
// again. Everything else (damage, chained streams) is kept as it is.

#include "OggPageParser.h"

#include <QByteArray>

namespace OggPageFilter {

// False when every page is kept; otherwise `kept` holds the file without
// the pages left out, and `repeats` counts the repeated pages among them.
// The Vorbis stream's pages after a repeat that took a number of its own are
// numbered on as if it had not been there.
bool vorbisPages(const QByteArray& bytes, const OggPageParser::Survey& survey, QByteArray& kept, int& repeats);

} // namespace OggPageFilter
