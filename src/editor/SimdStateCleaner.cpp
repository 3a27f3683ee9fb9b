#include "editor/SimdStateCleaner.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace {

__attribute__((target("avx"))) void zeroUpper()
{
    _mm256_zeroupper();
}

} // namespace

void SimdStateCleaner::clearUpperRegisters()
{
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        zeroUpper();
}
#else
void SimdStateCleaner::clearUpperRegisters()
{
}
#endif
