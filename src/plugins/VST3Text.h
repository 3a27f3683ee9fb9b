#pragma once
// Reading text and ids out of records a plug-in filled: every field is read
// with its size as the limit, since a plug-in may leave out the terminator.

#include "plugins/VST3Interfaces.h"

#include <string>

namespace VST3Text {

// The characters of a fixed-size char field up to its first zero or its end.
std::string fromField(const char* field, size_t size);
template <size_t N>
std::string fromField(const char (&field)[N])
{
    return fromField(field, N);
}

// The ASCII characters of a String128 up to its first zero (at most 127 units);
// other characters are left out.
std::string asciiFromString128(const vst::String128 text);

// The 16 bytes in stored order as 32 upper-case hexadecimal digits.
std::string uidToString(const vst::Uid& id);

} // namespace VST3Text
