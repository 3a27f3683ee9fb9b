#pragma once
// Splits work into consecutive parts and runs them on their own threads
// (the first on the caller's), so long files decode and convert on every core.

#include <QtGlobal>
#include <functional>

namespace ParallelRanges {

// Threads worth using on this machine (1 when it cannot tell).
int availableThreads();

// Runs fn(part, begin, end) for `parts` consecutive ranges covering [0, count).
// An exception from a part is thrown again here once every part has ended.
void run(qint64 count, int parts, const std::function<void(int, qint64, qint64)>& fn);

// How many parts of at least minPerPart items to use for `count` items.
int partsFor(qint64 count, qint64 minPerPart);

} // namespace ParallelRanges
