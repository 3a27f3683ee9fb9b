// The one translation unit that compiles stb_vorbis's implementation; every
// other user includes it with STB_VORBIS_HEADER_ONLY.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#endif

// Everything stb_vorbis includes comes first, so the allocation macros
// below reach only its own calls.
#include <alloca.h>
#include <assert.h>
#include <limits.h>
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// stb_vorbis sizes its tables from counts in the stream's setup header, so
// a few hundred crafted bytes can make it allocate and fill gigabytes. Its
// allocations go through these functions, which refuse to let one thread
// hold more than kVorbisHeldLimit bytes (real streams need under 1 MB);
// stb_vorbis reports a refusal as running out of memory. Each decoder is
// opened, used and closed on one thread.
enum { kVorbisHeldLimit = 64 << 20 };

typedef union {
    size_t size;
    max_align_t align;
} VorbisBlockHeader;

static _Thread_local size_t vorbisHeld;

static void* vorbisMalloc(size_t size)
{
    if (size > kVorbisHeldLimit - vorbisHeld)
        return NULL;
    VorbisBlockHeader* block = malloc(sizeof(VorbisBlockHeader) + size);
    if (!block)
        return NULL;
    block->size = size;
    vorbisHeld += size;
    return block + 1;
}

static void vorbisFree(void* p)
{
    if (!p)
        return;
    VorbisBlockHeader* block = (VorbisBlockHeader*)p - 1;
    vorbisHeld -= block->size < vorbisHeld ? block->size : vorbisHeld;
    free(block);
}

static void* vorbisRealloc(void* p, size_t size)
{
    if (!p)
        return vorbisMalloc(size);
    const size_t old = ((VorbisBlockHeader*)p - 1)->size;
    void* q = vorbisMalloc(size);
    if (!q)
        return NULL;
    memcpy(q, p, old < size ? old : size);
    vorbisFree(p);
    return q;
}

#define malloc(size) vorbisMalloc(size)
#define free(p) vorbisFree(p)
#define realloc(p, size) vorbisRealloc(p, size)

#include <stb/stb_vorbis.h>
