#pragma once
// Colours spectrogram cells through a 256-entry colour table running from
// dark violet through red to light orange: a whole picture (one pixel per
// column and bin, highest bin on the top row) or the part of it that one
// band of the view shows, at the band's size.

#include "editor/SpectrogramGrid.h"

#include <QImage>
#include <QRgb>
#include <QSize>
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
    static QRgb cellColor(SpectrogramGrid::Cell cell);

    // Bin shown on picture row y of a picture H rows high (row 0 = top bin).
    static int rowToBin(int y, int height);
    // Bin shown on row y of a band `bandHeight` pixels high that shows the
    // whole picture of H bins: the picture row under the pixel's centre.
    static int bandRowToBin(int y, int bandHeight, int height);

    // The whole picture; null when the grid is empty.
    static QImage build(const SpectrogramGrid& grid);
    // A picture of `size` pixels: pixel column x shows grid column
    // floor(firstColumn + (x + 0.5) * columnsPerPixel), clamped to the grid,
    // and every row the bin of bandRowToBin. Null when the grid is empty.
    static QImage render(const SpectrogramGrid& grid, QSize size, double firstColumn,
                         double columnsPerPixel);
};
