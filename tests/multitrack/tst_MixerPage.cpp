// The mixer page: strips built from the tracks without a signal, the
// controls' signals and read-outs, the insert slots, the fader scale, the
// main window's page 3, and a picture.

#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "multitrack/FaderScale.h"
#include "multitrack/MixerPage.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

TrackData track(const QString& name, float volume, float pan, const QColor& color)
{
    TrackData t;
    t.name = name;
    t.volume = volume;
    t.pan = pan;
    t.color = color;
    return t;
}

std::vector<TrackData> threeTracks()
{
    std::vector<TrackData> tracks = {track("鼓", 0.8f, 0.0f, QColor("#3a86ff")),
                                     track("贝斯", 1.234f, -0.5f, QColor("#ff0055")),
                                     track("人声", 1.0f, 0.25f, QColor("#00f2ff"))};
    tracks[1].type = MidiTrack;
    tracks[1].muted = true;
    tracks[2].solo = true;
    tracks[2].insertPlugins = {QStringLiteral("/x/Reverb.vst3"), QStringLiteral("/usr/lib/vst3/ZamComp.vst3")};
    return tracks;
}

struct Spies {
    explicit Spies(MixerPage& page)
        : volume(&page, &MixerPage::trackVolumeChanged), pan(&page, &MixerPage::trackPanChanged),
          mute(&page, &MixerPage::trackMuteChanged), solo(&page, &MixerPage::trackSoloChanged),
          add(&page, &MixerPage::addPluginRequested), editor(&page, &MixerPage::pluginEditorRequested),
          remove(&page, &MixerPage::removePluginRequested)
    {
    }
    int total() const
    {
        return int(volume.count() + pan.count() + mute.count() + solo.count() + add.count() + editor.count()
                   + remove.count());
    }
    QSignalSpy volume, pan, mute, solo, add, editor, remove;
};

} // namespace

class MixerPageTest : public QObject {
    Q_OBJECT
private slots:
    void readouts()
    {
        QCOMPARE(MixerPage::volToDb(0.8f), QStringLiteral("-1.9 dB"));
        QCOMPARE(MixerPage::volToDb(1.0f), QStringLiteral("0.0 dB"));
        QCOMPARE(MixerPage::volToDb(1.5f), QStringLiteral("3.5 dB"));
        QCOMPARE(MixerPage::volToDb(0.0005f), QStringLiteral("-inf"));
        QCOMPARE(MixerPage::volToDb(0.0f), QStringLiteral("-inf"));
        QCOMPARE(MixerPage::volToDb(-1.0f), QStringLiteral("-inf"));
        QCOMPARE(MixerPage::volToDb(std::nanf("")), QStringLiteral("-inf"));
        QCOMPARE(MixerPage::panText(0.01f), QStringLiteral("C"));
        QCOMPARE(MixerPage::panText(-0.5f), QStringLiteral("L50"));
        QCOMPARE(MixerPage::panText(0.999f), QStringLiteral("R99"));
        QCOMPARE(MixerPage::panText(-0.29f), QStringLiteral("L29")); // not L28 from 0.29f's float error
        QCOMPARE(MixerPage::panText(1.0f), QStringLiteral("R100"));
        QCOMPARE(MixerPage::percentOf(1.234f), 123);
    }

    void faderScaleTicks()
    {
        const double expected[6] = {0.6666667, 0.47196385, 0.3341248, 0.16745909, 0.042063817, 0.0026540475};
        for (int i = 0; i < 6; ++i)
            QVERIFY(std::abs(FaderScale::faderFraction(FaderScale::TickLevelsDb[i]) - expected[i]) < 1e-6);
        // Scale 200 high: usable 188, 0 dB at 193 - trunc(188 * 2/3) = 68; -48 dB at 193 - 0 = 193.
        QCOMPARE(FaderScale::tickY(0.0, 200), 68);
        QCOMPARE(FaderScale::tickY(-6.0, 200), 193 - 62);
        QCOMPARE(FaderScale::tickY(-48.0, 200), 193);
    }

    void stripsFollowTheTracksAndBuildSilently()
    {
        std::vector<TrackData> tracks = threeTracks();
        MixerPage page;
        Spies spies(page);
        QCOMPARE(page.channelStrips().size(), size_t(0));
        page.setTracks(&tracks);
        QCOMPARE(spies.total(), 0);

        const auto& strips = page.channelStrips();
        QCOMPARE(strips.size(), size_t(3));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(strips[size_t(i)].trackIndex, i);
            QCOMPARE(strips[size_t(i)].nameLabel->text(), tracks[size_t(i)].name);
            QCOMPARE(strips[size_t(i)].inserts.size(), size_t(MixerPage::InsertSlotCount));
            QCOMPARE(strips[size_t(i)].widget->width(), MixerPage::StripWidth);
        }
        QCOMPARE(strips[1].fader->value(), 123);
        QCOMPARE(strips[1].dbLabel->text(), MixerPage::volToDb(1.234f));
        QCOMPARE(strips[1].panSlider->value(), -50);
        QCOMPARE(strips[1].panLabel->text(), QStringLiteral("L50"));
        QVERIFY(strips[1].muteButton->isChecked());
        QVERIFY(!strips[1].soloButton->isChecked());
        QVERIFY(strips[2].soloButton->isChecked());

        const MixerPage::ChannelStrip& master = page.masterChannelStrip();
        QCOMPARE(master.trackIndex, -1);
        QCOMPARE(master.nameLabel->text(), QStringLiteral("Master"));
        QVERIFY(master.inserts.empty() && !master.panSlider && !master.muteButton && !master.soloButton);
        QCOMPARE(master.fader->value(), 80);
        QCOMPARE(master.dbLabel->text(), QStringLiteral("-1.9 dB"));
        QCOMPARE(page.masterVolume(), 1.0f);

        // Rebuilding follows the vector as it is now; without tracks only the master is left.
        tracks.pop_back();
        page.refreshFromData();
        QCOMPARE(page.channelStrips().size(), size_t(2));
        tracks.clear();
        page.refreshFromData();
        QVERIFY(page.channelStrips().empty());
        QVERIFY(page.masterChannelStrip().fader);
        // Left in the row: the 2-pixel separator, the master strip and the stretch.
        auto* row = page.masterChannelStrip().widget->parentWidget()->layout();
        QCOMPARE(row->count(), 3);
        page.setTracks(nullptr);
        QCOMPARE(row->count(), 1);
        QCOMPARE(spies.total(), 0);
    }

    void controlsReportTheirTrack()
    {
        std::vector<TrackData> tracks = threeTracks();
        MixerPage page;
        page.setTracks(&tracks);
        Spies spies(page);
        const auto& strips = page.channelStrips();

        strips[1].fader->setValue(120);
        QCOMPARE(spies.volume.count(), 1);
        QCOMPARE(spies.volume.at(0).at(0).toInt(), 1);
        QCOMPARE(spies.volume.at(0).at(1).toFloat(), 1.2f);
        QCOMPARE(strips[1].dbLabel->text(), MixerPage::volToDb(1.2f));

        strips[0].panSlider->setValue(-50);
        QCOMPARE(spies.pan.count(), 1);
        QCOMPARE(spies.pan.at(0).at(0).toInt(), 0);
        QCOMPARE(spies.pan.at(0).at(1).toFloat(), -0.5f);
        QCOMPARE(strips[0].panLabel->text(), QStringLiteral("L50"));

        strips[2].muteButton->click();
        strips[0].soloButton->click();
        QCOMPARE(spies.mute.count(), 1);
        QCOMPARE(spies.mute.at(0), (QList<QVariant>{2, true}));
        QCOMPARE(spies.solo.at(0), (QList<QVariant>{0, true}));
        QVERIFY(tracks[2].muted == false && tracks[0].solo == false); // the page only reports

        // The master fader only keeps the value.
        const int before = spies.total();
        page.masterChannelStrip().fader->setValue(110);
        QCOMPARE(page.masterVolume(), 1.1f);
        QCOMPARE(page.masterChannelStrip().dbLabel->text(), MixerPage::volToDb(1.1f));
        page.setMasterVolume(0.5f);
        QCOMPARE(page.masterVolume(), 0.5f);
        QCOMPARE(page.masterChannelStrip().fader->value(), 50);
        QCOMPARE(page.masterChannelStrip().dbLabel->text(), QStringLiteral("-6.0 dB"));
        QCOMPARE(spies.total(), before);
    }

    void insertSlots()
    {
        std::vector<TrackData> tracks = threeTracks();
        MixerPage page;
        page.setTracks(&tracks);
        Spies spies(page);
        MixerPage::ChannelStrip strip = page.channelStrips()[2];
        QCOMPARE(strip.inserts[0].nameButton->text(), QStringLiteral("Reverb"));
        QCOMPARE(strip.inserts[1].nameButton->text(), QStringLiteral("ZamComp"));
        QCOMPARE(strip.inserts[2].nameButton->text(), QStringLiteral("+"));
        QVERIFY(!strip.inserts[0].bypassButton->isHidden());
        QVERIFY(strip.inserts[2].bypassButton->isHidden());
        for (int i = 0; i < MixerPage::InsertSlotCount; ++i)
            QCOMPARE(strip.inserts[size_t(i)].numberLabel->text(), QString::number(i + 1));

        strip.inserts[0].nameButton->click();
        QCOMPARE(spies.editor.at(0), (QList<QVariant>{2, 0, QStringLiteral("/x/Reverb.vst3")}));
        strip.inserts[5].nameButton->click();
        QCOMPARE(spies.add.at(0), (QList<QVariant>{2}));
        strip.inserts[1].bypassButton->click();
        strip.inserts[1].bypassButton->click();
        QCOMPARE(spies.remove.count(), 2);
        QCOMPARE(spies.remove.at(1), (QList<QVariant>{2, 1}));

        // The slots follow the paths they are relabelled from; a stale track
        // index reads as empty instead of reaching past the vector.
        tracks[2].insertPlugins.pop_back();
        page.populateInsertSlots(strip, 2);
        QCOMPARE(strip.inserts[1].nameButton->text(), QStringLiteral("+"));
        QVERIFY(strip.inserts[1].bypassButton->isHidden());
        strip.inserts[1].nameButton->click();
        QCOMPARE(spies.add.count(), 2);
        page.populateInsertSlots(strip, 7);
        QCOMPARE(strip.inserts[0].nameButton->text(), QStringLiteral("+"));
        strip.inserts[0].nameButton->click();
        QCOMPARE(spies.editor.count(), 1);
        QCOMPARE(spies.add.at(2), (QList<QVariant>{7}));
    }

    void mainWindowShowsTheMixerAsPageThree()
    {
        MainWindow window;
        auto* stack = window.findChild<QStackedWidget*>();
        QVERIFY(stack);
        auto* mixer = qobject_cast<MixerPage*>(stack->widget(MainWindow::MixerPageIndex));
        auto* multiTrack = qobject_cast<MultiTrackEditorPage*>(stack->widget(MainWindow::MultiTrackPageIndex));
        QVERIFY(mixer && multiTrack);
        QCOMPARE(mixer->pluginBridge(), multiTrack->pluginBridge);
        multiTrack->addTrack(AudioTrack, {}, 44100, QStringLiteral("A"));
        multiTrack->addMidiTrack(QStringLiteral("B"), {}, 4.0);
        mixer->refreshFromData();
        QCOMPARE(mixer->channelStrips().size(), size_t(2));
        QCOMPARE(mixer->channelStrips()[1].nameLabel->text(), QStringLiteral("B"));
    }

    void fitsTheMainWindowOnCommonScreens()
    {
        // As a user sees it: the main window at a small and a large screen
        // size, the mixer showing four tracks; every strip's lowest controls
        // stay inside the visible page.
        StartUp::applyStyleSheet(*qApp);
        MainWindow window;
        auto* stack = window.findChild<QStackedWidget*>();
        auto* mixer = qobject_cast<MixerPage*>(stack->widget(MainWindow::MixerPageIndex));
        auto* multiTrack = qobject_cast<MultiTrackEditorPage*>(stack->widget(MainWindow::MultiTrackPageIndex));
        QVERIFY(mixer && multiTrack);
        multiTrack->addTrack(AudioTrack, {}, 44100, QStringLiteral("人声"));
        multiTrack->addMidiTrack(QStringLiteral("钢琴"), {}, 4.0);
        multiTrack->addTrack(AudioTrack, {}, 44100, QStringLiteral("吉他"));
        multiTrack->addMidiTrack(QStringLiteral("贝斯"), {}, 4.0);
        multiTrack->tracks[1].pan = -0.4f;
        multiTrack->tracks[2].muted = true;
        mixer->refreshFromData();
        stack->setCurrentIndex(MainWindow::MixerPageIndex);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const QSize& size : {QSize(1366, 768), QSize(1920, 1080)}) {
            window.resize(size);
            QTRY_COMPARE(window.size(), size);
            QCoreApplication::processEvents();
            const QRect visible = mixer->rect();
            auto inside = [&](const QWidget* w) {
                return w && visible.contains(QRect(w->mapTo(mixer, QPoint(0, 0)), w->size()));
            };
            for (const MixerPage::ChannelStrip& strip : mixer->channelStrips()) {
                QVERIFY(inside(strip.muteButton) && inside(strip.soloButton) && inside(strip.fader));
                QVERIFY(inside(strip.inserts.back().row));
            }
            QVERIFY(inside(mixer->masterChannelStrip().fader));
            QVERIFY(TestSupport::saveScreenshot(
                window.grab(), QStringLiteral("mixer-page-%1x%2.png").arg(size.width()).arg(size.height())));
        }
    }

    void screenshot()
    {
        StartUp::applyStyleSheet(*qApp);
        std::vector<TrackData> tracks = threeTracks();
        tracks.push_back(track("合成器", 0.3f, 0.8f, QColor("#ffcc00")));
        MixerPage page;
        page.setTracks(&tracks);
        page.resize(1000, 640);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(TestSupport::saveScreenshot(page.grab(), QStringLiteral("mixer-page.png")));
    }
};

QTEST_MAIN(MixerPageTest)
#include "tst_MixerPage.moc"
