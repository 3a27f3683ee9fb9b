#pragma once
// A float list of a given length whose values are not initialised: the
// decoders overwrite every value, and zeroing hundreds of megabytes first
// costs as much as a decoding pass.

#include <QList>
#include <QtGlobal>

#include <sys/mman.h>
#include <unistd.h>

namespace SampleMemory {

inline QList<float> uninitialized(qsizetype count)
{
    if (count <= 0)
        return {};
    auto [header, data] = QTypedArrayData<float>::allocate(count);
    if (!header)
        qBadAlloc();
    return QList<float>(QArrayDataPointer<float>(header, data, count));
}

// Maps the pages of [data, data + count) for writing without touching their
// contents. Run on another thread while a decoder fills the room, it takes
// the kernel's page set-up off the decoder's path; where the kernel cannot
// do it, nothing happens.
inline void prefault(float* data, qsizetype count)
{
#ifdef MADV_POPULATE_WRITE
    const auto page = quintptr(sysconf(_SC_PAGESIZE));
    if (!data || count <= 0 || page == 0 || page == quintptr(-1))
        return;
    const quintptr begin = (quintptr(data) + page - 1) / page * page;
    const quintptr end = quintptr(data + count) / page * page;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(data);
    Q_UNUSED(count);
#endif
}

} // namespace SampleMemory
