// The track header: volume mapping, the R/M/S toggles and their looks, the
// controls that start hidden, the instrument list, and a picture.

#include "multitrack/TrackHeaderWidget.h"
#include "app/StartUp.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

class TrackHeaderTest : public QObject {
    Q_OBJECT
private slots:
    void volumeTruncatesAndClamps_data()
    {
        QTest::addColumn<float>("volume");
        QTest::addColumn<int>("slider");
        QTest::newRow("0.805") << 0.805f << 80;
        QTest::newRow("2.0") << 2.0f << 150;
        QTest::newRow("-1") << -1.0f << 0;
        QTest::newRow("NaN") << std::nanf("") << 0;
        QTest::newRow("0.999") << 0.999f << 99;
    }
    void volumeTruncatesAndClamps()
    {
        QFETCH(float, volume);
        QFETCH(int, slider);
        TrackHeaderWidget header;
        header.setVolume(0.5f);
        header.setVolume(volume);
        QCOMPARE(header.volumeSlider()->value(), slider);
        QCOMPARE(header.volumeReadout()->text(), QString::number(slider));
    }

    void sliderEmitsLinearVolume()
    {
        TrackHeaderWidget header;
        QCOMPARE(header.volumeReadout()->text(), QStringLiteral("80"));
        QSignalSpy spy(&header, &TrackHeaderWidget::volumeChanged);
        header.volumeSlider()->setValue(150);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toFloat(), 1.5f);
        QCOMPARE(header.volumeReadout()->text(), QStringLiteral("150"));
    }

    void toggleButtonsStoreStyleAndSignal()
    {
        TrackHeaderWidget header;
        QSignalSpy mute(&header, &TrackHeaderWidget::muteToggled);
        QSignalSpy solo(&header, &TrackHeaderWidget::soloToggled);
        QSignalSpy arm(&header, &TrackHeaderWidget::armToggled);
        header.setMuted(true);
        header.setMuted(true);
        QCOMPARE(mute.count(), 1);
        QVERIFY(header.isMuted());
        QVERIFY(header.muteButtonWidget()->styleSheet().startsWith("background: #ff0055"));

        QTest::mouseClick(header.soloButtonWidget(), Qt::LeftButton);
        QCOMPARE(solo.count(), 1);
        QVERIFY(header.isSolo());
        QVERIFY(header.soloButtonWidget()->styleSheet().contains("#ffcc00"));

        header.setArmed(true);
        QVERIFY(header.armButton()->styleSheet().startsWith("background: #ff2222"));
        // With the header's signals blocked the button still turns grey.
        {
            const QSignalBlocker blocker(&header);
            header.setArmed(false);
        }
        QCOMPARE(arm.count(), 1);
        QVERIFY(!header.isArmed());
        QVERIFY(header.armButton()->styleSheet().startsWith("background: #2a2a3a; color: #8888aa"));

        QSignalSpy vst(&header, &TrackHeaderWidget::vst3EditorToggled);
        header.setVst3ButtonChecked(true);
        header.setVst3ButtonChecked(false);
        QCOMPARE(vst.count(), 2);
        QCOMPARE(vst.at(1).at(0).toBool(), false);
    }

    void hiddenControlsAndInstrumentList()
    {
        TrackHeaderWidget header;
        header.show();
        QVERIFY(!header.vst3Button()->isVisible());
        QVERIFY(!header.videoButton()->isVisible());
        QVERIFY(!header.instrumentCombo()->isVisible());
        QVERIFY(!header.videoButton()->isCheckable());
        QCOMPARE(header.size(), QSize(180, 120));
        QCOMPARE(header.name(), QStringLiteral("轨道"));

        header.setInstrumentVisible(true);
        QVERIFY(header.instrumentCombo()->isVisible());
        QSignalSpy changed(&header, &TrackHeaderWidget::instrumentChanged);
        header.setInstrumentList({"a", "b", "c"}, 2);
        QCOMPARE(header.currentInstrumentIndex(), 2);
        header.setInstrumentList({"a", "b"}, 5);
        QCOMPARE(header.currentInstrumentIndex(), 0);
        header.setInstrumentList({"a", "b"}, -1);
        QCOMPARE(header.currentInstrumentIndex(), 0);
        QVERIFY(changed.count() >= 1);

        QSignalSpy video(&header, &TrackHeaderWidget::videoButtonClicked);
        header.setVideoButtonVisible(true);
        QTest::mouseClick(header.videoButton(), Qt::LeftButton);
        QCOMPARE(video.count(), 1);
    }

    void nameEditsEmitEveryChange()
    {
        TrackHeaderWidget header;
        QSignalSpy spy(&header, &TrackHeaderWidget::nameChanged);
        header.setName(QStringLiteral("鼓"));
        header.nameEdit()->clear();
        QTest::keyClicks(header.nameEdit(), QStringLiteral("bass"));
        QCOMPARE(spy.count(), 6);
        QCOMPARE(spy.last().at(0).toString(), QStringLiteral("bass"));
        QCOMPARE(header.colorStrip()->styleSheet(),
                 QStringLiteral("background-color: #3a86ff; border-radius: 2px;"));
        header.setColor(QColor(0xff, 0x00, 0x55));
        QCOMPARE(header.colorStrip()->styleSheet(),
                 QStringLiteral("background-color: #ff0055; border-radius: 2px;"));
        header.setColor(QColor()); // a track without a colour: the strip keeps its own
        QVERIFY(header.colorStrip()->styleSheet().contains("#ff0055"));
    }

    void picture()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
        QWidget strip;
        auto* layout = new QHBoxLayout(&strip);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* audio = new TrackHeaderWidget(&strip);
        audio->setName(QStringLiteral("人声"));
        audio->setColor(QColor(0xff, 0x00, 0x55));
        audio->setMuted(true);
        audio->setVideoButtonVisible(true);
        auto* midi = new TrackHeaderWidget(&strip);
        midi->setName(QStringLiteral("MIDI轨 1"));
        midi->setInstrumentVisible(true);
        midi->setInstrumentList({QStringLiteral("内置钢琴")}, 0);
        midi->setSolo(true);
        midi->setArmed(true);
        midi->setVst3ButtonVisible(true);
        midi->setVolume(1.2f);
        layout->addWidget(audio);
        layout->addWidget(midi);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        QVERIFY(TestSupport::saveScreenshot(strip.grab(), QStringLiteral("track-headers.png")));
    }
};

QTEST_MAIN(TrackHeaderTest)
#include "tst_TrackHeader.moc"
