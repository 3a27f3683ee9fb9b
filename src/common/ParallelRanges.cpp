#include "common/ParallelRanges.h"

#include <QThread>

#include <algorithm>
#include <exception>
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
    // A part that fails (memory running out) lets the others finish; its
    // failure then reaches the caller as if the work had run on its thread.
    std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
    auto runPart = [&](int part) {
        try {
            fn(part, begin(part), begin(part + 1));
        } catch (...) {
            failures[size_t(part)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(size_t(parts - 1));
    int started = 1;
    for (; started < parts; ++started) {
        try {
            threads.emplace_back(runPart, started);
        } catch (...) {
            break; // no thread to be had: the caller's thread does the rest
        }
    }
    runPart(0);
    for (int part = started; part < parts; ++part)
        runPart(part);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

} // namespace ParallelRanges
