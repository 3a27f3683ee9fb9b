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

#include <algorithm>

namespace {

QPainterPath responsePath(const std::vector<double>& frequencies, const std::vector<float>& values,
                          const QRect& graph)
{
    QPainterPath path;
    for (size_t i = 0; i < frequencies.size(); ++i) {
        const double x = EqualizerCurve::freqToX(frequencies[i], graph);
        const double y = std::clamp(EqualizerCurve::dbToY(values[i], graph), double(graph.top()),
                                    double(graph.bottom()));
        if (i == 0)
            path.moveTo(x, y);
        else
            path.lineTo(x, y);
    }
    return path;
}

} // namespace

void ParametricEQWidget::paintEvent(QPaintEvent*)
{
    graphRect = graphRectFor(size());
    // The analyser draws background, grid, labels and spectrum; it is hidden,
    // so it is rendered here at this widget's size.
    if (analyzer->size() != size())
        analyzer->setFixedSize(size());
    QPixmap backdrop(size());
    backdrop.fill(Qt::transparent);
    analyzer->render(&backdrop);

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
    const int n = std::max(128, 2 * graphRect.width());
    const std::vector<double> frequencies = EqualizerCurve::logFrequencies(n);
    const QList<float> curve = computeEQCurve(n);
    const QPainterPath path =
        responsePath(frequencies, std::vector<float>(curve.begin(), curve.end()), graphRect);

    CurveFill::fillUnder(painter, path, graphRect.left(), graphRect.right(), graphRect.top(),
                         graphRect.bottom(), curveColor, 30, 3);

    painter.setPen(QPen(curveColor, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);

    for (const EQBand& b : bands) {
        if (!b.enabled)
            continue;
        const std::vector<float> own = EqualizerCurve::bandResponse(
            {b.enabled, b.frequency, b.gain, b.q, int(b.type)}, frequencies, sampleRate());
        painter.setPen(QPen(CurveFill::withAlpha(b.color, 100), 1, Qt::DashLine));
        painter.drawPath(responsePath(frequencies, own, graphRect));
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
    painter.setPen(b.color);
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop, lines.first());
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignBottom, lines.last());
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
