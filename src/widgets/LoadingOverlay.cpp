#include "widgets/LoadingOverlay.h"

#include "widgets/UserInputDropper.h"

#include <QPainter>
#include <QTimer>

namespace {

constexpr int SpinnerIntervalMs = 50;
constexpr int SpinnerStepDegrees = 30;
constexpr int ArcSpanDegrees = 120;
constexpr int ArcDiameter = 48;
constexpr int ArcMargin = 4; // the pen's half width and its round caps

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
    if (QWidget* parent = parentWidget())
        setGeometry(parent->rect());
    raise();
    QWidget::show();
    m_timer->start(SpinnerIntervalMs);
}

void LoadingOverlay::hide()
{
    m_timer->stop();
    QWidget::hide();
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

void LoadingOverlay::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    const int cy = h / 2;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, 128));

    painter.setPen(QPen(QBrush(QColor(96, 165, 250)), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    painter.drawArc(arcRect(), m_angle * 16, ArcSpanDegrees * 16);

    painter.setPen(QColor(200, 200, 220));
    QFont font = this->font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.drawText(QRect(0, cy + 20, w, 30), Qt::AlignHCenter | Qt::AlignTop, m_message);
}
