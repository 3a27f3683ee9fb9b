#include "widgets/LoadingOverlay.h"

#include "widgets/UserInputDropper.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int SpinnerIntervalMs = 50;
constexpr int SpinnerStepDegrees = 30;
constexpr int ArcSpanDegrees = 120;
constexpr int ArcDiameter = 48;
constexpr int ArcMargin = 4; // the pen's half width and its round caps
const QColor DimColour(0, 0, 0, 128);

} // namespace

LoadingOverlay::LoadingOverlay(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setVisible(false);
    connect(m_timer, &QTimer::timeout, this, &LoadingOverlay::advanceSpinner);
}

LoadingOverlay::~LoadingOverlay() = default;

void LoadingOverlay::show(const QString& message, bool dropInput)
{
    if (dropInput && !m_inputDropper)
        m_inputDropper = std::make_unique<UserInputDropper>();
    m_message = message.isEmpty() ? QStringLiteral("处理中...") : message;
    m_angle = 0;
    QWidget* parent = parentWidget();
    if (parent)
        setGeometry(parent->rect());
    // Work that holds the window changes nothing the user may see under the
    // overlay: it shows a dimmed picture of it and covers it whole, so that
    // neither a spinner step nor what is built under it meanwhile (pages,
    // rows) makes the window repaint the widgets beneath. Nothing paints in
    // a window that is not shown.
    if (m_inputDropper && parent && parent->isVisible()
        && (m_still.isNull() || m_still.deviceIndependentSize() != QSizeF(size())))
        takeStill(parent);
    raise();
    QWidget::show();
    m_timer->start(SpinnerIntervalMs);
}

void LoadingOverlay::takeStill(QWidget* parent)
{
    // A picture of what lies under the overlay, not of the overlay.
    if (!isHidden())
        QWidget::hide();
    m_still = parent->grab(geometry());
    QPainter dimming(&m_still);
    dimming.fillRect(QRect(QPoint(0, 0), size()), DimColour);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void LoadingOverlay::hide()
{
    m_timer->stop();
    QWidget::hide();
    m_still = QPixmap();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (!m_inputDropper)
        return;
    m_inputDropper.reset();
    // Input made while the GUI thread worked is still waiting.
    UserInputDropper::dropInputWaitingNow();
}

void LoadingOverlay::advanceSpinner()
{
    m_angle = (m_angle + SpinnerStepDegrees) % 360;
    // Only the arc's square: the whole overlay would repaint every page
    // under it, which long work beside it on the other cores slows a lot.
    update(arcRect().toAlignedRect().adjusted(-ArcMargin, -ArcMargin, ArcMargin, ArcMargin));
}

QRectF LoadingOverlay::arcRect() const
{
    return QRectF(width() / 2 - ArcDiameter / 2, height() / 2 - 40, ArcDiameter, ArcDiameter);
}

QRect LoadingOverlay::messageRect() const
{
    return QRect(0, height() / 2 + 20, width(), 30);
}

void LoadingOverlay::paintEvent(QPaintEvent* event)
{
    const QRect area = event->rect();
    QPainter painter(this);
    if (m_still.isNull()) {
        painter.fillRect(rect(), DimColour);
    } else {
        const qreal ratio = m_still.devicePixelRatio();
        painter.drawPixmap(area, m_still,
                           QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio).toRect());
    }
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(QBrush(QColor(96, 165, 250)), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    painter.drawArc(arcRect(), m_angle * 16, ArcSpanDegrees * 16);

    // A spinner step repaints the arc's square only: no text to lay out.
    if (!area.intersects(messageRect()))
        return;
    painter.setPen(QColor(200, 200, 220));
    QFont font = this->font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.drawText(messageRect(), Qt::AlignHCenter | Qt::AlignTop, m_message);
}
