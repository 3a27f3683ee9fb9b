#pragma once
// How much stb_vorbis (compiled in StbVorbis.c) may allocate: the allowance
// is per thread and is used up by the allocations of the next stream opened
// on it. Real streams need under 1 MB.

#include <stddef.h>

#define STB_VORBIS_DEFAULT_ALLOWANCE (64u << 20)

#ifdef __cplusplus
extern "C" {
#endif

void stbVorbisAllowAllocation(size_t bytes);

#ifdef __cplusplus
}
#endif
