#include "dialogs/PitchCorrectionDialog.h"

#include "engine/devices/AudioEngine.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double MinZoomX = 0.1, MaxZoomX = 10.0;
constexpr double MinZoomY = 0.3, MaxZoomY = 3.0;
constexpr double WheelZoomIn = 1.1, WheelZoomOut = 0.9;
constexpr double KeyZoomOut = 0.8, KeyZoomIn = 1.25;
constexpr double SecondsPerWheelNotch = 2.0;
constexpr int PixelsPerWheelNotch = 40;
constexpr int PreviewTickMs = 50;
constexpr int PreviewBufferFrames = 512;

// The padding and height rules keep the application theme's larger button
// metrics out of the fixed 60 x 28 buttons.
const char* ButtonStyle =
    "QPushButton { background: #252538; color: #aaaacc; border: 1px solid #3a3a50; "
    "border-radius: 4px; padding: 0px; min-height: 0px; }"
    "QPushButton:checked { background: #2a82da; color: #ffffff; }";
const char* SliderStyle =
    "QSlider::groove:horizontal { background: #2a2a3a; height: 4px; border-radius: 2px; "
    "}QSlider::handle:horizontal { background: #2a82da; width: 12px; height: 12px; margin: -4px 0; "
    "border-radius: 6px; }QSlider::sub-page:horizontal { background: "
    "qlineargradient(x1:0,y1:0,x2:1,y2:0, stop:0 #2a82da, stop:1 #00f2ff); border-radius: 2px; }";

QPoint rounded(const QPointF& p)
{
    return QPoint(int(std::lround(p.x())), int(std::lround(p.y())));
}

} // namespace

PitchCorrectionDialog::PitchCorrectionDialog(const QList<float>& samples, int sampleRate,
                                             QWidget* parent)
    : PitchCorrectionDialog(samples, std::make_unique<PitchCorrectionSession>(samples, sampleRate),
                            parent)
{
}

PitchCorrectionDialog::PitchCorrectionDialog(const QList<float>& samples,
                                             std::unique_ptr<PitchCorrectionSession> session,
                                             QWidget* parent)
    : QDialog(parent)
    , correctedSamples(samples)
    , analysis(std::move(session))
{
    setWindowTitle(tr("音高修正"));
    resize(1200, 600);
    setMinimumSize(800, 400);
    setFocusPolicy(Qt::StrongFocus);
    view.size = size();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(); // the pitch view is painted above the bar
    layout->addWidget(createBottomBar());

    // Centre the detected material, in time and in pitch (the notes would
    // otherwise start out of sight below the top rows).
    const auto& segments = analysis->noteSegments();
    const double span = view.visibleSeconds();
    if (!segments.empty() && span > 0.0) {
        const double first = analysis->frameTime(segments.front().startFrame);
        const double last = analysis->frameTime(segments.back().endFrame - 1);
        view.scrollSeconds = std::max(0.0, (first + last) / 2.0 - span / 2.0);
        double pitchSum = 0.0;
        for (const PitchCorrectionSegment& segment : segments)
            pitchSum += PitchCorrectionSession::frequencyToPitch(segment.avgFreq);
        const double centreRow = view.rowCentre(pitchSum / double(segments.size()));
        const int gridMiddle = (PitchRollGeometry::RulerHeight + view.gridBottom()) / 2;
        view.scrollY = std::clamp(int(centreRow) - gridMiddle, 0, view.maxScrollY());
    }
}

PitchCorrectionDialog::~PitchCorrectionDialog()
{
    stopPreview();
}

QWidget* PitchCorrectionDialog::createBottomBar()
{
    auto* bar = new QWidget(this);
    bar->setFixedHeight(PitchRollGeometry::BarHeight);
    // Scoped to the bar itself: its labels and slider must not take the border.
    bar->setObjectName(QStringLiteral("PitchCorrectionBar"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet(QStringLiteral("QWidget#PitchCorrectionBar { background-color: #1a1a28; "
                                      "border-top: 1px solid rgba(42,130,218,40); }"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);

    strengthLabel = new QLabel(tr("修正力度:"), bar);
    strengthLabel->setStyleSheet(QStringLiteral("color: #c0c0d0; font-size: 12px;"));
    strengthSlider = new QSlider(Qt::Horizontal, bar);
    strengthSlider->setRange(0, 100);
    strengthSlider->setValue(100);
    strengthSlider->setFixedWidth(150);
    strengthSlider->setStyleSheet(QLatin1String(SliderStyle));
    infoLabel = new QLabel(QStringLiteral("%1 %2").arg(analysis->noteSegments().size()).arg(tr("个音高段")),
                           bar);
    infoLabel->setStyleSheet(QStringLiteral("color: #888; font-size: 11px;"));
    row->addWidget(strengthLabel);
    row->addWidget(strengthSlider);
    row->addWidget(infoLabel);
    row->addStretch();

    const auto addButton = [&](const QString& text) {
        auto* button = new QPushButton(text, bar);
        button->setFixedSize(60, 28);
        button->setStyleSheet(QLatin1String(ButtonStyle));
        row->addWidget(button);
        return button;
    };
    previewButton = addButton(tr("试听"));
    previewButton->setCheckable(true);
    QPushButton* apply = addButton(tr("应用"));
    QPushButton* cancel = addButton(tr("取消"));

    connect(strengthSlider, &QSlider::valueChanged, this, &PitchCorrectionDialog::onStrengthChanged);
    connect(previewButton, &QPushButton::toggled, this, &PitchCorrectionDialog::onPreviewToggled);
    connect(apply, &QPushButton::clicked, this, [this] {
        if (!applyAllowed(this, applyCheck))
            return;
        stopPreview();
        runCorrection();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    return bar;
}

QString PitchCorrectionDialog::infoText() const
{
    return infoLabel->text();
}

QRect PitchCorrectionDialog::rulerArea() const
{
    return QRect(QPoint(PitchRollGeometry::KeyWidth, 0),
                 QPoint(width() - 1, PitchRollGeometry::RulerHeight - 1));
}

QRect PitchCorrectionDialog::pianoKeyArea() const
{
    return QRect(QPoint(0, PitchRollGeometry::RulerHeight),
                 QPoint(PitchRollGeometry::KeyWidth - 1, view.gridBottom()));
}

QRect PitchCorrectionDialog::gridArea() const
{
    return QRect(QPoint(PitchRollGeometry::KeyWidth, PitchRollGeometry::RulerHeight),
                 QPoint(width() - 1, view.gridBottom()));
}

int PitchCorrectionDialog::hitTestSegment(const QPoint& point) const
{
    return view.hitTestSegment(point, *analysis);
}

void PitchCorrectionDialog::runCorrection()
{
    correctedSamples = analysis->corrected();
}

void PitchCorrectionDialog::applyTo(QList<float>& list) const
{
    list = analysis->corrected(list);
}

void PitchCorrectionDialog::onStrengthChanged(int value)
{
    strengthLabel->setText(tr("修正力度: %1%").arg(value));
    analysis->setStrength(float(value) / 100.0f);
    update();
}

void PitchCorrectionDialog::showSegmentInfo(int midi)
{
    infoLabel->setText(QStringLiteral("%1 %2 | %3: %4")
                           .arg(analysis->noteSegments().size())
                           .arg(tr("个音高段"), tr("目标"))
                           .arg(midi));
}

void PitchCorrectionDialog::setSelectedTarget(int midi)
{
    if (!analysis->setSegmentTarget(selectedSegment, midi))
        return;
    showSegmentInfo(analysis->noteSegments()[size_t(selectedSegment)].targetMidi);
}

// ---- view ----

void PitchCorrectionDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    view.size = size();
}

void PitchCorrectionDialog::clampScroll()
{
    view.scrollSeconds = std::clamp(view.scrollSeconds, 0.0, view.maxScrollSeconds(analysis->duration()));
    view.scrollY = std::clamp(view.scrollY, 0, view.maxScrollY());
}

void PitchCorrectionDialog::setPlayheadFromX(int x)
{
    playheadSeconds = std::max(0.0, view.xToSec(x));
    update();
}

void PitchCorrectionDialog::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = rounded(event->position());
    if (p.y() < PitchRollGeometry::RulerHeight && p.x() > PitchRollGeometry::KeyWidth) {
        setPlayheadFromX(p.x());
        return;
    }
    if (p.y() > PitchRollGeometry::RulerHeight && event->button() == Qt::LeftButton
        && p.x() > PitchRollGeometry::KeyWidth) {
        selectedSegment = hitTestSegment(p);
        if (selectedSegment >= 0) {
            draggingSegment = true;
            dragStartY = p.y();
            dragStartTargetFreq = analysis->noteSegments()[size_t(selectedSegment)].targetFreq;
        }
        update();
        return;
    }
    QDialog::mousePressEvent(event);
}

void PitchCorrectionDialog::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = rounded(event->position());
    if ((event->buttons() & Qt::LeftButton) && !draggingSegment
        && p.y() < PitchRollGeometry::RulerHeight) {
        setPlayheadFromX(p.x());
        return;
    }
    if (draggingSegment && selectedSegment >= 0) {
        setSelectedTarget(PitchCorrectionSession::draggedNote(dragStartTargetFreq, dragStartY, p.y(),
                                                              view.zoomY));
        update();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void PitchCorrectionDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (draggingSegment) {
        draggingSegment = false;
        update();
    }
    QDialog::mouseReleaseEvent(event);
}

void PitchCorrectionDialog::wheelEvent(QWheelEvent* event)
{
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const int dy = pixels.y() != 0 ? pixels.y() : angle.y();
    const int dx = pixels.x() != 0 ? pixels.x() : angle.x();
    const bool twoAxis = pixels.x() != 0 && pixels.y() != 0 && (pixels.x() > 0) == (pixels.y() > 0);
    const auto zoomed = [](double value, int sign, double low, double high) {
        return std::clamp(value * (sign > 0 ? WheelZoomIn : WheelZoomOut), low, high);
    };

    if ((event->modifiers() & Qt::ControlModifier) || twoAxis) {
        const int deciding = twoAxis ? pixels.x() : dy;
        if (deciding != 0)
            view.zoomX = zoomed(view.zoomX, deciding, MinZoomX, MaxZoomX);
        if (twoAxis)
            view.zoomY = zoomed(view.zoomY, pixels.y(), MinZoomY, MaxZoomY);
    } else if (event->modifiers() & Qt::ShiftModifier) {
        if (dy == 0) {
            event->accept();
            return;
        }
        view.zoomY = zoomed(view.zoomY, dy, MinZoomY, MaxZoomY);
    } else {
        if (dx == 0 && dy == 0) {
            event->ignore();
            return;
        }
        const bool fromPixels = !pixels.isNull();
        if (dx != 0) {
            view.scrollSeconds -= fromPixels ? dx / (PitchRollGeometry::PixelsPerSecond * view.zoomX)
                                             : dx / 120.0 * SecondsPerWheelNotch;
        }
        if (dy != 0)
            view.scrollY -= fromPixels ? dy : int(dy / 120.0 * PixelsPerWheelNotch);
        clampScroll();
    }
    update();
    event->accept();
}

void PitchCorrectionDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    const bool withSegment =
        selectedSegment >= 0 && selectedSegment < int(analysis->noteSegments().size());
    const int row = int(PitchRollGeometry::RowHeight * view.zoomY);
    switch (event->key()) {
    case Qt::Key_G:
        view.zoomX = std::max(MinZoomX, view.zoomX * KeyZoomOut);
        clampScroll();
        break;
    case Qt::Key_H:
        view.zoomX = std::min(MaxZoomX, view.zoomX * KeyZoomIn);
        clampScroll();
        break;
    case Qt::Key_Up:
        if (withSegment) {
            setSelectedTarget(analysis->noteSegments()[size_t(selectedSegment)].targetMidi + 1);
        } else {
            view.scrollY -= row;
            clampScroll();
        }
        break;
    case Qt::Key_Down:
        if (withSegment) {
            setSelectedTarget(analysis->noteSegments()[size_t(selectedSegment)].targetMidi - 1);
        } else {
            view.scrollY += row;
            clampScroll();
        }
        break;
    default:
        QDialog::keyPressEvent(event);
        return;
    }
    update();
    event->accept();
}

// ---- preview ----

void PitchCorrectionDialog::onPreviewToggled(bool on)
{
    if (!on) {
        stopPreview();
        return;
    }
    previewSamples = analysis->corrected();
    const int rate = analysis->sampleRate();
    const int start = std::clamp(int(playheadSeconds * rate), 0, int(previewSamples.size()));
    if (!previewEngine) {
        previewEngine = std::make_unique<AudioEngine>();
        previewEngine->initialize(rate, PreviewBufferFrames);
    }
    if (rate < 1 || start >= previewSamples.size()
        || !previewEngine->startPlayback(previewSamples.constData(), int(previewSamples.size()), rate,
                                         start)) {
        qWarning() << "PitchCorrectionDialog: preview playback could not start";
        previewButton->setChecked(false);
        return;
    }
    if (!previewTimer) {
        previewTimer = new QTimer(this);
        previewTimer->setInterval(PreviewTickMs);
        connect(previewTimer, &QTimer::timeout, this, &PitchCorrectionDialog::onPreviewTick);
    }
    previewTimer->start();
}

void PitchCorrectionDialog::onPreviewTick()
{
    if (!previewEngine)
        return;
    const int rate = analysis->sampleRate();
    playheadSeconds = rate > 0 ? double(previewEngine->getPosition()) / rate : 0.0;
    if (!previewEngine->isPlaying())
        previewButton->setChecked(false); // stops the preview
    update();
}

void PitchCorrectionDialog::stopPreview()
{
    if (previewTimer)
        previewTimer->stop();
    if (previewEngine) {
        // The engine lets go of the list before it is replaced or freed.
        previewEngine->stopPlayback();
        previewEngine->shutdown();
    }
}
