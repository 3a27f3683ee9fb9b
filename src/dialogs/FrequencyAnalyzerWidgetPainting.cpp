// Painting of the frequency analyser: grid, spectrum curves with their
// falling peaks, axis labels, RMS bar, pointer read-out and title.

#include "dialogs/FrequencyAnalyzerWidget.h"

#include "widgets/CurveFill.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const float GridFrequencies[] = {20, 30, 50, 100, 200, 300, 500, 1000, 2000, 3000, 5000, 10000, 20000};
const float LabelFrequencies[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};

QFont sizedFont(const QPainter& painter, int points, int weight = QFont::Normal)
{
    QFont font = painter.font();
    font.setPointSize(points);
    font.setWeight(QFont::Weight(weight));
    return font;
}

QString frequencyLabel(float frequency)
{
    if (frequency < 1000.0f)
        return QString::number(int(frequency));
    const double k = frequency / 1000.0;
    return QStringLiteral("%1k").arg(k, 0, 'f', frequency < 10000.0f ? 1 : 0);
}

} // namespace

void FrequencyAnalyzerWidget::drawBackground(QPainter& painter)
{
    painter.fillRect(rect(), colorBackground);
}

void FrequencyAnalyzerWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBackground(painter);
    const QRect plot = plotRect(size());
    const FrequencyAnalysis::Snapshot data = analysis.snapshot();

    if (data.smoothedLeft.isEmpty()) {
        painter.setPen(colorText);
        painter.setFont(sizedFont(painter, 11));
        painter.drawText(rect(), Qt::AlignCenter, tr("暂无音频数据\n请加载音频文件或开始录音"));
        return;
    }

    drawGrid(painter, plot);
    const bool stereoRight = data.isStereo && !data.smoothedRight.isEmpty();
    if (channelMode == StereoSplit && data.isStereo) {
        const int half = plot.height() / 2 - 2;
        const QRect upper(plot.left(), plot.top(), plot.width(), half);
        const QRect lower(plot.left(), plot.top() + plot.height() / 2 + 2, plot.width(), half);
        drawChannel(painter, upper, data.frequencies, data.smoothedLeft, data.peakLeft, colorLeft,
                    true);
        if (stereoRight)
            drawChannel(painter, lower, data.frequencies, data.smoothedRight, data.peakRight,
                        colorRight, true);
        const int middle = plot.top() + plot.height() / 2;
        painter.setPen(QPen(colorGrid, 1));
        painter.drawLine(plot.left(), middle, plot.right(), middle);
        painter.setPen(colorText);
        painter.setFont(sizedFont(painter, 8));
        painter.drawText(upper.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("L"));
        painter.drawText(lower.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("R"));
    } else {
        if (channelMode == StereoOverlay && stereoRight)
            drawChannel(painter, plot, data.frequencies, data.smoothedRight, data.peakRight,
                        colorRight, false);
        drawChannel(painter, plot, data.frequencies, data.smoothedLeft, data.peakLeft, colorLeft,
                    true);
    }

    drawFrequencyLabels(painter, plot);
    drawLevelLabels(painter, plot);
    if (rmsEnabled)
        drawRmsBar(painter, plot, data);
    if (hovering)
        drawCursor(painter, plot);
    drawTitle(painter, plot);
}

void FrequencyAnalyzerWidget::drawGrid(QPainter& painter, const QRect& plot)
{
    painter.setPen(QPen(colorGrid, 1, Qt::DotLine));
    for (float db = axisRange.minDb; db <= axisRange.maxDb; db += 10.0f) {
        const int y = int(axisRange.dbToY(db, plot));
        if (y >= plot.top() && y <= plot.bottom())
            painter.drawLine(plot.left(), y, plot.right(), y);
    }
    for (float f : GridFrequencies) {
        if (f < axisRange.minFreq || f > axisRange.maxFreq)
            continue;
        const int x = int(axisRange.freqToX(f, plot));
        if (x >= plot.left() && x <= plot.right())
            painter.drawLine(x, plot.top(), x, plot.bottom());
    }
    painter.setPen(QPen(colorGrid, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
}

QPainterPath FrequencyAnalyzerWidget::curvePath(const QRect& plot, const QList<float>& frequencies,
                                                const QList<float>& levels) const
{
    QPainterPath path;
    const qsizetype count = std::min(frequencies.size(), levels.size());
    bool first = true;
    for (qsizetype k = 0; k < count; ++k) {
        const float f = frequencies[k];
        if (f < axisRange.minFreq || f > axisRange.maxFreq)
            continue;
        const int x = int(axisRange.freqToX(f, plot));
        const int y = std::clamp(int(axisRange.dbToY(levels[k], plot)), plot.top(), plot.bottom());
        if (first)
            path.moveTo(x, y);
        else
            path.lineTo(x, y);
        first = false;
    }
    return path;
}

void FrequencyAnalyzerWidget::drawChannel(QPainter& painter, const QRect& plot,
                                          const QList<float>& frequencies,
                                          const QList<float>& smoothed, const QList<float>& peak,
                                          const QColor& color, bool fill)
{
    drawCurve(painter, plot, frequencies, smoothed, color, fill);
    if (peakHoldEnabled)
        drawPeakCurve(painter, plot, frequencies, peak, colorPeak);
}

void FrequencyAnalyzerWidget::drawCurve(QPainter& painter, const QRect& plot,
                                        const QList<float>& frequencies,
                                        const QList<float>& levels, const QColor& color, bool fill)
{
    const QPainterPath path = curvePath(plot, frequencies, levels);
    if (path.isEmpty())
        return;
    if (fill) {
        CurveFill::fillUnder(painter, path, int(axisRange.freqToX(axisRange.minFreq, plot)),
                             int(axisRange.freqToX(axisRange.maxFreq, plot)), plot.top(),
                             plot.bottom(), color, 80, 5);
    }
    painter.setPen(QPen(color, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void FrequencyAnalyzerWidget::drawPeakCurve(QPainter& painter, const QRect& plot,
                                            const QList<float>& frequencies,
                                            const QList<float>& levels, const QColor& color)
{
    painter.setPen(QPen(CurveFill::withAlpha(color, 160), 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curvePath(plot, frequencies, levels));
}

void FrequencyAnalyzerWidget::drawFrequencyLabels(QPainter& painter, const QRect& plot)
{
    painter.setPen(colorText);
    painter.setFont(sizedFont(painter, 7));
    for (float f : LabelFrequencies) {
        if (f < axisRange.minFreq || f > axisRange.maxFreq)
            continue;
        const int x = int(axisRange.freqToX(f, plot));
        if (x < plot.left() || x > plot.right())
            continue;
        painter.drawText(QRect(x - 20, plot.bottom() + 4, 40, 16), Qt::AlignCenter,
                         frequencyLabel(f));
    }
}

void FrequencyAnalyzerWidget::drawLevelLabels(QPainter& painter, const QRect& plot)
{
    painter.setPen(colorText);
    painter.setFont(sizedFont(painter, 7));
    for (float db = axisRange.minDb; db <= axisRange.maxDb; db += 10.0f) {
        const int y = int(axisRange.dbToY(db, plot));
        if (y < plot.top() || y > plot.bottom())
            continue;
        painter.drawText(QRect(QPoint(2, y - 8), QPoint(51, y + 7)),
                         Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("%1dB").arg(int(db)));
    }
}

void FrequencyAnalyzerWidget::drawRmsBar(QPainter& painter, const QRect& plot,
                                         const FrequencyAnalysis::Snapshot& data)
{
    // Only where the widget leaves room right of the plot.
    if (width() - 1 < plot.right() + 13)
        return;
    const QRect strip(QPoint(plot.right() + 4, plot.top()), QPoint(plot.right() + 11, plot.bottom()));
    painter.fillRect(strip, QColor(30, 30, 40));
    const auto bar = [&](int left, int right, float level, const QColor& color) {
        const float span = axisRange.maxDb - axisRange.minDb;
        const float fraction = std::clamp((level - axisRange.minDb) / span, 0.0f, 1.0f);
        const int height = int(fraction * strip.height());
        painter.fillRect(QRect(QPoint(left, strip.bottom() - height + 1), QPoint(right, strip.bottom())),
                         CurveFill::withAlpha(color, 180));
    };
    const int middle = strip.left() + strip.width() / 2;
    bar(strip.left(), middle - 1, data.rmsLeftDb, colorLeft);
    bar(middle, strip.right(), data.rmsRightDb, colorRight);
    painter.setPen(QPen(colorGrid, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(strip);
    painter.setPen(colorText);
    painter.setFont(sizedFont(painter, 6));
    painter.drawText(QRect(strip.left() - 6, strip.bottom() + 2, strip.width() + 12, 12),
                     Qt::AlignCenter, QStringLiteral("RMS"));
}

void FrequencyAnalyzerWidget::drawCursor(QPainter& painter, const QRect& plot)
{
    if (!plot.contains(mousePos))
        return;
    const int x = mousePos.x(), y = mousePos.y();
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1, Qt::DotLine));
    painter.drawLine(plot.left(), y, plot.right(), y);
    painter.drawLine(x, plot.top(), x, plot.bottom());

    const double frequency = axisRange.xToFreq(x, plot);
    const double level = axisRange.yToDb(y, plot);
    const QString text =
        frequency >= 1000.0
            ? QStringLiteral("%1 kHz  %2 dB").arg(frequency / 1000.0, 0, 'f', 2).arg(level, 0, 'f', 1)
            : QStringLiteral("%1 Hz  %2 dB").arg(frequency, 0, 'f', 0).arg(level, 0, 'f', 1);
    const int textWidth = painter.fontMetrics().horizontalAdvance(text);
    QRect box(QPoint(x + 10, y - 20), QPoint(x + textWidth + 25, y - 1));
    if (box.right() > width() - 4)
        box.moveRight(x - 10);
    painter.setPen(QColor(100, 100, 120));
    painter.setBrush(QColor(0, 0, 0, 180));
    painter.drawRoundedRect(box, 3, 3);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void FrequencyAnalyzerWidget::drawTitle(QPainter& painter, const QRect& plot)
{
    painter.setPen(colorText);
    painter.setFont(sizedFont(painter, 8, 700));
    painter.drawText(QRect(plot.left(), 2, plot.width(), 16), Qt::AlignLeft | Qt::AlignVCenter,
                     tr("Frequency Analyzer"));
}
