#pragma once
// How much stb_vorbis (compiled in StbVorbis.c) may allocate: the allowance
// is per thread and is used up by the allocations of the next stream opened
// on it. Real streams need under 1 MB. Also the clean-up after failed opens.

#include <stddef.h>

#define STB_VORBIS_DEFAULT_ALLOWANCE (64u << 20)

#ifdef __cplusplus
extern "C" {
#endif

void stbVorbisAllowAllocation(size_t bytes);

// Bracket one open on this thread: it gets `allowance` bytes, and everything
// it allocates is tracked until stbVorbisEndOpen, which frees what is left of
// it when the open failed (stb_vorbis itself leaks some of it then).
void stbVorbisBeginOpen(size_t allowance);
void stbVorbisEndOpen(int opened);

// Blocks that stb_vorbis holds now, on all threads together.
unsigned long long stbVorbisBlocksHeld(void);

#ifdef __cplusplus
}
#endif
