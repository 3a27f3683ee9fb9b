#include "widgets/LoadingOverlay.h"
#include "widgets/WorkerWait.h"

#include <QtTest/QtTest>
#include <QtWidgets>

#include <cmath>

namespace {

const QColor ArcColour(96, 165, 250);

bool near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

QTimer* spinnerTimer(LoadingOverlay& overlay)
{
    return overlay.findChild<QTimer*>();
}

void tick(LoadingOverlay& overlay)
{
    QVERIFY(QMetaObject::invokeMethod(spinnerTimer(overlay), "timeout"));
}

// The point of the arc's circle (48 px across, centred 16 px above the middle)
// at `degrees`, counted anticlockwise from three o'clock as Qt's arcs are.
QPoint circlePoint(const QSize& size, double degrees)
{
    const double cx = size.width() / 2;
    const double cy = size.height() / 2 - 16;
    const double radians = degrees * M_PI / 180.0;
    return QPoint(int(std::lround(cx + 24 * std::cos(radians))),
                  int(std::lround(cy - 24 * std::sin(radians))));
}

void verifyArc(const QImage& image, const QSize& size, double start)
{
    for (double inside : {10.0, 60.0, 110.0})
        QVERIFY2(near(image.pixelColor(circlePoint(size, start + inside)), ArcColour, 12),
                 qPrintable(QString::number(start + inside)));
    for (double outside : {135.0, 240.0, 345.0})
        QVERIFY2(near(image.pixelColor(circlePoint(size, start + outside)), QColor(127, 127, 127), 2),
                 qPrintable(QString::number(start + outside)));
}

struct PaintCount : QObject {
    explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override { return (paints += event->type() == QEvent::Paint, false); }
    int paints = 0;
};

// A white page with a full-size button under the overlay.
struct CoveredPage {
    QWidget page;
    QPushButton* button;
    LoadingOverlay* overlay;

    CoveredPage()
    {
        page.setStyleSheet(QStringLiteral("QWidget { background: white; }"));
        auto* layout = new QVBoxLayout(&page);
        layout->setContentsMargins(0, 0, 0, 0);
        button = new QPushButton;
        button->setFlat(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
        overlay = new LoadingOverlay(&page);
        page.resize(400, 300);
    }
};

} // namespace

class LoadingOverlayTest : public QObject {
    Q_OBJECT
private slots:
    void constructedHidden()
    {
        QWidget parent;
        LoadingOverlay overlay(&parent);
        QVERIFY(overlay.isHidden());
        QVERIFY(!spinnerTimer(overlay)->isActive());
        QCOMPARE(overlay.angle(), 0);
        QVERIFY(overlay.message().isEmpty());
        QVERIFY(!overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(overlay.testAttribute(Qt::WA_TranslucentBackground));
    }

    void showCoversParentAndStartsSpinner()
    {
        QWidget parent;
        parent.resize(320, 200);
        LoadingOverlay overlay(&parent);
        overlay.show(QString());
        QCOMPARE(overlay.message(), QStringLiteral("处理中..."));
        QVERIFY(overlay.isVisibleTo(&parent));
        QCOMPARE(overlay.geometry(), QRect(0, 0, 320, 200));
        QVERIFY(spinnerTimer(overlay)->isActive());
        QCOMPARE(spinnerTimer(overlay)->interval(), 50);

        // Not tracked: a resized parent leaves the overlay as it was until the next show.
        parent.resize(500, 400);
        QCOMPARE(overlay.geometry(), QRect(0, 0, 320, 200));

        tick(overlay);
        tick(overlay);
        overlay.show(QStringLiteral("保存中..."));
        QCOMPARE(overlay.message(), QStringLiteral("保存中..."));
        QCOMPARE(overlay.angle(), 0);
        QCOMPARE(overlay.geometry(), QRect(0, 0, 500, 400));

        overlay.hide();
        QVERIFY(overlay.isHidden());
        QVERIFY(!spinnerTimer(overlay)->isActive());
        overlay.hide();
        QVERIFY(overlay.isHidden());
    }

    void angleTurnsInThirtyDegreeSteps()
    {
        QWidget parent;
        LoadingOverlay overlay(&parent);
        overlay.show(QString());
        for (int i = 1; i <= 24; ++i) {
            tick(overlay);
            QCOMPARE(overlay.angle(), (30 * i) % 360);
        }
        QCOMPARE(overlay.angle(), 0);
    }

    void spinnerTurnsOnItsOwn()
    {
        QWidget parent;
        LoadingOverlay overlay(&parent);
        overlay.show(QString());
        QTRY_VERIFY_WITH_TIMEOUT(overlay.angle() != 0, 1000);
    }

    void withoutParentKeepsGeometry()
    {
        LoadingOverlay overlay(nullptr);
        overlay.setGeometry(30, 40, 200, 150);
        overlay.show(QStringLiteral("x"));
        QCOMPARE(overlay.geometry(), QRect(30, 40, 200, 150));
        QVERIFY(overlay.isVisible());
        QVERIFY(spinnerTimer(overlay)->isActive());
        overlay.hide();
    }

    void paintsDimmedArcAndMessage()
    {
        CoveredPage covered;
        covered.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&covered.page));
        covered.overlay->show(QString());
        const QSize size = covered.overlay->size();

        QImage image = covered.page.grab().toImage();
        // White under black at alpha 128.
        QVERIFY(near(image.pixelColor(3, 3), QColor(127, 127, 127), 2));
        // The arc spans 0° to 120° (its round caps reach about 5° further).
        verifyArc(image, size, 0);
        if (QTest::currentTestFailed())
            return;

        bool messageDrawn = false;
        const int cy = size.height() / 2;
        for (int y = cy + 20; y < cy + 50 && !messageDrawn; ++y)
            for (int x = 0; x < size.width() && !messageDrawn; ++x)
                messageDrawn = near(image.pixelColor(x, y), QColor(200, 200, 220), 10);
        QVERIFY(messageDrawn);

        for (int i = 0; i < 6; ++i)
            tick(*covered.overlay);
        verifyArc(covered.page.grab().toImage(), size, 180);
    }

    // Shown, it swallows the mouse, and work that holds the window repaints
    // nothing under it: not for a spinner step, nor for a widget that
    // changes beneath it meanwhile.
    void swallowsMouseInputWhileShown()
    {
        CoveredPage covered;
        covered.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&covered.page));
        QSignalSpy clicked(covered.button, &QPushButton::clicked);
        const QPoint centre = covered.page.rect().center();
        PaintCount beneath(covered.button), overlay(covered.overlay);

        covered.overlay->show(QString());
        QCOMPARE(covered.page.childAt(centre), covered.overlay);
        QTest::mouseClick(covered.page.windowHandle(), Qt::LeftButton, {}, centre);
        QCOMPARE(clicked.count(), 0);
        QTRY_VERIFY(overlay.paints > 0);
        beneath.paints = overlay.paints = 0;
        tick(*covered.overlay);
        covered.button->update();
        QTRY_VERIFY(overlay.paints > 0);
        QCOMPARE(beneath.paints, 0);

        covered.overlay->hide();
        QTRY_VERIFY(beneath.paints > 0);
        QCOMPARE(covered.page.childAt(centre), covered.button);
        QTest::mouseClick(covered.page.windowHandle(), Qt::LeftButton, {}, centre);
        QCOMPARE(clicked.count(), 1);
    }

    // A key and a click made in another window while long work runs under
    // the overlay, on a worker or blocking this thread, never act: not
    // during the work, nor once it is done.
    void inputDuringWorkIsDropped_data()
    {
        QTest::addColumn<bool>("onWorker");
        QTest::newRow("worker") << true;
        QTest::newRow("blocking") << false;
    }
    void inputDuringWorkIsDropped()
    {
        QFETCH(bool, onWorker);
        CoveredPage covered;
        covered.page.show();
        QWidget other;
        auto* edit = new QLineEdit(&other);
        auto* gain = new QPushButton(QStringLiteral("增益"), &other);
        gain->move(0, 40);
        other.show();
        QSignalSpy clicked(gain, &QPushButton::clicked);
        // Queued as the window system queues what the user does.
        const QPointF at = QRectF(gain->rect()).center();
        const QPointF globalAt = gain->mapToGlobal(at);
        const auto makeInput = [=] {
            QCoreApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, {}, QStringLiteral("x")));
            QCoreApplication::postEvent(
                gain, new QMouseEvent(QEvent::MouseButtonPress, at, globalAt, Qt::LeftButton, Qt::LeftButton, {}));
            QCoreApplication::postEvent(
                gain, new QMouseEvent(QEvent::MouseButtonRelease, at, globalAt, Qt::LeftButton, Qt::NoButton, {}));
        };

        covered.overlay->show(QStringLiteral("导出中..."));
        if (onWorker)
            WorkerWait::run(makeInput);
        else
            makeInput();
        covered.overlay->hide();
        QCoreApplication::processEvents();
        QVERIFY(edit->text().isEmpty());
        QCOMPARE(clicked.count(), 0);

        makeInput();
        QCoreApplication::processEvents();
        QCOMPARE(edit->text(), QStringLiteral("x"));
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(LoadingOverlayTest)
#include "tst_LoadingOverlay.moc"
