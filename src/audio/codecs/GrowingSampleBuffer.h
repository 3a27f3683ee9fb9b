#pragma once
// Interleaved output that grows while a decoder runs. A length the stream
// announces is only a hint, capped so a forged header cannot reserve
// gigabytes. Room is handed out uninitialised: the decoder fills it before
// it asks for more room or takes the values. Every value taken lies within
// the sample bound: what was written since the last request is bounded at
// the next one, while it is still in the cache, so no decoding path of any
// reader can miss it.

#include "common/SampleBound.h"
#include "common/SampleMemory.h"

#include <QList>
#include <algorithm>
#include <cstring>

class GrowingSampleBuffer {
public:
    // hintValues: the length the stream announces; limitValues: a bound
    // derived from the input size beyond which the hint is not trusted.
    void reserveHint(qint64 hintValues, qint64 limitValues)
    {
        const qint64 n = std::min(hintValues, limitValues);
        if (n > m_values.size())
            grow(qsizetype(n));
    }

    // Room for `count` more values; returns where to write them.
    float* append(qsizetype count)
    {
        boundWritten();
        if (m_size + count > m_values.size())
            grow(std::max(m_size + count, m_values.size() * 2));
        float* at = m_values.data() + m_size;
        m_size += count;
        return at;
    }

    // `count` values from `from` on, handed out again to be written over.
    // Only they are bounded again: writing over a little of a long output
    // costs what is written, not the length behind it.
    float* rewrite(qsizetype from, qsizetype count)
    {
        boundWritten();
        m_rewrittenFrom = from;
        m_rewritten = count;
        return m_values.data() + from;
    }

    // Gives back the last `count` values handed out.
    void shrinkBy(qsizetype count)
    {
        m_size -= count;
        m_bounded = std::min(m_bounded, m_size);
        m_rewritten = std::clamp<qsizetype>(m_size - m_rewrittenFrom, 0, m_rewritten);
    }

    qsizetype size() const { return m_size; }
    // The room held so far, used or not.
    float* data() { return m_values.data(); }
    qsizetype capacity() const { return m_values.size(); }

    QList<float> take()
    {
        boundWritten();
        m_values.resize(m_size);
        // Doubling may have left much unused room; a decoded file lives long.
        if (m_values.capacity() > m_size + m_size / 4)
            m_values.squeeze();
        m_size = 0;
        m_bounded = 0;
        m_rewritten = 0;
        return std::move(m_values);
    }

private:
    void boundWritten()
    {
        SampleBound::apply(m_values.data() + m_rewrittenFrom, m_rewritten);
        m_rewritten = 0;
        SampleBound::apply(m_values.data() + m_bounded, m_size - m_bounded);
        m_bounded = m_size;
    }

    void grow(qsizetype capacity)
    {
        QList<float> bigger = SampleMemory::uninitialized(capacity);
        if (m_size > 0)
            std::memcpy(bigger.data(), m_values.constData(), size_t(m_size) * sizeof(float));
        m_values = std::move(bigger);
    }

    QList<float> m_values;  // its size is the capacity; m_size values are valid
    qsizetype m_size = 0;
    qsizetype m_bounded = 0; // values before this one are within the bound,
    qsizetype m_rewrittenFrom = 0; // but for the `m_rewritten` from here, which
    qsizetype m_rewritten = 0;     // were handed out again since the last request
};
