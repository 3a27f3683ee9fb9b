#pragma once
// Which files the import command hands to the video import: those whose
// suffix, in any letter case, is one of the video suffixes.

#include <QString>

namespace VideoFiles {

bool isVideoFile(const QString& path);

} // namespace VideoFiles
