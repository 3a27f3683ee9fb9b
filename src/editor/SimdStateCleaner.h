#pragma once
// Clears the upper halves of the AVX registers. Some library code reached
// through Qt leaves them dirty, and then every SSE instruction of ours pays
// a merge penalty (measured: spectrogram columns seven times slower).
// Called at the start of the long loops; costs nothing measurable.

class SimdStateCleaner {
public:
    static void clearUpperRegisters();
};
