// The multitrack page without devices: its controls, the sample rate, the
// track list kept in step with its rows through adds, removals, undo and
// redo, zoom, the playhead read-out, markers, and a picture.

#include "app/StartUp.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "plugins/AudioPluginBridge.h"
#include "plugins/VST3PluginInstance.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <random>

namespace {

template <typename T>
T* child(QWidget& page, const QString& text)
{
    for (T* w : page.findChildren<T*>()) {
        if (w->text() == text)
            return w;
    }
    return nullptr;
}

// Every row i shows track i: same index, same address, lane kind and column place.
void checkRows(MultiTrackEditorPage& page)
{
    QCOMPARE(page.rows.size(), page.tracks.size());
    auto* headers = page.rows.empty() ? nullptr : page.rows.front()->header()->parentWidget()->layout();
    for (size_t i = 0; i < page.rows.size(); ++i) {
        TrackRowWidget* row = page.rows[i];
        QCOMPARE(row->index(), int(i));
        QCOMPARE(row->trackData(), &page.tracks[i]);
        const bool midi = page.tracks[i].isMidi();
        QCOMPARE(row->midiLane() != nullptr, midi);
        QCOMPARE(row->audioLane() != nullptr, !midi);
        if (midi)
            QCOMPARE(row->midiLane()->trackData(), &page.tracks[i]);
        else
            QCOMPARE(row->audioLane()->trackData(), &page.tracks[i]);
        QCOMPARE(headers->indexOf(row->header()), int(i));
        QCOMPARE(row->header()->name(), page.tracks[i].name);
    }
}

QList<float> tone(double seconds, int rate)
{
    return TestSupport::sineWave(220.0, seconds, rate, 0.4f);
}

} // namespace

class MultiTrackEditorPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // No sound server for this program: the page is built and used
        // without any audio device (the sound libraries read this once).
        qputenv("PULSE_SERVER", "unix:/nonexistent/cdw-no-server");
        qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
    }

    void constructionControlsAndRate()
    {
        MultiTrackEditorPage page;
        page.resize(1400, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        for (const char* text : {"剪刀", "移动", "包络", "吸附", "快退", ">", "停止", "快进",
                                 "录制", "节拍器", "+ 添加轨道"}) {
            QPushButton* button = child<QPushButton>(page, QString::fromUtf8(text));
            QVERIFY2(button && button->isVisible(), text);
        }
        QVERIFY(!child<QPushButton>(page, "音频流转")->isVisible());
        QCOMPARE(child<QPushButton>(page, ">")->objectName(), QStringLiteral("TransportPlayButton"));
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:00.000"));
        QVERIFY(!page.bpmSpinBox->isVisible());
        QVERIFY(page.piano().sampleCount() > 0);

        // Only a new rate replaces the engine.
        MultiTrackAudioEngine* engine = page.mixingEngine();
        page.setSampleRate(44100);
        QCOMPARE(page.mixingEngine(), engine);
        page.setSampleRate(48000);
        QVERIFY(page.mixingEngine() != engine);
        QCOMPARE(page.mixingEngine()->getSampleRate(), 48000);
        page.setSampleRate(-5);
        QCOMPARE(page.sampleRate(), 48000);

        // Tools: scissors twice is back to normal; move while scissors switches.
        QPushButton* scissors = child<QPushButton>(page, "剪刀");
        QPushButton* move = child<QPushButton>(page, "移动");
        QTest::mouseClick(scissors, Qt::LeftButton);
        QCOMPARE(page.tool(), int(MultiTrackEditorPage::Scissors));
        QTest::mouseClick(move, Qt::LeftButton);
        QCOMPARE(page.tool(), int(MultiTrackEditorPage::Move));
        QVERIFY(move->styleSheet().contains("#2a82da") && !scissors->styleSheet().contains("#2a82da"));
        QTest::mouseClick(move, Qt::LeftButton);
        QCOMPARE(page.tool(), int(MultiTrackEditorPage::Normal));
        QTest::mouseClick(scissors, Qt::LeftButton);
        QTest::mouseClick(scissors, Qt::LeftButton);
        QCOMPARE(page.tool(), int(MultiTrackEditorPage::Normal));

        // The beats ruler shows the tempo box, which keeps to 20 .. 300.
        page.rulerModeSelector()->setCurrentIndex(1);
        QVERIFY(page.bpmSpinBox->isVisible());
        QCOMPARE(page.ruler->rulerMode(), TimelineRulerWidget::Beats);
        page.bpmSpinBox->setValue(500.0);
        QCOMPARE(page.bpmSpinBox->value(), 300.0);
        QCOMPARE(page.bpm, 300.0);
        QCOMPARE(page.ruler->bpm(), 300.0);
        page.rulerModeSelector()->setCurrentIndex(0);
        QVERIFY(!page.bpmSpinBox->isVisible());

        // The cast button only changes its look and text.
        QPushButton* cast = child<QPushButton>(page, "音频流转");
        cast->setChecked(true);
        QCOMPARE(cast->text(), QStringLiteral("流转中"));
        QVERIFY(!cast->isVisible());
    }

    void tracksColoursNamesAndChannels()
    {
        MultiTrackEditorPage page;
        page.setSampleRate(44100);
        MultiTrackAudioEngine* engine = page.mixingEngine();
        for (int i = 0; i < 9; ++i)
            page.addTrack(AudioTrack, {}, 44100);
        QCOMPARE(page.mixingEngine(), engine);
        QCOMPARE(page.tracks[0].color, QColor("#3a86ff"));
        QCOMPARE(page.tracks[7].color, QColor("#ff66cc"));
        QCOMPARE(page.tracks[8].color, QColor("#3a86ff"));
        QCOMPARE(page.tracks[8].name, QStringLiteral("轨道 9"));
        QCOMPARE(page.tracks[0].volume, 0.8f);
        for (int i = 0; i < 17; ++i)
            page.addMidiTrack(QString(), {}, 4.0);
        QCOMPARE(page.tracks[9].name, QStringLiteral("MIDI轨 1"));
        QCOMPARE(page.tracks[9].midiChannel, 0);
        QCOMPARE(page.tracks[24].midiChannel, 15);
        QCOMPARE(page.tracks[25].midiChannel, 0);
        QCOMPARE(page.countTracksOfType(MidiTrack), 17);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("添加MIDI轨道"));
        checkRows(page);

        // Once the project holds audio, material at another rate keeps its
        // own rate and leaves the project's, and its engine, alone.
        page.addTrack(AudioTrack, tone(0.5, 44100), 44100, QStringLiteral("gtr"));
        page.addTrack(AudioTrack, tone(0.5, 48000), 48000, QStringLiteral("vox"));
        QCOMPARE(page.sampleRate(), 44100);
        QCOMPARE(page.mixingEngine(), engine);
        QCOMPARE(page.tracks.back().audioClips[0].sampleRate, 48000);
    }

    void importsKeepTheRateOfAProjectThatDependsOnIt()
    {
        MultiTrackEditorPage page;
        page.setSampleRate(44100);
        page.addMidiTrack(QStringLiteral("keys"), {MidiNote{}}, 2.0);
        // Nothing depends on the rate yet: the memo's rate becomes the
        // project's until the add is undone.
        page.addTrack(AudioTrack, tone(0.5, 8000), 8000, QStringLiteral("memo"));
        QCOMPARE(page.sampleRate(), 8000);
        QCOMPARE(page.mixingEngine()->getSampleRate(), 8000);
        page.undo();
        QCOMPARE(page.tracks.size(), size_t(1));
        QCOMPARE(page.sampleRate(), 44100);
        QCOMPARE(page.mixingEngine()->getSampleRate(), 44100);

        // A loaded plug-in keeps the project's rate, and a rate change that
        // still happens keeps it loaded and chosen, set up for the new rate.
        const QString bundle = qEnvironmentVariable("CDW_BINARY_DIR") + QStringLiteral("/testplugins/CdwGain.vst3");
        const int id = page.pluginBridge->loadPlugin(bundle.toStdString());
        QVERIFY(id >= 0);
        QVERIFY(page.pluginBridge->activatePlugin(id));
        page.tracks[0].pluginId = id;
        page.addTrack(AudioTrack, tone(0.5, 8000), 8000, QStringLiteral("memo"));
        QCOMPARE(page.sampleRate(), 44100);
        QCOMPARE(page.tracks[1].audioClips[0].sampleRate, 8000);
        page.setSampleRate(96000);
        QCOMPARE(page.tracks[0].pluginId, id);
        QCOMPARE(page.pluginBridge->loadedPluginIds(), std::vector<int>{id});
        auto instance = page.pluginBridge->getPluginInstance(id);
        QVERIFY(instance && instance->isActive());
        QCOMPARE(instance->processRate(), 96000);
    }

    void materialAtARateTheProjectRefusesIsResampled()
    {
        MultiTrackEditorPage page;
        page.setSampleRate(48000);
        const QList<float> mono = TestSupport::sineWave(1000.0, 1.0, 384000, 0.5f);
        QList<float> stereo;
        for (float v : mono)
            stereo << v << -v;
        page.addTrack(AudioTrack, mono, 384000, QStringLiteral("video"), stereo);
        QCOMPARE(page.sampleRate(), 48000);
        const AudioClip& clip = page.tracks[0].audioClips.at(0);
        QCOMPARE(clip.sampleRate, 48000);
        QCOMPARE(clip.samples.size(), qsizetype(48000));
        QCOMPARE(clip.stereoSamples.size(), qsizetype(96000));
        // The tone is still there, as loud, in both channels.
        const float peak = *std::max_element(clip.samples.begin() + 1000, clip.samples.end() - 1000);
        QVERIFY2(std::abs(peak - 0.5f) < 0.02f, qPrintable(QString::number(peak)));
        QVERIFY(std::abs(clip.stereoSamples[2 * 2412] + clip.stereoSamples[2 * 2412 + 1]) < 1e-4f);
        QVERIFY(std::abs(clip.stereoSamples[2 * 2412] - clip.samples[2412]) < 1e-4f);

        // A rate only a damaged header has would take gigabytes to resample:
        // the track comes without a clip.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: no clip for material"));
        page.addTrack(AudioTrack, QList<float>(50000, 0.5f), std::numeric_limits<int>::max());
        QCOMPARE(page.tracks.size(), size_t(2));
        QVERIFY(page.tracks[1].audioClips.empty());
    }

    // An import at a rate the plug-ins cannot run at leaves the project at one they can.
    void projectRateIsOneThePlugInsRunAt()
    {
        MultiTrackEditorPage page;
        page.addTrack(AudioTrack, tone(0.5, 4000), 4000);
        const QString bundle = qEnvironmentVariable("CDW_BINARY_DIR") + QStringLiteral("/testplugins/CdwGain.vst3");
        const int id = page.pluginBridge->loadPlugin(bundle.toStdString());
        QCOMPARE(page.pluginBridge->getPluginInstance(id)->processRate(), page.mixingEngine()->getSampleRate());
    }

    void randomEditsKeepRowsAndTracksInStep()
    {
        MultiTrackEditorPage page;
        std::mt19937 random(1234);
        for (int step = 0; step < 400; ++step) {
            const int action = int(random() % 6);
            const int count = int(page.tracks.size());
            if (action == 0 || count == 0)
                page.addTrack(AudioTrack, tone(0.01, 44100), 44100);
            else if (action == 1)
                page.addMidiTrack(QString(), {MidiNote{}}, 2.0);
            else if (action == 2)
                page.removeTrack(int(random() % unsigned(count)));
            else if (action == 3)
                page.undoStack->undo();
            else if (action == 4)
                page.undoStack->redo();
            else
                page.rows[random() % unsigned(count)]->header()->setName(QStringLiteral("t%1").arg(step));
            checkRows(page);
        }
        page.syncPlayheadAll(30.0);
        page.clearTracks();
        checkRows(page);
        QCOMPARE(page.undoStack->count(), 0);
        // An emptied page starts at the beginning, the ruler and read-out too.
        QCOMPARE(page.ruler->playheadPosition(), 0.0);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:00.000"));
        page.addTrack(AudioTrack, {}, 44100);
        page.onStop();
        QCOMPARE(page.playheadPosition(), 0.0);
        QCOMPARE(page.ruler->playheadPosition(), 0.0);
    }

    void removingKeepsTheSelectionRight()
    {
        MultiTrackEditorPage page;
        for (int i = 0; i < 4; ++i)
            page.addTrack(AudioTrack, {}, 44100);
        emit page.rows[2]->trackSelected(2);
        QCOMPARE(page.selectedTrackIndex(), 2);
        QVERIFY(page.rows[2]->isSelected() && !page.rows[1]->isSelected());
        page.removeTrack(0);
        QCOMPARE(page.selectedTrackIndex(), 1);
        page.removeTrack(1);
        QCOMPARE(page.selectedTrackIndex(), -1);
        page.removeTrack(17); // out of range: nothing
        QCOMPARE(page.tracks.size(), size_t(2));
        // Removing the middle of three and undoing puts it back in the middle.
        page.addMidiTrack(QStringLiteral("keys"), {}, 1.0);
        const QString middle = page.tracks[1].name;
        page.removeTrack(1);
        page.undoStack->undo();
        QCOMPARE(page.tracks[1].name, middle);
        checkRows(page);
    }

    void rulerAndScrollRangeFollowTheProject()
    {
        MultiTrackEditorPage page;
        page.resize(1300, 700);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.addTrack(AudioTrack, {}, 44100);
        page.updateRuler();
        QCOMPARE(page.ruler->duration(), 300.0);
        // At zoom 1 a 300 s project scrolls to its end less the visible span.
        const int width = page.laneScrollArea()->viewport()->width();
        QScrollBar* bar = page.horizontalScrollBar();
        QVERIFY(bar->maximum() >= 300000 - width * 10 - 1 && bar->maximum() > 0);
        QCOMPARE(bar->pageStep(), width * 10);
        QCOMPARE(bar->singleStep(), width);
        bar->setValue(bar->maximum());
        QCOMPARE(page.viewStart(), bar->maximum() / 1000.0);

        // The range follows the lanes' width, and the ruler ends where they
        // do when their vertical scroll bar shows.
        QScrollArea* lanes = page.laneScrollArea();
        page.resize(1600, 300);
        QVERIFY(QTest::qWaitFor([&] { return lanes->viewport()->width() > width; }));
        QCOMPARE(bar->pageStep(), lanes->viewport()->width() * 10);
        for (int i = 0; i < 8; ++i)
            page.addTrack(AudioTrack, {}, 44100);
        QVERIFY(QTest::qWaitFor([&] { return lanes->verticalScrollBar()->isVisible(); }));
        QVERIFY(QTest::qWaitFor([&] { return page.ruler->width() == lanes->viewport()->width(); }));
        QCOMPARE(bar->pageStep(), lanes->viewport()->width() * 10);
        // Zoomed all the way out, a wider window still shows no more than 300 s.
        page.applyZoom(0.0, 0);
        const int narrower = lanes->viewport()->width();
        page.resize(1800, 300);
        QVERIFY(QTest::qWaitFor([&] { return lanes->viewport()->width() > narrower; }));
        QVERIFY(std::abs(page.zoom() - lanes->viewport()->width() / 30000.0) < 1e-9);

        AudioClip clip;
        clip.samples = QList<float>(1000, 0.1f);
        clip.sampleRate = 10;
        clip.start = 300.0; // ends at 400 s
        page.tracks[0].audioClips.push_back(clip);
        page.updateRuler();
        QCOMPARE(page.ruler->duration(), 400.0);
        QCOMPARE(page.projectLength(), 400.0);
    }

    void zoomAndTimeReadout()
    {
        MultiTrackEditorPage page;
        page.resize(1300, 700);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.addTrack(AudioTrack, {}, 44100);

        page.updateTimeLabel(2.25);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:02.250"));
        page.updateTimeLabel(3725.5);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("01:02:05.500"));
        page.updateTimeLabel(360000.0);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("100:00:00.000"));
        // The read-out takes the ruler's form as soon as it changes, and the tempo too.
        page.syncPlayheadAll(2.25);
        page.rulerModeSelector()->setCurrentIndex(1);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("第 2.1 小节  50拍"));
        page.bpmSpinBox->setValue(60.0);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("第 1.3 小节  25拍"));
        page.bpmSpinBox->setValue(120.0);
        page.rulerModeSelector()->setCurrentIndex(0);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:02.250"));

        // Zooming in about pixel 300 keeps the time under it.
        page.applyZoom(1.0, 0);
        page.horizontalScrollBar()->setValue(12000);
        const double before = page.viewStart() + 300 / (page.zoom() * 100.0);
        page.applyZoom(7.3, 300);
        const double after = page.viewStart() + 300 / (page.zoom() * 100.0);
        QVERIFY(std::abs(after - before) < 0.001);
        QCOMPARE(page.ruler->zoomLevel(), 7.3);
        QCOMPARE(page.rows[0]->audioLane()->zoomLevel(), 7.3);
        page.applyZoom(1000.0, 300);
        QCOMPARE(page.zoom(), 512.0);
        // All the way out: 300 s across the viewport, view start 0.
        page.applyZoom(0.0, 300);
        const int width = page.laneScrollArea()->viewport()->width();
        QVERIFY(std::abs(page.zoom() - width / 30000.0) < 1e-9);
        QCOMPARE(page.viewStart(), 0.0);
    }

    void theViewStaysWithinTheScrollRange()
    {
        MultiTrackEditorPage page;
        page.resize(1300, 700);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.addTrack(AudioTrack, {}, 44100);
        QScrollBar* bar = page.horizontalScrollBar();
        const int width = page.laneScrollArea()->viewport()->width();
        // The scroll bar reaches every view shown; ruler and lanes agree.
        auto checkView = [&] {
            QVERIFY2(page.viewStart() >= 0.0 && page.viewStart() <= bar->maximum() / 1000.0,
                     qPrintable(QStringLiteral("%1 of %2").arg(page.viewStart()).arg(bar->maximum())));
            QCOMPARE(bar->value(), int(page.viewStart() * 1000.0));
            QCOMPARE(page.ruler->viewStartSec(), page.viewStart());
            QCOMPARE(page.rows[0]->lane()->viewStartSec(), page.viewStart());
        };
        // Zooming out about the pointer near the right edge, at the end.
        bar->setValue(bar->maximum());
        for (int step = 0; step < 40; ++step) {
            page.applyZoom(page.zoom() / 1.15, width - 5);
            checkView();
        }
        QCOMPARE(page.viewStart(), 0.0);

        // A long track scrolled to its end, then removed.
        AudioClip clip;
        clip.samples = QList<float>(10000, 0.1f);
        clip.sampleRate = 10;
        page.tracks[0].audioClips.push_back(clip); // ends at 1000 s
        page.applyZoom(1.0, 0);
        bar->setValue(bar->maximum());
        QVERIFY(page.viewStart() > 900.0);
        page.addTrack(AudioTrack, {}, 44100);
        page.removeTrack(0);
        checkView();
        QVERIFY(page.viewStart() < 300.0);
        // The same when an undo takes the long track away.
        page.undo();
        bar->setValue(bar->maximum());
        page.undo();
        page.undo();
        QVERIFY(page.tracks.empty());
        QVERIFY(page.viewStart() <= bar->maximum() / 1000.0);
        QCOMPARE(page.ruler->viewStartSec(), page.viewStart());
    }

    void markers()
    {
        MultiTrackEditorPage page;
        page.addTrack(AudioTrack, {}, 44100);
        for (double t : {5.0, 1.0, 3.0}) {
            page.syncPlayheadAll(t);
            page.addMarkerAtPlayhead();
        }
        page.addMarkerAtPlayhead(); // the same playhead again: nothing
        QCOMPARE(page.markers.size(), size_t(3));
        QCOMPARE(page.markers[0].label, QStringLiteral("M2"));
        QCOMPARE(page.markers[1].label, QStringLiteral("M3"));
        QCOMPARE(page.markers[2].label, QStringLiteral("M1"));
        QCOMPARE(page.markers[0].time, 1.0);
        QCOMPARE(page.markers[0].color, QColor(255, 165, 0));
        QCOMPARE(page.ruler->markerList().size(), size_t(3));
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("添加标记"));
        page.undoStack->undo();
        QCOMPARE(page.markers.size(), size_t(2));
        QCOMPARE(page.ruler->markerList().size(), size_t(2)); // the ruler follows undo
        page.removeMarker(0);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("删除标记"));
        QCOMPARE(page.markers[0].label, QStringLiteral("M1"));
        page.removeMarker(5);
        QCOMPARE(page.markers.size(), size_t(1));
    }

    void playWithoutADeviceStaysStopped()
    {
        MultiTrackEditorPage page;
        page.addTrack(AudioTrack, tone(1.0, 44100), 44100);
        page.onPlayPause();
        if (page.mixingEngine()->isPlaying())
            QSKIP("an audio device was found after all");
        QVERIFY(!page.playing());
        QCOMPARE(child<QPushButton>(page, ">")->text(), QStringLiteral(">"));
        page.onStop();
        QCOMPARE(page.playheadPosition(), 0.0);
    }

    void picture()
    {
        MultiTrackEditorPage page;
        page.resize(1600, 900);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QList<float> stereo;
        const QList<float> left = TestSupport::sineWave(3.0, 6.0, 44100, 0.7f);
        const QList<float> right = TestSupport::sineWave(2.0, 6.0, 44100, 0.5f);
        QList<float> mono;
        for (qsizetype i = 0; i < left.size(); ++i) {
            const float l = left[i] * float(std::sin(i * 0.05));
            const float r = right[i] * float(std::sin(i * 0.031));
            stereo << l << r;
            mono << (l + r) * 0.5f;
        }
        page.addTrack(AudioTrack, mono, 44100, QStringLiteral("人声"), stereo);
        page.tracks[0].audioClips[0].start = 1.0;
        page.tracks[0].audioClips[0].fadeIn = 1.0;
        page.tracks[0].audioClips[0].fadeOut = 1.5;
        page.addTrack(AudioTrack, tone(4.0, 44100), 44100, QStringLiteral("贝斯"));
        page.tracks[1].audioClips[0].start = 3.0;
        std::vector<MidiNote> notes;
        for (int i = 0; i < 24; ++i)
            notes.push_back(MidiNote{48 + (i * 7) % 24, i * 0.25, 0.25, 100});
        page.addMidiTrack(QStringLiteral("钢琴"), notes, 6.0);
        page.tracks[2].midiClips[0].start = 2.0;
        page.addTrack(MidiTrack, {}, 44100);
        page.applyZoom(1.1, 0);
        page.syncPlayheadAll(4.2);
        page.addMarkerAtPlayhead();
        emit page.rows[1]->trackSelected(1);
        QVERIFY(QTest::qWaitFor([&] { return page.rows.back()->header()->isVisible(); }));
        QVERIFY(page.rows[0]->lane()->isVisible());
        QVERIFY(TestSupport::saveScreenshot(page.grab(), QStringLiteral("multitrack-page.png")));
    }
};

QTEST_MAIN(MultiTrackEditorPageTest)
#include "tst_MultiTrackEditorPage.moc"
