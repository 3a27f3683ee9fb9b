#include "dialogs/CompressorCurveWidget.h"

#include "audio/CompressorCurve.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor Background(26, 26, 46);
const QColor Grid(51, 51, 68);
const QColor Text(136, 136, 153);
const QColor Curve(79, 195, 247);
const QColor Marker(255, 112, 67);

} // namespace

CompressorCurveWidget::CompressorCurveWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(170, 160);
}

void CompressorCurveWidget::setParameters(double thresholdDb, double ratioValue, double kneeDb,
                                          double makeupDb)
{
    threshold = thresholdDb;
    ratio = ratioValue;
    knee = kneeDb;
    makeup = makeupDb;
    update();
}

void CompressorCurveWidget::setInputPeak(double peakDb)
{
    inputPeak = peakDb;
    update();
}

double CompressorCurveWidget::outputDb(double inputDb) const
{
    return inputDb
           + compressorGainReductionDb(float(inputDb), float(threshold), float(ratio), float(knee))
           + makeup;
}

void CompressorCurveWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Background);

    // A square plot, centred, with room for the level labels on the left.
    QFont font = painter.font();
    font.setPointSize(7);
    painter.setFont(font);
    const int labelWidth = painter.fontMetrics().horizontalAdvance(QStringLiteral("-60")) + 6;
    const int side = qMax(10, qMin(width() - labelWidth - 12, height() - 24));
    const QRectF plot(labelWidth + (width() - labelWidth - side) / 2.0, (height() - 16 - side) / 2.0,
                      side, side);
    const auto xOf = [&](double db) { return plot.left() + plot.width() * (db - MinDb) / (MaxDb - MinDb); };
    const auto yOf = [&](double db) { return plot.bottom() - plot.height() * (db - MinDb) / (MaxDb - MinDb); };

    painter.setPen(QPen(Grid, 1, Qt::DotLine));
    for (double db = MinDb; db <= MaxDb; db += 12.0) {
        painter.drawLine(QPointF(xOf(db), plot.top()), QPointF(xOf(db), plot.bottom()));
        painter.drawLine(QPointF(plot.left(), yOf(db)), QPointF(plot.right(), yOf(db)));
        painter.setPen(Text);
        painter.drawText(QRectF(0, yOf(db) - 7, labelWidth - 3, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(int(db)));
        painter.setPen(QPen(Grid, 1, Qt::DotLine));
    }
    painter.drawLine(plot.bottomLeft(), plot.topRight()); // 1:1

    painter.save();
    painter.setClipRect(plot);
    if (knee > 0.0) {
        painter.fillRect(QRectF(QPointF(xOf(threshold - knee / 2), plot.top()),
                                QPointF(xOf(threshold + knee / 2), plot.bottom())),
                         QColor(79, 195, 247, 24));
    }
    painter.setPen(QPen(QColor(79, 195, 247, 90), 1, Qt::DashLine));
    painter.drawLine(QPointF(xOf(threshold), plot.top()), QPointF(xOf(threshold), plot.bottom()));

    QPainterPath path;
    const int steps = int(plot.width());
    for (int i = 0; i <= steps; ++i) {
        const double in = MinDb + (MaxDb - MinDb) * i / steps;
        const QPointF point(xOf(in), yOf(outputDb(in)));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    painter.setPen(QPen(Curve, 2));
    painter.drawPath(path);

    if (inputPeak >= MinDb) {
        const QPointF at(xOf(inputPeak), yOf(outputDb(inputPeak)));
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Marker);
        painter.drawEllipse(at, 4, 4);
    }
    painter.restore();

    painter.setPen(QPen(Grid, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    painter.setPen(Text);
    painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), 14), Qt::AlignCenter,
                     tr("输入 (dB)"));
}
