#include "editor/SpectrogramImageBuilder.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

float hueToChannel(float p, float q, float x)
{
    if (x < 0.0f)
        x += 1.0f;
    if (x > 1.0f)
        x -= 1.0f;
    if (x < 1.0f / 6.0f)
        return p + (q - p) * 6.0f * x;
    if (x < 0.5f)
        return q;
    if (x < 2.0f / 3.0f)
        return p + (q - p) * (2.0f / 3.0f - x) * 6.0f;
    return p;
}

std::uint8_t toByte(float c)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(c * 255.0f), 0L, 255L));
}

// The table as opaque pixels, built once.
const std::array<QRgb, 256>& palette()
{
    static const std::array<QRgb, 256> pixels = [] {
        std::array<QRgb, 256> out{};
        const SpectrogramImageBuilder::ColorTable& table = SpectrogramImageBuilder::colorTable();
        for (int i = 0; i < 256; ++i)
            out[i] = qRgb(table[i].red, table[i].green, table[i].blue);
        return out;
    }();
    return pixels;
}

} // namespace

SpectrogramImageBuilder::ColorTable SpectrogramImageBuilder::buildColorTable()
{
    ColorTable table;
    for (int i = 0; i < 256; ++i) {
        const float t = static_cast<float>(i) / 255.0f;
        const float hue = std::fmod(280.0f + 120.0f * t, 360.0f) / 360.0f;
        const float saturation = 1.0f;
        const float lightness = (10.0f + 70.0f * t) / 100.0f;
        const float q = lightness < 0.5f ? lightness * (1.0f + saturation)
                                         : lightness + saturation - lightness * saturation;
        const float p = 2.0f * lightness - q;
        table[i].red = toByte(hueToChannel(p, q, hue + 1.0f / 3.0f));
        table[i].green = toByte(hueToChannel(p, q, hue));
        table[i].blue = toByte(hueToChannel(p, q, hue - 1.0f / 3.0f));
    }
    return table;
}

const SpectrogramImageBuilder::ColorTable& SpectrogramImageBuilder::colorTable()
{
    static const ColorTable table = buildColorTable();
    return table;
}

int SpectrogramImageBuilder::colorIndex(float value)
{
    return SpectrogramGrid::cellFor(value);
}

QRgb SpectrogramImageBuilder::color(float value)
{
    return palette()[colorIndex(value)];
}

QRgb SpectrogramImageBuilder::cellColor(SpectrogramGrid::Cell cell)
{
    return palette()[cell];
}

int SpectrogramImageBuilder::rowToBin(int y, int height)
{
    if (height < 1)
        return 0;
    const float position = static_cast<float>(height - y) / static_cast<float>(height)
                           * static_cast<float>(height - 1);
    return std::clamp(static_cast<int>(std::floor(position)), 0, height - 1);
}

int SpectrogramImageBuilder::bandRowToBin(int y, int bandHeight, int height)
{
    if (bandHeight < 1 || height < 1)
        return 0;
    const int row = static_cast<int>(std::floor((y + 0.5) * height / bandHeight));
    return rowToBin(std::clamp(row, 0, height - 1), height);
}

QImage SpectrogramImageBuilder::build(const SpectrogramGrid& grid)
{
    if (grid.isEmpty() || grid.height() < 1)
        return QImage();
    return render(grid, QSize(int(std::min<qsizetype>(grid.columnCount(), INT_MAX)), grid.height()),
                  0.0, 1.0);
}

QImage SpectrogramImageBuilder::render(const SpectrogramGrid& grid, QSize size, double firstColumn,
                                       double columnsPerPixel)
{
    if (grid.isEmpty() || grid.height() < 1 || size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const int width = size.width();
    const int rows = size.height();
    const qsizetype lastColumn = grid.columnCount() - 1;
    std::vector<const SpectrogramGrid::Cell*> columns(width);
    for (int x = 0; x < width; ++x) {
        const double position = std::floor(firstColumn + (x + 0.5) * columnsPerPixel);
        const qsizetype index =
            std::isnan(position) ? 0 : qsizetype(std::clamp(position, 0.0, double(lastColumn)));
        columns[x] = grid.column(index);
    }
    const std::array<QRgb, 256>& pixels = palette();
    for (int y = 0; y < rows; ++y) {
        const int bin = bandRowToBin(y, rows, grid.height());
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = pixels[columns[x][bin]];
    }
    return image;
}
