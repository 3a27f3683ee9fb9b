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

QRgb tableRgb(int index)
{
    const SpectrogramImageBuilder::ColorEntry& e = SpectrogramImageBuilder::colorTable()[index];
    return qRgb(e.red, e.green, e.blue);
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
    const float scaled = value * 255.0f + 0.5f;
    if (!(scaled >= 1.0f))          // below one step, or not a number
        return 0;
    if (scaled >= 255.0f)
        return 255;
    return static_cast<int>(scaled);
}

QRgb SpectrogramImageBuilder::color(float value)
{
    return tableRgb(colorIndex(value));
}

int SpectrogramImageBuilder::rowToBin(int y, int height)
{
    if (height < 1)
        return 0;
    const float position = static_cast<float>(height - y) / static_cast<float>(height)
                           * static_cast<float>(height - 1);
    return std::clamp(static_cast<int>(std::floor(position)), 0, height - 1);
}

QImage SpectrogramImageBuilder::build(const SpectrogramColumns& columns)
{
    if (columns.empty() || columns.front().isEmpty())
        return QImage();
    const qsizetype width = qsizetype(columns.size());
    const int height = int(columns.front().size());
    QImage image(int(std::min<qsizetype>(width, INT_MAX)), height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    updateColumns(image, columns, 0, width - 1);
    return image;
}

void SpectrogramImageBuilder::updateColumns(QImage& image, const SpectrogramColumns& columns,
                                            qsizetype first, qsizetype last)
{
    if (image.isNull() || columns.empty())
        return;
    updateCells(image, columns, first, last, 0, image.height() - 1);
}

void SpectrogramImageBuilder::updateCells(QImage& image, const SpectrogramColumns& columns,
                                          qsizetype firstColumn, qsizetype lastColumn,
                                          int firstBin, int lastBin)
{
    if (image.isNull() || columns.empty())
        return;
    const int height = image.height();
    firstColumn = std::max<qsizetype>(firstColumn, 0);
    lastColumn = std::min<qsizetype>({lastColumn, qsizetype(columns.size()) - 1,
                                      qsizetype(image.width()) - 1});
    if (firstColumn > lastColumn)
        return;
    QRgb palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = tableRgb(i);
    std::vector<int> rowBins(height);
    for (int y = 0; y < height; ++y)
        rowBins[y] = rowToBin(y, height);
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    QRgb* pixels = reinterpret_cast<QRgb*>(image.bits());

    // Blocks of columns keep the source columns of one block in cache while
    // each image row of the block is written.
    constexpr qsizetype BlockWidth = 32;
    const float* sources[BlockWidth];
    qsizetype sizes[BlockWidth];
    for (qsizetype x0 = firstColumn; x0 <= lastColumn; x0 += BlockWidth) {
        const qsizetype count = std::min(BlockWidth, lastColumn - x0 + 1);
        for (qsizetype i = 0; i < count; ++i) {
            sources[i] = columns[x0 + i].constData();
            sizes[i] = columns[x0 + i].size();
        }
        for (int y = 0; y < height; ++y) {
            const int bin = rowBins[y];
            if (bin < firstBin || bin > lastBin)
                continue;
            QRgb* row = pixels + qsizetype(y) * stride + x0;
            for (qsizetype i = 0; i < count; ++i)
                row[i] = palette[colorIndex(bin < sizes[i] ? sources[i][bin] : 0.0f)];
        }
    }
}
