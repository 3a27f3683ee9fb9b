// The one translation unit that compiles stb_vorbis's implementation; every
// other user includes it with STB_VORBIS_HEADER_ONLY.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#endif
#include <stb/stb_vorbis.h>
