#include "multitrack/TrackHeaderWidget.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// QComboBox builds its popup list as soon as its font changes, which the
// style sheet does when the header is first shown: most of a row's cost,
// for a list few rows ever open. This one builds it when first opened, in
// its own font.
class InstrumentComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        if (!findChild<QAbstractItemView*>()) {
            // What the skipped changes would have given the list.
            QEvent font(QEvent::FontChange);
            QComboBox::changeEvent(&font);
            QEvent palette(QEvent::PaletteChange);
            QComboBox::changeEvent(&palette);
            QEvent style(QEvent::StyleChange);
            QComboBox::changeEvent(&style);
        }
        QComboBox::showPopup();
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange && !findChild<QAbstractItemView*>()) {
            QWidget::changeEvent(event);
            updateGeometry();
            return;
        }
        QComboBox::changeEvent(event);
    }
};

constexpr int HeaderWidth = 180;
constexpr int HeaderHeight = 120;
constexpr int DefaultVolumePercent = 80;

// The frame styles apply to the header alone (not cascading onto its
// labels and slider), so only the header shows the selection's left edge.
const char* const UnselectedHeaderStyle =
    "TrackHeaderWidget { background: #1c1c28; border-top: 1px solid #2a2a3a; "
    "border-bottom: 1px solid #2a2a3a;border-left: 3px solid transparent; }";
const char* const SelectedHeaderStyle =
    "TrackHeaderWidget { background: #252540; border-top: 1px solid #2a2a3a; "
    "border-bottom: 1px solid #2a2a3a;border-left: 3px solid #00f2ff; }";

// R, M and S share their shape; VST3 and VID theirs.
const char* const FlagShape =
    "border-radius: 4px; font-size: 12px; font-weight: bold; padding: 0; min-height: 0;";
const char* const WideShape =
    "border-radius: 4px; font-size: 10px; font-weight: bold; padding: 0 4px; min-height: 0;";
const char* const FlagIdle = "background: #2a2a3a; color: #8888aa; border: 1px solid #3a3a50; ";

QString flagStyle(bool checked, const char* checkedColours)
{
    return QString::fromLatin1(checked ? checkedColours : FlagIdle) + QLatin1String(FlagShape);
}

QString armStyle(bool checked)
{
    return flagStyle(checked, "background: #ff2222; color: white; border: 1px solid #ff2222; ");
}

QString muteStyle(bool checked)
{
    return flagStyle(checked, "background: #ff0055; color: white; border: 1px solid #ff0055; ");
}

QString soloStyle(bool checked)
{
    return flagStyle(checked, "background: #ffcc00; color: #1a1a2a; border: 1px solid #ffcc00; ");
}

QString vst3Style(bool checked)
{
    const char* colours = checked
        ? "background: #2a82da; color: white; border: 1px solid #2a82da; "
        : "background: #2a2a3a; color: #6ab0ff; border: 1px solid #3a3a50; ";
    return QString::fromLatin1(colours) + QLatin1String(WideShape);
}

QString videoStyle()
{
    return QStringLiteral("background: #2a2a3a; color: #ff8844; border: 1px solid #3a3a50; ")
        + QLatin1String(WideShape);
}

QPushButton* smallButton(const QString& text, int width, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFixedSize(width, 24);
    // A click must not take the keys: Space after a click on M or S plays
    // rather than toggling the button again.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

TrackHeaderWidget::TrackHeaderWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(HeaderWidth, HeaderHeight);
    setAttribute(Qt::WA_StyledBackground, true);
    setSelectedLook(false);
    buildLayout();

    connect(nameField, &QLineEdit::textChanged, this, &TrackHeaderWidget::nameChanged);
    connect(recordArmButton, &QPushButton::toggled, this, &TrackHeaderWidget::onArmToggled);
    connect(muteButton, &QPushButton::toggled, this, &TrackHeaderWidget::onMuteToggled);
    connect(soloButton, &QPushButton::toggled, this, &TrackHeaderWidget::onSoloToggled);
    connect(vst3EditorButton, &QPushButton::toggled, this, &TrackHeaderWidget::onVst3Toggled);
    connect(videoPreviewButton, &QPushButton::clicked, this, &TrackHeaderWidget::videoButtonClicked);
    connect(instrumentList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TrackHeaderWidget::instrumentChanged);
    connect(volumeControl, &QSlider::valueChanged, this, [this](int value) {
        volumeLabel->setText(QStringLiteral("%1").arg(value));
        emit volumeChanged(float(value / 100.0));
    });
}

void TrackHeaderWidget::buildLayout()
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(8, 8, 8, 4);
    nameRow->setSpacing(6);
    colorLabel = new QLabel(this);
    colorLabel->setFixedSize(4, 20);
    colorLabel->setStyleSheet(QStringLiteral("background-color: #3a86ff; border-radius: 2px;"));
    nameField = new QLineEdit(QStringLiteral("轨道"), this);
    nameField->setStyleSheet(QStringLiteral(
        "background: #25253a; color: #d0d0e0; border: 1px solid #3a3a50; border-radius: 4px; "
        "padding: 2px 6px; font-size: 12px; font-weight: 600;"));
    nameRow->addWidget(colorLabel);
    nameRow->addWidget(nameField, 1);
    column->addLayout(nameRow);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(8, 2, 8, 2);
    buttonRow->setSpacing(4);
    recordArmButton = smallButton(QStringLiteral("R"), 36, this);
    recordArmButton->setToolTip(QStringLiteral("准备录制"));
    muteButton = smallButton(QStringLiteral("M"), 36, this);
    soloButton = smallButton(QStringLiteral("S"), 36, this);
    vst3EditorButton = smallButton(QStringLiteral("VST3"), 48, this);
    vst3EditorButton->setToolTip(QStringLiteral("打开/关闭 VST3 插件编辑器"));
    videoPreviewButton = smallButton(QStringLiteral("VID"), 36, this);
    videoPreviewButton->setToolTip(QStringLiteral("打开视频预览"));
    for (QPushButton* button : {recordArmButton, muteButton, soloButton, vst3EditorButton})
        button->setCheckable(true);
    recordArmButton->setStyleSheet(armStyle(false));
    muteButton->setStyleSheet(muteStyle(false));
    soloButton->setStyleSheet(soloStyle(false));
    vst3EditorButton->setStyleSheet(vst3Style(false));
    videoPreviewButton->setStyleSheet(videoStyle());
    vst3EditorButton->hide();
    videoPreviewButton->hide();
    for (QPushButton* button :
         {recordArmButton, muteButton, soloButton, vst3EditorButton, videoPreviewButton})
        buttonRow->addWidget(button);
    buttonRow->addStretch();
    column->addLayout(buttonRow);

    auto* instrumentRow = new QHBoxLayout;
    instrumentRow->setContentsMargins(8, 2, 8, 2);
    instrumentList = new InstrumentComboBox(this);
    instrumentList->setFixedHeight(24);
    instrumentList->setFocusPolicy(Qt::TabFocus); // a mouse choice leaves Space to the page
    instrumentList->setStyleSheet(QStringLiteral(
        "QComboBox { background: #25253a; color: #c0c0d0; border: 1px solid #3a3a50; "
        "border-radius: 4px; padding: 2px 6px; font-size: 11px; min-height: 0; }"
        "QComboBox::drop-down { border: none; width: 16px; }"));
    instrumentList->hide();
    instrumentRow->addWidget(instrumentList);
    column->addLayout(instrumentRow);

    auto* volumeRow = new QHBoxLayout;
    volumeRow->setContentsMargins(8, 2, 8, 6);
    volumeRow->setSpacing(4);
    auto* volumeIcon = new QLabel(QStringLiteral("V"), this);
    volumeIcon->setStyleSheet(QStringLiteral(
        "color: #666680; font-size: 10px; font-weight: bold; background: transparent;"));
    volumeControl = new QSlider(Qt::Horizontal, this);
    volumeControl->setRange(0, MaxVolumePercent);
    volumeControl->setValue(DefaultVolumePercent);
    volumeControl->setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal { background: #2a2a3a; height: 4px; border-radius: 2px; }"
        "QSlider::handle:horizontal { background: #00f2ff; width: 12px; height: 12px; "
        "margin: -4px 0; border-radius: 6px; }"
        "QSlider::sub-page:horizontal { background: qlineargradient(x1:0,y1:0,x2:1,y2:0, "
        "stop:0 #2a82da, stop:1 #00f2ff); border-radius: 2px; }"));
    volumeLabel = new QLabel(QString::number(DefaultVolumePercent), this);
    volumeLabel->setFixedWidth(30);
    volumeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volumeLabel->setStyleSheet(QStringLiteral(
        "color: #00f2ff; font-size: 10px; font-family: 'Courier New', monospace; "
        "font-weight: bold; background: transparent;"));
    volumeRow->addWidget(volumeIcon);
    volumeRow->addWidget(volumeControl, 1);
    volumeRow->addWidget(volumeLabel);
    column->addLayout(volumeRow);
    column->addStretch();
}

void TrackHeaderWidget::setSelectedLook(bool selected)
{
    setStyleSheet(QLatin1String(selected ? SelectedHeaderStyle : UnselectedHeaderStyle));
    setProperty("trackSelected", selected);
}

void TrackHeaderWidget::setName(const QString& text)
{
    nameField->setText(text);
}

QString TrackHeaderWidget::name() const
{
    return nameField->text();
}

void TrackHeaderWidget::setColor(const QColor& color)
{
    // A track without a colour keeps the strip's, as its lane keeps its
    // clips' colour, rather than turning black.
    if (!color.isValid())
        return;
    colorLabel->setStyleSheet(
        QStringLiteral("background-color: %1; border-radius: 2px;").arg(color.name()));
}

void TrackHeaderWidget::setVolume(float volume)
{
    // Truncate first (0.805 reads 80); NaN counts as silence.
    const double percent = double(volume) * 100.0;
    const int value = std::isnan(percent)
        ? 0
        : int(std::clamp(std::trunc(percent), 0.0, double(MaxVolumePercent)));
    volumeControl->setValue(value);
}

void TrackHeaderWidget::setMuted(bool value)
{
    muted = value;
    muteButton->setStyleSheet(muteStyle(value));
    muteButton->setChecked(value);
}

void TrackHeaderWidget::setSolo(bool value)
{
    solo = value;
    soloButton->setStyleSheet(soloStyle(value));
    soloButton->setChecked(value);
}

void TrackHeaderWidget::setArmed(bool value)
{
    armed = value;
    // Styled here too, so the look follows even with the header's signals blocked.
    recordArmButton->setStyleSheet(armStyle(value));
    recordArmButton->setChecked(value);
}

void TrackHeaderWidget::setInstrumentVisible(bool visible)
{
    instrumentList->setVisible(visible);
}

void TrackHeaderWidget::setInstrumentList(const QStringList& items, int current)
{
    instrumentList->clear();
    instrumentList->addItems(items);
    if (current >= 0 && current < items.size())
        instrumentList->setCurrentIndex(current);
}

int TrackHeaderWidget::currentInstrumentIndex() const
{
    return instrumentList->currentIndex();
}

void TrackHeaderWidget::setVst3ButtonVisible(bool visible)
{
    vst3EditorButton->setVisible(visible);
}

void TrackHeaderWidget::setVst3ButtonChecked(bool checked)
{
    vst3EditorButton->setChecked(checked);
    vst3EditorButton->setStyleSheet(vst3Style(checked));
}

void TrackHeaderWidget::setVideoButtonVisible(bool visible)
{
    videoPreviewButton->setVisible(visible);
}

void TrackHeaderWidget::onArmToggled(bool checked)
{
    armed = checked;
    recordArmButton->setStyleSheet(armStyle(checked));
    emit armToggled(checked);
}

void TrackHeaderWidget::onMuteToggled(bool checked)
{
    muted = checked;
    muteButton->setStyleSheet(muteStyle(checked));
    emit muteToggled(checked);
}

void TrackHeaderWidget::onSoloToggled(bool checked)
{
    solo = checked;
    soloButton->setStyleSheet(soloStyle(checked));
    emit soloToggled(checked);
}

void TrackHeaderWidget::onVst3Toggled(bool checked)
{
    vst3EditorButton->setStyleSheet(vst3Style(checked));
    emit vst3EditorToggled(checked);
}
