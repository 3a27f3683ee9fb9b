#include "VST3Text.h"

namespace VST3Text {

std::string fromField(const char* field, size_t size)
{
    size_t length = 0;
    while (length < size && field[length] != '\0')
        ++length;
    return std::string(field, length);
}

std::string asciiFromString128(const vst::String128 text)
{
    std::string out;
    for (int i = 0; i < 127 && text[i] != 0; ++i)
        if (text[i] < 128)
            out.push_back(char(text[i]));
    return out;
}

std::string uidToString(const vst::Uid& id)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(32);
    for (char byte : id.bytes) {
        const unsigned value = static_cast<unsigned char>(byte);
        out.push_back(digits[value >> 4]);
        out.push_back(digits[value & 15]);
    }
    return out;
}

} // namespace VST3Text
