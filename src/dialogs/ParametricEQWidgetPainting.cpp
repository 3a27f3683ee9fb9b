// Painting of the EQ curve editor: the analyser's picture as the backdrop,
// then the combined curve with each band's own response, the control points
// with their labels, or the bypass overlay.

#include "dialogs/EqualizerCurve.h"
#include "dialogs/FrequencyAnalyzerWidget.h"
#include "dialogs/ParametricEQWidget.h"
#include "widgets/CurveFill.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

constexpr float FlatDb = 0.01f;

// A polyline rather than a path: the curves have a point a pixel, and
// polylines stroke much faster.
QPolygonF responseLine(const std::vector<double>& frequencies, const std::vector<float>& values,
                       const QRect& graph)
{
    QPolygonF line(qsizetype(frequencies.size()));
    for (size_t i = 0; i < frequencies.size(); ++i) {
        const double x = EqualizerCurve::freqToX(frequencies[i], graph);
        const double y = std::clamp(EqualizerCurve::dbToY(values[i], graph), double(graph.top()),
                                    double(graph.bottom()));
        line[qsizetype(i)] = QPointF(x, y);
    }
    return line;
}

// The snapshot's lists share their data with the analysis, which detaches
// them when it changes a spectrum while a copy is held: the same data
// pointers mean the same picture.
bool samePicture(const FrequencyAnalysis::Snapshot& a, const FrequencyAnalysis::Snapshot& b)
{
    const auto same = [](const QList<float>& x, const QList<float>& y) {
        return x.size() == y.size() && x.constData() == y.constData();
    };
    return same(a.frequencies, b.frequencies) && same(a.smoothedLeft, b.smoothedLeft)
           && same(a.smoothedRight, b.smoothedRight) && same(a.peakLeft, b.peakLeft)
           && same(a.peakRight, b.peakRight) && a.rmsLeftDb == b.rmsLeftDb
           && a.rmsRightDb == b.rmsRightDb && a.isStereo == b.isStereo
           && a.sampleRate == b.sampleRate;
}

} // namespace

void ParametricEQWidget::paintEvent(QPaintEvent*)
{
    graphRect = graphRectFor(size());
    // The analyser draws background, grid, labels and spectrum; it is hidden,
    // so it is rendered here at this widget's size, and again only when its
    // spectrum or the size has changed (a band drag repaints the curve alone).
    if (analyzer->size() != size())
        analyzer->setFixedSize(size());
    FrequencyAnalysis::Snapshot shown = analyzer->analyser().snapshot();
    if (backdrop.size() != size() || !samePicture(shown, backdropData)) {
        backdrop = QPixmap(size());
        backdrop.fill(Qt::transparent);
        analyzer->render(&backdrop);
        backdropData = std::move(shown);
    }

    QPainter painter(this);
    painter.drawPixmap(0, 0, backdrop);
    painter.setRenderHint(QPainter::Antialiasing);
    if (bypassed) {
        drawBypassOverlay(painter);
        return;
    }
    drawEQCurve(painter);
    drawControlPoints(painter);
}

void ParametricEQWidget::drawEQCurve(QPainter& painter)
{
    const int n = std::max(128, graphRect.width());
    const std::vector<double> frequencies = EqualizerCurve::logFrequencies(n);
    // Each band's response once: for its own curve and for the sum.
    std::vector<std::vector<float>> responses(BandCount);
    std::vector<float> sum(size_t(n), masterGain);
    for (int i = 0; i < BandCount; ++i) {
        const EQBand& b = bands[size_t(i)];
        if (!b.enabled)
            continue;
        responses[size_t(i)] = EqualizerCurve::bandResponse(b.settings(), frequencies, sampleRate());
        for (size_t k = 0; k < sum.size(); ++k)
            sum[k] += responses[size_t(i)][k];
    }

    const QPolygonF line = responseLine(frequencies, sum, graphRect);
    QPainterPath path;
    path.addPolygon(line);
    CurveFill::fillUnder(painter, path, graphRect.left(), graphRect.right(), graphRect.top(),
                         graphRect.bottom(), curveColor, 30, 3);
    painter.setPen(QPen(curveColor, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);

    for (int i = 0; i < BandCount; ++i) {
        const std::vector<float>& own = responses[size_t(i)];
        if (own.empty())
            continue;
        painter.setPen(QPen(CurveFill::withAlpha(bands[size_t(i)].color, 100), 1, Qt::DashLine));
        // Dashing is costly per segment: a band's own curve is drawn only
        // where it leaves 0 dB (the rest lies on the 0 dB line).
        const QPolygonF bandLine = responseLine(frequencies, own, graphRect);
        qsizetype first = 0, last = bandLine.size() - 1;
        while (first < last && std::fabs(own[size_t(first)]) < FlatDb)
            ++first;
        while (last > first && std::fabs(own[size_t(last)]) < FlatDb)
            --last;
        if (last > first)
            painter.drawPolyline(bandLine.constData() + first, int(last - first + 1));
    }

    const int zeroY = int(graphRect.top() + graphRect.height() * 0.5);
    if (zeroY >= graphRect.top() && zeroY <= graphRect.bottom()) {
        painter.setPen(QPen(QColor(255, 255, 255, 60), 1, Qt::DashDotLine));
        painter.drawLine(graphRect.left(), zeroY, graphRect.right(), zeroY);
    }
}

void ParametricEQWidget::drawControlPoints(QPainter& painter)
{
    const double r = controlPointRadius;
    for (int i = 0; i < BandCount; ++i) {
        const EQBand& b = bands[size_t(i)];
        if (!b.enabled)
            continue;
        const QPointF point = bandToPoint(i, graphRect);
        if (i == selectedBand) {
            painter.setPen(QPen(Qt::white, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(point, r + 3, r + 3);
        }
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(CurveFill::withAlpha(b.color, 180));
        painter.drawEllipse(point, r, r);
        painter.setPen(QPen(Qt::white, 1));
        const double arm = 0.4 * r;
        painter.drawLine(QPointF(point.x() - arm, point.y()), QPointF(point.x() + arm, point.y()));
        painter.drawLine(QPointF(point.x(), point.y() - arm), QPointF(point.x(), point.y() + arm));
        drawBandLabel(painter, i, point);
    }
}

void ParametricEQWidget::drawBandLabel(QPainter& painter, int index, const QPointF& point)
{
    const EQBand& b = bands[size_t(index)];
    const QString text = EqualizerCurve::bandLabel(index, typeLabel(b.type), b.frequency, b.gain, b.q);
    const QStringList lines = text.split(QLatin1Char('\n'));
    QFont font = painter.font();
    font.setPointSize(7);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const double r = controlPointRadius;
    // Wide enough for both lines: the second is often the longer one.
    const int boxWidth = std::max(metrics.horizontalAdvance(lines.first()),
                                  metrics.horizontalAdvance(lines.last())) + 8;
    const int boxHeight = 2 * metrics.height() + 4;
    double x = point.x() + r + 4;
    if (x + boxWidth > graphRect.right())
        x = point.x() - r - boxWidth - 4;
    double y = point.y() - boxHeight;
    if (y < graphRect.top())
        y = graphRect.top() + 2;
    const QRectF box(x, y, boxWidth, boxHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 160));
    painter.drawRoundedRect(box, 3, 3);
    const QRectF inner = box.adjusted(4, 2, -2, -2);
    // Drawn at their baselines: the text layout of a rectangle is the slow path.
    painter.setPen(b.color);
    painter.drawText(QPointF(inner.left(), inner.top() + metrics.ascent()), lines.first());
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(QPointF(inner.left(), inner.bottom() - metrics.descent()), lines.last());
}

void ParametricEQWidget::drawBypassOverlay(QPainter& painter)
{
    QFont font = painter.font();
    font.setPointSize(14);
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(QColor(255, 255, 255, 120));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("BYPASS"));
    const int middle = graphRect.top() + graphRect.height() / 2;
    painter.setPen(QPen(QColor(255, 255, 255, 80), 1, Qt::DashLine));
    painter.drawLine(graphRect.left(), middle, graphRect.right(), middle);
}
