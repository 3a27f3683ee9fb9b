#include "common/ParallelRanges.h"

#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>

namespace ParallelRanges {

int availableThreads()
{
    // More threads than this only add start-up cost for the sizes we see.
    constexpr int kMaxThreads = 8;
    // Qt's count honours the process's CPU affinity.
    return std::clamp(QThread::idealThreadCount(), 1, kMaxThreads);
}

int partsFor(qint64 count, qint64 minPerPart)
{
    if (count <= 0 || minPerPart <= 0)
        return 1;
    return int(std::clamp<qint64>(count / minPerPart, 1, availableThreads()));
}

void run(qint64 count, int parts, const std::function<void(int, qint64, qint64)>& fn)
{
    parts = int(std::clamp<qint64>(parts, 1, std::max<qint64>(count, 1)));
    auto begin = [count, parts](int part) { return count * part / parts; };
    std::vector<std::thread> threads;
    threads.reserve(size_t(parts - 1));
    for (int part = 1; part < parts; ++part)
        threads.emplace_back(fn, part, begin(part), begin(part + 1));
    fn(0, 0, begin(1));
    for (std::thread& t : threads)
        t.join();
}

} // namespace ParallelRanges
