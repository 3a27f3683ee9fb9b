#pragma once
// A float list of a given length whose values are not initialised: the
// decoders overwrite every value, and zeroing hundreds of megabytes first
// costs as much as a decoding pass.

#include <QList>
#include <QtGlobal>

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

} // namespace SampleMemory
