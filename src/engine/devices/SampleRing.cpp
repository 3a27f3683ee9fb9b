#include "engine/devices/SampleRing.h"

#include <algorithm>
#include <cstring>

void SampleRing::reset(qsizetype capacity)
{
    capacity = std::max<qsizetype>(capacity, 1);
    if (capacity != size) {
        ring.reset(new float[size_t(capacity)]);
        size = capacity;
    }
    written.store(0);
    read.store(0);
}

bool SampleRing::push(const float* samples, int count) noexcept
{
    if (!samples || count < 1 || size < 1)
        return false;
    const std::uint64_t w = written.load(std::memory_order_relaxed);
    const std::uint64_t used = w - read.load(std::memory_order_acquire);
    if (std::uint64_t(count) > std::uint64_t(size) - used)
        return false;
    const size_t at = size_t(w % std::uint64_t(size));
    const size_t first = std::min(size_t(count), size_t(size) - at);
    std::memcpy(ring.get() + at, samples, first * sizeof(float));
    std::memcpy(ring.get(), samples + first, (size_t(count) - first) * sizeof(float));
    written.store(w + std::uint64_t(count), std::memory_order_release);
    return true;
}

qsizetype SampleRing::space() const
{
    const std::uint64_t used = written.load(std::memory_order_relaxed) - read.load(std::memory_order_acquire);
    return size - qsizetype(used);
}

const float* SampleRing::front(qsizetype& count) const
{
    const std::uint64_t w = written.load(std::memory_order_acquire);
    const std::uint64_t r = read.load(std::memory_order_relaxed);
    const size_t at = size > 0 ? size_t(r % std::uint64_t(size)) : 0;
    count = qsizetype(std::min<std::uint64_t>(w - r, std::uint64_t(size) - at));
    return count > 0 ? ring.get() + at : nullptr;
}

void SampleRing::release(qsizetype count)
{
    read.store(read.load(std::memory_order_relaxed) + std::uint64_t(count), std::memory_order_release);
}
