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
#include <stdint.h>
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

// Every block carries a header before what stb_vorbis sees. While an open
// runs on this thread its blocks are linked into a list (`next` is null for
// a block in no list), so that what a failed open leaves can be freed. The
// header keeps malloc's 16-byte alignment.
typedef struct VorbisBlock {
    struct VorbisBlock* prev;
    struct VorbisBlock* next;
} VorbisBlock;

static _Thread_local VorbisBlock openBlocks; // the list's anchor
static _Thread_local int openRunning;
static _Atomic unsigned long long blocksHeld;

static void* vorbisMalloc(size_t size)
{
    if (size > vorbisAllowance || size > SIZE_MAX - sizeof(VorbisBlock))
        return NULL;
    VorbisBlock* block = malloc(sizeof(VorbisBlock) + size);
    if (!block)
        return NULL;
    vorbisAllowance -= size;
    block->prev = NULL;
    block->next = NULL;
    if (openRunning) {
        block->prev = &openBlocks;
        block->next = openBlocks.next;
        openBlocks.next->prev = block;
        openBlocks.next = block;
    }
    ++blocksHeld;
    return block + 1;
}

static void vorbisFree(void* p)
{
    if (!p)
        return;
    VorbisBlock* block = (VorbisBlock*)p - 1;
    if (block->next) {
        block->prev->next = block->next;
        block->next->prev = block->prev;
    }
    --blocksHeld;
    free(block);
}

void stbVorbisBeginOpen(size_t allowance)
{
    vorbisAllowance = allowance;
    openBlocks.prev = &openBlocks;
    openBlocks.next = &openBlocks;
    openRunning = 1;
}

void stbVorbisEndOpen(int opened)
{
    openRunning = 0;
    while (openBlocks.next != &openBlocks) {
        VorbisBlock* block = openBlocks.next;
        if (opened) { // the stream keeps its blocks; they leave the list
            openBlocks.next = block->next;
            block->prev = NULL;
            block->next = NULL;
        } else {
            vorbisFree(block + 1);
        }
    }
    openBlocks.prev = &openBlocks;
}

unsigned long long stbVorbisBlocksHeld(void)
{
    return blocksHeld;
}

#define malloc(size) vorbisMalloc(size)
#define free(p) vorbisFree(p)

#include <stb/stb_vorbis.h>

#include "StbVorbisModes.h"

int stbVorbisModeBlockSizes(const stb_vorbis* v, int* sizes, int capacity)
{
    for (int i = 0; i < v->mode_count && i < capacity; ++i)
        sizes[i] = v->blocksize[v->mode_config[i].blockflag];
    return v->mode_count;
}
