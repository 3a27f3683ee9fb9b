#include "editor/SpectrogramGrid.h"

#include <algorithm>
#include <cstring>

void SpectrogramGrid::clear()
{
    std::vector<Cell>().swap(cells);
    first = 0;
    count = 0;
}

void SpectrogramGrid::reset(int height)
{
    clear();
    bins = std::max(height, 0);
}

void SpectrogramGrid::resize(qsizetype columns)
{
    compact();
    columns = std::max<qsizetype>(columns, 0);
    // Exactly the size asked for: a whole list's cells are the largest block
    // the view holds, and growth by doubling would reserve twice that.
    std::vector<Cell> sized(size_t(columns) * size_t(bins), Cell(0));
    const size_t kept = size_t(std::min(columns, count)) * size_t(bins);
    if (kept > 0)
        std::memcpy(sized.data(), cells.data(), kept);
    cells.swap(sized);
    count = columns;
}

SpectrogramGrid::Cell* SpectrogramGrid::appendColumn()
{
    if (size_t(first + count + 1) * size_t(bins) > cells.capacity()) {
        compact();   // reuse the room of dropped columns before growing
        // Still full: grow with some headroom, so that a long sequence that
        // drops a column for each one appended is not moved every time.
        if (size_t(count + 1) * size_t(bins) > cells.capacity())
            cells.reserve(size_t(count + 1 + std::max<qsizetype>(count / 8, 64)) * size_t(bins));
    }
    cells.resize(size_t(first + count + 1) * size_t(bins), Cell(0));
    ++count;
    return column(count - 1);
}

void SpectrogramGrid::dropFrontColumn()
{
    if (count == 0)
        return;
    ++first;
    --count;
    if (count == 0)
        first = 0;
    else if (first >= 256 && first >= count)
        compact();
}

void SpectrogramGrid::compact()
{
    if (first == 0)
        return;
    const size_t bytes = size_t(count) * size_t(bins);
    if (bytes > 0)
        std::memmove(cells.data(), cells.data() + size_t(first) * size_t(bins), bytes);
    cells.resize(bytes);
    first = 0;
}

QList<float> SpectrogramGrid::columnValues(qsizetype index) const
{
    if (index < 0 || index >= count)
        return {};
    const Cell* cell = column(index);
    QList<float> values(bins);
    for (int k = 0; k < bins; ++k)
        values[k] = cellValue(cell[k]);
    return values;
}
