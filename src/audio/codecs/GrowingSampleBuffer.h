#pragma once
// Interleaved output that grows while a decoder runs. A length the file
// claims is only a hint, capped so a forged header cannot reserve gigabytes.

#include <QList>
#include <algorithm>

class GrowingSampleBuffer {
public:
    // hintValues: the length the stream announces; limitValues: a bound
    // derived from the input size beyond which the hint is not trusted.
    void reserveHint(qint64 hintValues, qint64 limitValues)
    {
        const qint64 n = std::min(hintValues, limitValues);
        if (n > 0)
            m_values.reserve(qsizetype(n));
    }

    // Room for `count` more values; returns where to write them.
    float* append(qsizetype count)
    {
        const qsizetype old = m_values.size();
        if (old + count > m_values.capacity())
            m_values.reserve(std::max(old + count, m_values.capacity() * 2));
        m_values.resize(old + count);
        return m_values.data() + old;
    }

    // Gives back the last `count` values of the latest append.
    void shrinkBy(qsizetype count) { m_values.resize(m_values.size() - count); }

    qsizetype size() const { return m_values.size(); }
    QList<float> take() { return std::move(m_values); }

private:
    QList<float> m_values;
};
