#include "TestSupport.h"
#include "app/StartUp.h"
#include "app/WelcomePage.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

// Counts the mouse presses that reach a widget past the filters installed after it.
class PressCounter : public QObject {
public:
    int presses = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            ++presses;
        return false;
    }
};

QList<QFrame*> tutorialCards(WelcomePage& page)
{
    QList<QFrame*> cards;
    for (QFrame* frame : page.findChildren<QFrame*>())
        if (frame->objectName() == QLatin1String("TutorialCard"))
            cards << frame;
    std::sort(cards.begin(), cards.end(), [](QFrame* a, QFrame* b) { return a->y() < b->y(); });
    return cards;
}

QPushButton* buttonWithText(QWidget& root, const QString& text)
{
    for (QPushButton* button : root.findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

struct DialogReport {
    bool seen = false;
    QString title;
    QStringList numbers;
    QStringList texts;
    QList<int> rowHeights;
    QList<bool> oneLine;      // the step's text fits one line of its label
    int numberLineHeight = 0;
    bool numbersFit = true;   // every number has the room its digits need
};

// Reads the tutorial dialog once it runs, then closes it with its own button.
void readAndCloseNextDialog(DialogReport* report)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, report] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->deleteLater();
        poll->stop();
        report->seen = true;
        report->title = dialog->windowTitle();
        if (report->title == QStringLiteral("快捷键指南"))
            TestSupport::saveScreenshot(dialog->grab(), QStringLiteral("tutorial-dialog.png"));
        auto* scroll = dialog->findChild<QScrollArea*>();
        QList<QFrame*> rows;
        for (QObject* child : scroll->widget()->children())
            if (auto* row = qobject_cast<QFrame*>(child))
                rows << row;
        for (QFrame* row : rows) {
            const auto labels = row->findChildren<QLabel*>();
            QLabel* number = labels.value(0);
            report->numbers << number->text();
            report->texts << labels.value(1)->text();
            QLabel* text = labels.value(1);
            report->rowHeights << row->height();
            report->oneLine << (text->fontMetrics().horizontalAdvance(text->text())
                                <= text->contentsRect().width());
            report->numberLineHeight = number->fontMetrics().height();
            if (number->contentsRect().width()
                < number->fontMetrics().horizontalAdvance(number->text()))
                report->numbersFit = false;
        }
        buttonWithText(*dialog, QStringLiteral("关闭"))->click();
    });
    poll->start();
}

} // namespace

class WelcomePageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The program's look, so that sizes and screenshots are what users see.
        StartUp::applyStyleSheet(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    }

    void buttonsEmitOnce_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("projectType");
        QTest::newRow("single") << "＋ 单轨工程" << "single";
        QTest::newRow("multi") << "＋ 多轨工程" << "multi";
        QTest::newRow("import") << "导入工程" << "";
    }
    void buttonsEmitOnce()
    {
        QFETCH(QString, text);
        QFETCH(QString, projectType);
        WelcomePage page;
        QCOMPARE(page.objectName(), QStringLiteral("WelcomePage"));
        QSignalSpy create(&page, &WelcomePage::createProject);
        QSignalSpy import(&page, &WelcomePage::importProject);
        QPushButton* button = buttonWithText(page, text);
        QVERIFY(button);
        QCOMPARE(button->size(), QSize(200, 44));
        QTest::mouseClick(button, Qt::LeftButton);
        if (projectType.isEmpty()) {
            QCOMPARE(import.count(), 1);
            QCOMPARE(create.count(), 0);
        } else {
            QCOMPARE(import.count(), 0);
            QCOMPARE(create.count(), 1);
            QCOMPARE(create.at(0).at(0).toString(), projectType);
        }
    }

    void cardsInOrder()
    {
        WelcomePage page;
        page.resize(1400, 900);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QList<QFrame*> cards = tutorialCards(page);
        const QStringList expected = {"快捷键指南", "录制你的第一条音频", "多轨混音入门",
                                      "MIDI 音乐制作", "音频效果处理", "频谱分析", "插件使用"};
        QCOMPARE(cards.size(), expected.size());
        for (int i = 0; i < cards.size(); ++i)
            QCOMPARE(cards[i]->property("tutorialTitle").toString(), expected[i]);
    }

    void cardOpensItsSteps_data()
    {
        QTest::addColumn<int>("card");
        QTest::addColumn<int>("stepCount");
        QTest::newRow("shortcut guide") << 0 << 18;
        for (int card = 1; card < 7; ++card)
            QTest::newRow(qPrintable(QStringLiteral("card %1").arg(card + 1))) << card << 4;
    }
    void cardOpensItsSteps()
    {
        QFETCH(int, card);
        QFETCH(int, stepCount);
        WelcomePage page;
        page.resize(1400, 900);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QFrame* frame = tutorialCards(page).value(card);
        QVERIFY(frame);

        // Put a counter behind the page's filter: it only sees presses the page lets through.
        PressCounter counter;
        frame->removeEventFilter(&page);
        frame->installEventFilter(&counter);
        frame->installEventFilter(&page);

        DialogReport report;
        readAndCloseNextDialog(&report);
        QTest::mousePress(frame, Qt::LeftButton);
        QVERIFY(report.seen);
        QCOMPARE(counter.presses, 0);
        QCOMPARE(report.title, frame->property("tutorialTitle").toString());
        QCOMPARE(report.texts, frame->property("tutorialSteps").toStringList());
        QCOMPARE(report.texts.size(), stepCount);
        for (int i = 0; i < stepCount; ++i)
            QCOMPARE(report.numbers.at(i), QString::number(i + 1));
        // A one-line row is its number's line, the row's padding (12 px
        // each side) and border, nothing inherited by the labels inside.
        QVERIFY(report.numbersFit);
        for (int i = 0; i < stepCount; ++i) {
            if (!report.oneLine.at(i))
                continue;
            QVERIFY2(report.rowHeights.at(i) <= report.numberLineHeight + 2 * 12 + 2 + 4,
                     qPrintable(QStringLiteral("row %1: %2 px").arg(i + 1).arg(report.rowHeights.at(i))));
        }
        if (card == 0) {
            QCOMPARE(report.texts.at(0), QStringLiteral("Ctrl+N — 创建新工程"));
            QCOMPARE(report.texts.at(9), QString());
            QCOMPARE(report.texts.at(17), QStringLiteral("G / H — 缩小/放大横向缩放"));
        }
        // The dialog is released after it ran.
        QTRY_VERIFY(page.findChildren<QDialog*>().isEmpty());
    }

    // On a short window the cards scroll (the page no longer needs the
    // height of all seven), and a card's title starts at its top.
    void cardsScrollOnAShortPage()
    {
        WelcomePage page;
        QVERIFY2(page.minimumSizeHint().height() < 600,
                 qPrintable(QString::number(page.minimumSizeHint().height())));
        page.resize(1200, 560);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QList<QFrame*> cards = tutorialCards(page);
        auto* scroll = page.findChild<QScrollArea*>();
        QVERIFY(scroll && scroll->isAncestorOf(cards.last()));
        QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
        scroll->ensureWidgetVisible(cards.last());
        const QRect shown = scroll->viewport()->rect();
        QVERIFY(shown.contains(QRect(cards.last()->mapTo(scroll->viewport(), QPoint(0, 0)),
                                     cards.last()->size())));
        for (QFrame* card : cards) {
            const auto labels = card->findChildren<QLabel*>();
            QLabel* title = nullptr;
            for (QLabel* label : labels)
                if (label->text() == card->property("tutorialTitle").toString())
                    title = label;
            QVERIFY(title);
            QVERIFY2(title->y() - card->contentsRect().top() <= 2,
                     qPrintable(QString::number(title->y() - card->contentsRect().top())));
        }
    }

    void otherEventsAreLeftAlone()
    {
        WelcomePage page;
        QFrame* card = tutorialCards(page).value(0);
        QVERIFY(card);
        QFrame plainFrame;
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QVERIFY(!page.eventFilter(&plainFrame, &press));
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QVERIFY(!page.eventFilter(card, &release));
        QVERIFY(page.findChildren<QDialog*>().isEmpty());
    }
};

QTEST_MAIN(WelcomePageTest)
#include "tst_WelcomePage.moc"
