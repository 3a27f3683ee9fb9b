#pragma once
// What stb_vorbis (compiled in StbVorbis.c) read from a stream's setup
// header but does not tell through its own interface.

#ifdef __cplusplus
extern "C" {
#endif

struct stb_vorbis;

// The block size of each mode of an opened stream, up to `capacity` of
// them written to `sizes`; returns the stream's mode count.
int stbVorbisModeBlockSizes(const struct stb_vorbis* v, int* sizes, int capacity);

#ifdef __cplusplus
}
#endif
