#pragma once
// The cells of a spectrogram, one byte each: a column per hop of audio,
// `height()` bins per column (bin 0 first), each cell the index of its
// colour in the 256-entry colour table (0 for -100 dB and below, 255 for
// -30 dB and above). A picture is coloured from the cells when it is drawn,
// so ten minutes of stereo take about 100 MB rather than four times that as
// floats and again as a 32-bit image.
//
// Columns are stored one after another; the live path drops the oldest
// column in constant time (the storage is compacted now and then).

#include <QList>
#include <QtGlobal>
#include <cstdint>
#include <vector>

class SpectrogramGrid {
public:
    using Cell = std::uint8_t;

    void clear();
    // Empties the grid and sets the bins per column.
    void reset(int height);
    // `columns` columns of zero cells (for a whole-list computation).
    void resize(qsizetype columns);

    int height() const { return bins; }
    qsizetype columnCount() const { return count; }
    bool isEmpty() const { return count == 0; }

    const Cell* column(qsizetype index) const { return cells.data() + (first + index) * bins; }
    Cell* column(qsizetype index) { return cells.data() + (first + index) * bins; }

    // A new last column (left for the caller to fill).
    Cell* appendColumn();
    void dropFrontColumn();

    // The cell of a value in [0, 1]: clamp((int)(v * 255 + 0.5), 0, 255); a
    // value that is not a number is silence (0).
    static Cell cellFor(float value)
    {
        const float scaled = value * 255.0f + 0.5f;
        if (!(scaled >= 1.0f))          // below one step, or not a number
            return 0;
        if (scaled >= 255.0f)
            return 255;
        return Cell(static_cast<int>(scaled));
    }

    // A column's values in [0, 1] (cell / 255).
    QList<float> columnValues(qsizetype index) const;
    static float cellValue(Cell cell) { return float(cell) / 255.0f; }

    // Bytes held, for the memory checks.
    qsizetype byteSize() const { return qsizetype(cells.capacity()); }

private:
    void compact();

    std::vector<Cell> cells;
    qsizetype first = 0;   // dropped columns still at the front of `cells`
    qsizetype count = 0;
    int bins = 0;
};
