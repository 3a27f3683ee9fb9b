#pragma once
// Turns spectrogram columns into a picture of one pixel per column and bin
// (highest bin on the top row) through a 256-entry colour table running from
// dark violet through red to light orange.

#include "editor/SpectrogramComputer.h"

#include <QImage>
#include <QRgb>
#include <array>
#include <cstdint>

class SpectrogramImageBuilder {
public:
    struct ColorEntry {
        std::uint8_t red = 0;
        std::uint8_t green = 0;
        std::uint8_t blue = 0;
    };
    using ColorTable = std::array<ColorEntry, 256>;

    static ColorTable buildColorTable();
    static const ColorTable& colorTable();

    // Table index of a column value: clamp((int)(v * 255 + 0.5), 0, 255);
    // a value that is not a number is silence (0).
    static int colorIndex(float value);
    static QRgb color(float value);

    // Bin shown on image row y of a picture H rows high (row 0 = top bin).
    static int rowToBin(int y, int height);

    // Null image when there are no columns; the height is the oldest
    // column's size.
    static QImage build(const SpectrogramColumns& columns);
    // Redraws columns [first, last] of an image built from the same sequence.
    static void updateColumns(QImage& image, const SpectrogramColumns& columns, qsizetype first,
                              qsizetype last);
    // Redraws the rows whose bin lies in [firstBin, lastBin], columns
    // [firstColumn, lastColumn].
    static void updateCells(QImage& image, const SpectrogramColumns& columns,
                            qsizetype firstColumn, qsizetype lastColumn, int firstBin,
                            int lastBin);
};
