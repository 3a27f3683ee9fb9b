// The one translation unit that compiles stb_vorbis's implementation; every
// other user includes it with STB_VORBIS_HEADER_ONLY.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#endif

// Everything stb_vorbis includes comes first, so the allocation macro
// below reaches only its own calls.
#include <alloca.h>
#include <assert.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "StbVorbisAllowance.h"

// stb_vorbis sizes its tables from counts in the stream's setup header, so
// a few hundred crafted bytes can make it allocate and fill gigabytes. It
// allocates only while it opens a stream (decoding works on the stack), so
// each open gets an allowance: allocations beyond it are refused, which
// stb_vorbis reports as running out of memory. Counting what is handed out
// rather than what is held keeps memory that it leaks on some failures
// from shrinking the next stream's allowance.
static _Thread_local size_t vorbisAllowance = STB_VORBIS_DEFAULT_ALLOWANCE;

void stbVorbisAllowAllocation(size_t bytes)
{
    vorbisAllowance = bytes;
}

static void* vorbisMalloc(size_t size)
{
    if (size > vorbisAllowance)
        return NULL;
    void* p = malloc(size);
    if (p)
        vorbisAllowance -= size;
    return p;
}

#define malloc(size) vorbisMalloc(size)

#include <stb/stb_vorbis.h>
