#include "plugins/ElfLibraryCheck.h"

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

#if defined(__x86_64__)
constexpr int kHostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kHostMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int kHostMachine = EM_386;
#elif defined(__arm__)
constexpr int kHostMachine = EM_ARM;
#else
constexpr int kHostMachine = -1; // unknown here: the loader decides
#endif

constexpr unsigned char kHostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kHostData = ELFDATA2LSB;
#else
constexpr unsigned char kHostData = ELFDATA2MSB;
#endif

// Reads `size` bytes at `offset`; false when the file is shorter.
bool readAt(std::ifstream& file, std::uint64_t offset, void* target, std::size_t size)
{
    file.clear();
    file.seekg(std::streamoff(offset));
    file.read(static_cast<char*>(target), std::streamsize(size));
    return file.gcount() == std::streamsize(size);
}

// True when [offset, offset + size) lies within a file of fileSize bytes.
bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

template <class Header, class ProgramHeader>
bool checkSegments(std::ifstream& file, std::uint64_t fileSize, std::string& reason)
{
    Header header;
    if (!readAt(file, 0, &header, sizeof header)) {
        reason = "the ELF header is cut short";
        return false;
    }
    if (header.e_type != ET_DYN) {
        reason = "not a shared library";
        return false;
    }
    if (kHostMachine >= 0 && header.e_machine != kHostMachine) {
        reason = "a library for another processor (ELF machine " + std::to_string(header.e_machine) + ")";
        return false;
    }
    if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 ||
        !within(header.e_phoff, std::uint64_t(header.e_phnum) * sizeof(ProgramHeader), fileSize)) {
        reason = "the program headers lie outside the file";
        return false;
    }
    std::vector<ProgramHeader> segments(header.e_phnum);
    if (!readAt(file, header.e_phoff, segments.data(), segments.size() * sizeof(ProgramHeader))) {
        reason = "the program headers cannot be read";
        return false;
    }
    for (const ProgramHeader& segment : segments) {
        // A segment with nothing from the file (only zeroed memory) maps none of it.
        if (segment.p_type == PT_LOAD && segment.p_filesz > 0 &&
            !within(segment.p_offset, segment.p_filesz, fileSize)) {
            reason = "the file is cut short (a segment ends past its end)";
            return false;
        }
    }
    return true;
}

} // namespace

namespace ElfLibraryCheck {

bool isLoadable(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    const std::uint64_t fileSize = std::uint64_t(file.tellg());
    unsigned char ident[EI_NIDENT] = {};
    std::string reason;
    if (!readAt(file, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) {
        reason = "not an ELF shared library";
    } else if (ident[EI_CLASS] != kHostClass || ident[EI_DATA] != kHostData) {
        reason = "a library for another processor (wrong ELF class or byte order)";
    } else {
        const bool ok = kHostClass == ELFCLASS64 ? checkSegments<Elf64_Ehdr, Elf64_Phdr>(file, fileSize, reason)
                                                 : checkSegments<Elf32_Ehdr, Elf32_Phdr>(file, fileSize, reason);
        if (ok)
            return true;
    }
    error = path + ": " + reason;
    return false;
}

} // namespace ElfLibraryCheck
