#pragma once
// Clears the upper halves of the AVX registers (vzeroupper) when the CPU has
// them. On some virtual machines they are left marked in use after a child
// process exits or by library code reached through Qt, and every SSE
// instruction then pays a merge penalty (measured: per-sample loops 7-25x
// slower). Long loops call this once before they start; it costs nothing
// measurable.

void clearUpperVectorState();
