// Painting of SpectrumAnalyzerWidget: layout, spectrogram bands, labels,
// playhead, waveform strip, pointer read-out and the analyser drawing.

#include "editor/SpectrumAnalyzerWidget.h"

#include "widgets/TimeAxisScale.h"

#include <QLinearGradient>
#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

const QColor SeparatorColor(60, 60, 80);
const QColor BandLetterColor(120, 120, 140);
const QColor PlayheadColor(255, 80, 80);
const QColor StripBackground(15, 15, 25);
const QColor EmptyTextColor(100, 100, 120);
const QColor ReadoutFill(0, 0, 0, 180);
const QColor ReadoutOutline(100, 100, 120);
const QColor BrushOutline(255, 100, 50, 200);

QFont sizedFont(const QPainter& painter, int pointSize)
{
    QFont font = painter.font();
    font.setPointSize(pointSize);
    return font;
}

} // namespace

void SpectrumAnalyzerWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!painter.isActive())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (!backgroundJob)
        ensureSpectrumComputed();
    painter.fillRect(rect(), backgroundColor);

    qsizetype leftCount = 0, sampleCount = 0, levelCount = 0;
    QList<QRect> bands;
    {
        QMutexLocker lock(&dataLock);
        leftCount = leftCells.columnCount();
        sampleCount = samples.size();
        levelCount = levels.levels.size();
        bands = bandRects();
    }
    const bool knownMode = displayMode == Spectrogram || displayMode == SpectrogramWithWaveform;
    const bool empty = levelCount == 0 && leftCount == 0
                       && (displayMode == Spectrogram || sampleCount == 0);
    if (knownMode && empty) {
        drawEmptyState(painter);
        return;
    }

    if (knownMode) {
        const QRect spectrumRect = spectrogramRect();
        for (int band = 0; band < bands.size(); ++band) {
            drawSpectrogramBand(painter, bands[band], band);
            drawSpectrogramFreqLabels(painter, bands[band]);
        }
        if (bands.size() == 2) {
            // Separator and letters go over both pictures, so the lower one
            // cannot cover them.
            const QRect& upper = bands[0];
            const QRect& lower = bands[1];
            painter.setPen(QPen(SeparatorColor, 1));
            painter.drawLine(spectrumRect.left(), lower.top(), spectrumRect.right(), lower.top());
            painter.setPen(BandLetterColor);
            painter.setFont(QFont(QStringLiteral("Arial"), 8));
            painter.drawText(upper.left() + 4, upper.top() + 12, QStringLiteral("L"));
            painter.drawText(lower.left() + 4, lower.top() + 12, QStringLiteral("R"));
        }
        drawSpectrogramTimeLabels(painter, spectrumRect);
        drawPlayhead(painter, spectrumRect);
        if (displayMode == SpectrogramWithWaveform) {
            const QRect waveRect = waveformStripRect();
            if (bands.size() == 2) {
                const QList<QRect> halves = stackedHalves(waveRect);
                const QRect& waveUpper = halves[0];
                const QRect& waveLower = halves[1];
                drawWaveform(painter, waveUpper, bandChannel(0));
                drawWaveform(painter, waveLower, bandChannel(1));
                painter.setPen(QPen(SeparatorColor, 1));
                painter.drawLine(waveRect.left(), waveLower.top(), waveRect.right(), waveLower.top());
            } else {
                drawWaveform(painter, waveRect, SampleChannel::mono(samples));
                drawSpectrogramTimeLabels(painter, waveRect);
            }
            drawPlayhead(painter, waveRect);
        }
    }

    if (pointerInside)
        drawCursorInfo(painter);
    if (toolMode == Erase && pointerInside && spectrogramRect().contains(pointerPosition)) {
        painter.setPen(QPen(BrushOutline, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRect(QPoint(pointerPosition.x() - 8, pointerPosition.y() - 8),
                                  QPoint(pointerPosition.x() + 7, pointerPosition.y() + 7)));
    }
}

void SpectrumAnalyzerWidget::drawEmptyState(QPainter& painter)
{
    painter.setPen(EmptyTextColor);
    painter.setFont(QFont(QStringLiteral("Arial"), 12));
    painter.drawText(rect(), Qt::AlignCenter, tr("暂无音频数据\n请录制或导入文件"));
}

void SpectrumAnalyzerWidget::drawSpectrogramBand(QPainter& painter, const QRect& rect, int band)
{
    if (!rect.isValid())
        return;
    QImage image;
    {
        QMutexLocker lock(&dataLock);
        const SpectrogramGrid& grid = bandCells(band);
        const double visible = visibleSeconds();
        if (!grid.isEmpty() && rate >= 1 && visible > 0.0) {
            // Coloured at the band's size: pixel column x shows the column
            // under the time at its centre on the view's axis.
            const double columnSeconds = double(computer.hop()) / rate;
            image = SpectrogramImageBuilder::render(grid, rect.size(), viewStart / columnSeconds,
                                                    visible / columnSeconds / rect.width());
        }
    }
    if (image.isNull()) {
        painter.setPen(textColor);
        painter.drawText(rect, Qt::AlignCenter, tr("暂无频谱数据"));
        return;
    }
    painter.drawImage(rect.topLeft(), image);
    painter.setPen(QPen(gridColor, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect);
}

QList<SpectrumAnalyzerWidget::FrequencyMark> SpectrumAnalyzerWidget::frequencyMarks(int bandHeight) const
{
    // A label is 16 px high, centred on its row; 20 px apart they never touch.
    constexpr int LabelAbove = 8, LabelBelow = 7, MinSpacing = 20;
    const float top = spectrogramTopFrequency();
    QList<FrequencyMark> marks;
    if (!(top > 0.0f) || bandHeight < LabelAbove + LabelBelow + 1)
        return marks;
    const float steps[] = {500, 1000, 2000, 5000, 10000, 20000};
    float step = 0.0f;
    for (float candidate : steps) {
        if (candidate / top * bandHeight >= MinSpacing) {
            step = candidate;
            break;
        }
    }
    if (step <= 0.0f)
        return marks;
    for (float f = step; f <= top; f += step) {
        if (f < lowestFrequency || f > highestFrequency)
            continue;
        const int y = static_cast<int>((1.0f - f / top) * bandHeight);
        if (y - LabelAbove < 0 || y + LabelBelow > bandHeight - 1)
            continue;
        QString text;
        if (f < 1000.0f)
            text = QStringLiteral("%1Hz").arg(static_cast<int>(f));
        else
            text = QStringLiteral("%1k").arg(f / 1000.0f, 0, 'f', std::fmod(f, 1000.0f) == 0.0f ? 0 : 1);
        marks.append({f, y, text});
    }
    return marks;
}

void SpectrumAnalyzerWidget::drawSpectrogramFreqLabels(QPainter& painter, const QRect& rect)
{
    painter.setPen(textColor);
    painter.setFont(sizedFont(painter, 7));
    // On the picture's own axis (0 Hz to the top row's frequency).
    for (const FrequencyMark& mark : frequencyMarks(rect.height())) {
        const int y = rect.top() + mark.y;
        painter.drawText(QRect(QPoint(2, y - 8), QPoint(51, y + 7)),
                         Qt::AlignRight | Qt::AlignVCenter, mark.text);
    }
}

void SpectrumAnalyzerWidget::drawSpectrogramTimeLabels(QPainter& painter, const QRect& rect)
{
    if (leftCells.isEmpty())
        return;
    const double visible = visibleSeconds();
    if (!(visible > 0.0))
        return;
    painter.setPen(textColor);
    painter.setFont(sizedFont(painter, 7));
    const double step = TimeAxisScale::stepFor(visible, rect.width());
    for (double t : TimeAxisScale::tickTimes(viewStart, visible, step)) {
        const int centre = timeToPixel(t, rect);
        if (centre < rect.left() || centre > rect.right())
            continue;
        painter.drawText(QRect(QPoint(centre - 20, rect.bottom() + 2), QPoint(centre + 19, rect.bottom() + 17)),
                         Qt::AlignCenter, TimeAxisScale::spectrogramLabel(t, step));
    }
}

void SpectrumAnalyzerWidget::drawPlayhead(QPainter& painter, const QRect& rect)
{
    const double visible = visibleSeconds();
    if (samples.isEmpty() || !(visible > 0.0))
        return;
    const int px = timeToPixel(playhead, rect);
    if (px < rect.left() || px > rect.right())
        return;
    painter.setPen(QPen(PlayheadColor, 2));
    painter.drawLine(px, rect.top(), px, rect.bottom());
    const QPoint triangle[3] = {QPoint(px - 6, rect.top()), QPoint(px + 6, rect.top()),
                                QPoint(px, rect.top() + 10)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(PlayheadColor);
    painter.drawPolygon(triangle, 3);
    painter.setBrush(Qt::NoBrush);
}

void SpectrumAnalyzerWidget::drawWaveform(QPainter& painter, const QRect& rect,
                                          const SampleChannel& channel)
{
    if (channel.isEmpty() || rate < 1) {
        painter.setPen(textColor);
        painter.drawText(rect, Qt::AlignCenter, tr("暂无波形数据"));
        return;
    }
    painter.fillRect(rect, StripBackground);
    const int centreY = rect.top() + rect.height() / 2;
    painter.setPen(QPen(gridColor, 1, Qt::DotLine));
    painter.drawLine(rect.left(), centreY, rect.right(), centreY);

    const qsizetype n = channel.count;
    const double start = viewStart * rate;
    const double visibleSamples = visibleSeconds() * rate;
    const int columns = rect.width();
    QPainterPath upper, lower;
    std::vector<QPointF> lowerPoints;
    lowerPoints.reserve(columns);
    auto row = [&](float v) { return rect.top() + rect.height() * (1.0 - v) * 0.5; };
    for (int c = 0; c < columns; ++c) {
        const qsizetype s0 = std::clamp<qsizetype>(
            static_cast<qsizetype>(start + visibleSamples * c / columns), 0, n - 1);
        const qsizetype s1 = std::clamp<qsizetype>(
            static_cast<qsizetype>(start + visibleSamples * (c + 1) / columns), s0 + 1, n);
        float mn = 1.0f, mx = -1.0f;
        for (qsizetype i = s0; i < s1; ++i) {
            const float v = channel.at(i);
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
        }
        const QPointF top(rect.left() + c, row(mx));
        const QPointF bottom(rect.left() + c, row(mn));
        if (c == 0) {
            upper.moveTo(top);
            lower.moveTo(bottom);
        } else {
            upper.lineTo(top);
            lower.lineTo(bottom);
        }
        lowerPoints.push_back(bottom);
    }
    QPainterPath fill = upper;
    for (auto it = lowerPoints.rbegin(); it != lowerPoints.rend(); ++it)
        fill.lineTo(*it);
    fill.closeSubpath();
    QLinearGradient gradient(0, rect.top(), 0, rect.bottom());
    QColor strong = spectrumColor;
    strong.setAlpha(120);
    QColor faint = spectrumColor;
    faint.setAlpha(20);
    gradient.setColorAt(0.0, strong);
    gradient.setColorAt(0.5, strong);
    gradient.setColorAt(1.0, faint);
    painter.fillPath(fill, gradient);
    painter.setPen(QPen(spectrumColor, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(upper);
    painter.drawPath(lower);
    painter.setPen(QPen(gridColor, 1));
    painter.drawRect(rect);
}

void SpectrumAnalyzerWidget::drawCursorInfo(QPainter& painter)
{
    const QString text = pointerReadoutText();
    if (text.isEmpty())
        return;
    const QRect box = pointerReadoutRect();
    painter.setPen(QPen(ReadoutOutline, 1));
    painter.setBrush(ReadoutFill);
    painter.drawRoundedRect(box, 3, 3);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(Qt::white);
    painter.setFont(readoutFont());
    painter.drawText(box, Qt::AlignCenter, text);
}

// ---- analyser drawing ----

void SpectrumAnalyzerWidget::drawBackground(QPainter& painter)
{
    painter.fillRect(rect(), backgroundColor);
}

void SpectrumAnalyzerWidget::drawGrid(QPainter& painter, const QRect& rect)
{
    painter.setPen(QPen(gridColor, 1, Qt::DotLine));
    const float marks[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
    for (float f : marks) {
        if (f < lowestFrequency || f > highestFrequency)
            continue;
        const qreal x = rect.left() + frequencyToX(f, rect);
        painter.drawLine(QPointF(x, rect.top()), QPointF(x, rect.bottom()));
    }
    if (!(dbCeiling > dbFloor))
        return;
    for (float dB = dbFloor; dB <= dbCeiling; dB += 10.0f) {
        const qreal y = rect.top() + magnitudeToY(dB, rect);
        painter.drawLine(QPointF(rect.left(), y), QPointF(rect.right(), y));
    }
}

void SpectrumAnalyzerWidget::drawSpectrum(QPainter& painter, const QRect& rect)
{
    if (levels.levels.isEmpty())
        return;
    QPainterPath line;
    bool started = false;
    const qsizetype count = std::min(levels.levels.size(), levels.frequencies.size());
    for (qsizetype k = 0; k < count; ++k) {
        const float f = levels.frequencies[k];
        if (f < lowestFrequency || f > highestFrequency)
            continue;
        const QPointF point(rect.left() + frequencyToX(f, rect),
                            rect.top() + magnitudeToY(levels.levels[k], rect));
        if (started) {
            line.lineTo(point);
        } else {
            line.moveTo(point);
            started = true;
        }
    }
    if (!started)
        return;
    QPainterPath area = line;
    area.lineTo(rect.right(), rect.bottom());
    area.lineTo(rect.left(), rect.bottom());
    area.closeSubpath();
    QLinearGradient gradient(0, rect.top(), 0, rect.bottom());
    QColor top = spectrumColor;
    top.setAlpha(180);
    QColor bottom = spectrumColor;
    bottom.setAlpha(20);
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    painter.fillPath(area, gradient);
    painter.setPen(QPen(spectrumColor, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(line);
}

void SpectrumAnalyzerWidget::drawPeakHold(QPainter& painter, const QRect& rect)
{
    painter.setPen(QPen(peakColor, 1));
    const qsizetype count = std::min(levels.peaks.size(), levels.frequencies.size());
    for (qsizetype k = 0; k < count; ++k) {
        const float f = levels.frequencies[k];
        if (f < lowestFrequency || f > highestFrequency)
            continue;
        painter.drawPoint(QPointF(rect.left() + frequencyToX(f, rect),
                                  rect.top() + magnitudeToY(levels.peaks[k], rect)));
    }
}

void SpectrumAnalyzerWidget::drawFrequencyLabels(QPainter& painter, const QRect& rect)
{
    painter.setPen(textColor);
    painter.setFont(sizedFont(painter, 7));
    const float marks[] = {100, 500, 1000, 5000, 10000, 20000};
    for (float f : marks) {
        if (f < lowestFrequency || f > highestFrequency)
            continue;
        QString label;
        if (f < 1000.0f)
            label = QStringLiteral("%1Hz").arg(static_cast<int>(f));
        else
            label = QStringLiteral("%1k").arg(f / 1000.0f, 0, 'f', f < 10000.0f ? 1 : 0);
        const int x = rect.left() + static_cast<int>(frequencyToX(f, rect));
        painter.drawText(QRect(QPoint(x - 20, rect.bottom() + 2), QPoint(x + 19, rect.bottom() + 17)),
                         Qt::AlignCenter, label);
    }
}

void SpectrumAnalyzerWidget::drawMagnitudeLabels(QPainter& painter, const QRect& rect)
{
    if (!(dbCeiling > dbFloor))
        return;
    painter.setPen(textColor);
    painter.setFont(sizedFont(painter, 7));
    for (float dB = dbFloor; dB <= dbCeiling; dB += 20.0f) {
        const int y = rect.top() + static_cast<int>(magnitudeToY(dB, rect));
        painter.drawText(QRect(QPoint(2, y - 8), QPoint(51, y + 7)), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("%1dB").arg(static_cast<int>(dB)));
    }
}
