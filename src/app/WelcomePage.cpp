#include "app/WelcomePage.h"

#include "app/TutorialCatalog.h"

#include <QDialog>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const char* const PageStyle =
    "QWidget#WelcomePage {  background: qlineargradient(x1:0, y1:0, x2:1, y2:1,"
    "    stop:0 #0d0d1a, stop:0.5 #141428, stop:1 #0d0d1a);}";
const char* const AccentLineStyle =
    "QFrame { background: qlineargradient(x1:0, y1:0, x2:1, y2:0,  stop:0 #2a82da, "
    "stop:0.5 #00f2ff, stop:1 #2a82da); }";
const char* const TitleStyle =
    "QLabel {  color: #ffffff;  font-size: 36px;  font-weight: bold;  background: transparent;"
    "  border: none;}";
const char* const StartSectionStyle =
    "QLabel {  color: #6a6a8a;  font-size: 11px;  font-weight: bold;  letter-spacing: 2px;"
    "  background: transparent;  border: none;  margin-bottom: 12px;}";
const char* const TutorialSectionStyle =
    "QLabel {  color: #6a6a8a;  font-size: 11px;  font-weight: bold;  letter-spacing: 2px;"
    "  background: transparent;  border: none;}";
const char* const CreateButtonStyle =
    "QPushButton {  background-color: #2a82da;  color: #ffffff;  border: none;"
    "  border-radius: 8px;  font-size: 15px;  font-weight: bold;}"
    "QPushButton:hover { background-color: #1c6bb5; }"
    "QPushButton:pressed { background-color: #155a9c; }";
const char* const ImportButtonStyle =
    "QPushButton {  background-color: transparent;  color: #e0e0e0;  border: 1px solid #2a82da;"
    "  border-radius: 8px;  font-size: 15px;  font-weight: bold;}"
    "QPushButton:hover {  background-color: rgba(42, 130, 218, 30);  color: #ffffff;}"
    "QPushButton:pressed {  background-color: rgba(42, 130, 218, 60);}";
const char* const CardStyle =
    "QFrame#TutorialCard {  background-color: rgba(255,255,255,0.04);"
    "  border: 1px solid rgba(255,255,255,0.08);  border-radius: 10px;  padding: 16px;}"
    "QFrame#TutorialCard:hover {  background-color: rgba(42,130,218,0.10);"
    "  border: 1px solid rgba(42,130,218,0.30);}";
const char* const CardScrollStyle =
    "QScrollArea#TutorialCardScroll { background: transparent; border: none; }"
    "QWidget#TutorialCards { background: transparent; }";
const char* const CardIconStyle =
    "color: #2a82da; font-size: 16px; background: transparent; border: none;";
const char* const CardTitleStyle =
    "color: #e0e0e0; font-size: 14px; font-weight: bold; background: transparent; border: none;"
    "margin-top: 2px;";
const char* const CardDescriptionStyle =
    "color: #6a6a8a; font-size: 12px; background: transparent; border: none;margin-bottom: 4px;";

const char* const DialogStyle = "QDialog { background-color: #1a1a2e; }QLabel { color: #e0e0e0; }";
const char* const DialogTitleStyle =
    "color: #ffffff; font-size: 20px; font-weight: bold; margin-bottom: 16px;";
const char* const ScrollAreaStyle =
    "QScrollArea { background: transparent; border: none; }"
    "QScrollBar:vertical { background: rgba(255,255,255,0.05); width: 6px; border-radius: 3px; }"
    "QScrollBar::handle:vertical { background: rgba(255,255,255,0.15); border-radius: 3px; }";
// Scoped to the row by name: a bare QFrame selector would also give the
// labels inside (QLabel is a QFrame) the row's padding and border.
const char* const StepRowStyle =
    "QFrame#TutorialStepRow {  background-color: rgba(255,255,255,0.04);"
    "  border: 1px solid rgba(255,255,255,0.06);  border-radius: 8px;  padding: 12px;}";
const char* const StepNumberStyle =
    "color: #2a82da; font-size: 16px; font-weight: bold; min-width: 24px; max-width: 24px;"
    "background: transparent; border: none;";
const char* const StepTextStyle =
    "color: #c0c0d0; font-size: 13px; background: transparent; border: none;";
const char* const CloseButtonStyle =
    "QPushButton {  background-color: #2a82da;  color: #ffffff;  border: none;"
    "  border-radius: 6px;  font-size: 13px;  font-weight: bold;}"
    "QPushButton:hover { background-color: #1c6bb5; }"
    "QPushButton:pressed { background-color: #155a9c; }";

const char* const TitleProperty = "tutorialTitle";
const char* const StepsProperty = "tutorialSteps";

QPushButton* makeStartButton(const QString& text, const char* style, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFixedSize(200, 44);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString::fromUtf8(style));
    return button;
}

} // namespace

WelcomePage::WelcomePage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WelcomePage"));
    // A QWidget subclass paints its style-sheet background only when asked to.
    setAttribute(Qt::WA_StyledBackground, true);
    setupUi();
    setupConnections();
}

void WelcomePage::setupUi()
{
    setStyleSheet(QString::fromUtf8(PageStyle));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* accentLine = new QFrame(this);
    accentLine->setFixedHeight(3);
    accentLine->setStyleSheet(QString::fromUtf8(AccentLineStyle));
    root->addWidget(accentLine);

    auto* content = new QWidget(this);
    content->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* columns = new QHBoxLayout(content);
    columns->setContentsMargins(60, 48, 60, 48);
    columns->setSpacing(60);
    root->addWidget(content, 1);

    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    titleLabel = new QLabel(tr("卡德文Studio"), content);
    titleLabel->setStyleSheet(QString::fromUtf8(TitleStyle));
    left->addWidget(titleLabel);
    left->addSpacing(32);
    auto* startLabel = new QLabel(tr("开 始"), content);
    startLabel->setStyleSheet(QString::fromUtf8(StartSectionStyle));
    left->addWidget(startLabel);
    left->addSpacing(12);
    singleButton = makeStartButton(tr("＋ 单轨工程"), CreateButtonStyle, content);
    left->addWidget(singleButton);
    left->addSpacing(10);
    multiButton = makeStartButton(tr("＋ 多轨工程"), CreateButtonStyle, content);
    left->addWidget(multiButton);
    left->addSpacing(10);
    importButton = makeStartButton(tr("导入工程"), ImportButtonStyle, content);
    left->addWidget(importButton);
    left->addStretch();
    columns->addLayout(left, 0);
    columns->setAlignment(left, Qt::AlignTop);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(16);
    auto* tutorialLabel = new QLabel(tr("教程"), content);
    tutorialLabel->setStyleSheet(QString::fromUtf8(TutorialSectionStyle));
    right->addWidget(tutorialLabel);
    // The cards scroll, so that the page (and the window) fits a small screen.
    auto* cardScroll = new QScrollArea(content);
    cardScroll->setObjectName(QStringLiteral("TutorialCardScroll"));
    cardScroll->setWidgetResizable(true);
    cardScroll->setFrameShape(QFrame::NoFrame);
    cardScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cardScroll->setStyleSheet(QString::fromUtf8(CardScrollStyle));
    auto* cards = new QWidget;
    cards->setObjectName(QStringLiteral("TutorialCards"));
    auto* cardLayout = new QVBoxLayout(cards);
    cardLayout->setContentsMargins(0, 0, 8, 0);   // room between the cards and the scroll bar
    cardLayout->setSpacing(10);
    for (const TutorialEntry& entry : tutorialEntries()) {
        QStringList steps;
        for (const char* step : entry.steps)
            steps << tr(step);
        cardLayout->addWidget(createTutorialCard(tr(entry.title), tr(entry.description), steps));
    }
    cardLayout->addStretch();
    cardScroll->setWidget(cards);
    right->addWidget(cardScroll, 1);
    columns->addLayout(right, 1);
}

QWidget* WelcomePage::createTutorialCard(const QString& title, const QString& description,
                                         const QStringList& steps)
{
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("TutorialCard"));
    card->setCursor(Qt::PointingHandCursor);
    card->setStyleSheet(QString::fromUtf8(CardStyle));
    card->setProperty(TitleProperty, title);
    card->setProperty(StepsProperty, steps);

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel(card);
    icon->setStyleSheet(QString::fromUtf8(CardIconStyle));
    // No card has an icon yet: shown empty, the label would only leave a gap above the title.
    icon->hide();
    layout->addWidget(icon);
    auto* titleText = new QLabel(title, card);
    titleText->setStyleSheet(QString::fromUtf8(CardTitleStyle));
    layout->addWidget(titleText);
    auto* descriptionText = new QLabel(description, card);
    descriptionText->setWordWrap(true);
    descriptionText->setStyleSheet(QString::fromUtf8(CardDescriptionStyle));
    layout->addWidget(descriptionText);

    card->installEventFilter(this);
    return card;
}

void WelcomePage::setupConnections()
{
    connect(singleButton, &QPushButton::clicked, this, &WelcomePage::onCreateSingleProject);
    connect(multiButton, &QPushButton::clicked, this, &WelcomePage::onCreateMultiProject);
    connect(importButton, &QPushButton::clicked, this, &WelcomePage::onImportProject);
}

void WelcomePage::onCreateSingleProject()
{
    emit createProject(QStringLiteral("single"));
}

void WelcomePage::onCreateMultiProject()
{
    emit createProject(QStringLiteral("multi"));
}

void WelcomePage::onImportProject()
{
    emit importProject();
}

bool WelcomePage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QFrame*>(watched)) {
        const QString title = watched->property(TitleProperty).toString();
        const QStringList steps = watched->property(StepsProperty).toStringList();
        if (!title.isEmpty() && !steps.isEmpty()) {
            showTutorialDialog(title, steps);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WelcomePage::showTutorialDialog(const QString& title, const QStringList& steps)
{
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(title);
    dialog->resize(480, 360);
    dialog->setStyleSheet(QString::fromUtf8(DialogStyle));

    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(0);
    auto* heading = new QLabel(title, dialog);
    heading->setStyleSheet(QString::fromUtf8(DialogTitleStyle));
    layout->addWidget(heading);
    layout->addSpacing(16);

    auto* scroll = new QScrollArea(dialog);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setStyleSheet(QString::fromUtf8(ScrollAreaStyle));
    auto* stepList = new QWidget;
    stepList->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* stepLayout = new QVBoxLayout(stepList);
    stepLayout->setContentsMargins(0, 0, 0, 0);
    stepLayout->setSpacing(12);
    for (int i = 0; i < steps.size(); ++i) {
        auto* row = new QFrame(stepList);
        row->setObjectName(QStringLiteral("TutorialStepRow"));
        row->setStyleSheet(QString::fromUtf8(StepRowStyle));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(12);
        auto* number = new QLabel(QString::number(i + 1), row);
        number->setAlignment(Qt::AlignTop);
        number->setStyleSheet(QString::fromUtf8(StepNumberStyle));
        rowLayout->addWidget(number);
        auto* text = new QLabel(steps.at(i), row);
        text->setWordWrap(true);
        text->setStyleSheet(QString::fromUtf8(StepTextStyle));
        rowLayout->addWidget(text);
        stepLayout->addWidget(row);
    }
    stepLayout->addStretch();
    scroll->setWidget(stepList);
    layout->addWidget(scroll, 1);

    auto* closeButton = new QPushButton(tr("关闭"), dialog);
    closeButton->setFixedSize(100, 36);
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->setStyleSheet(QString::fromUtf8(CloseButtonStyle));
    connect(closeButton, &QPushButton::clicked, dialog, &QDialog::accept);
    layout->addWidget(closeButton, 0, Qt::AlignHCenter);

    dialog->exec();
    dialog->deleteLater();
}
