// The multitrack page's own clip edits and keys, driven by gestures on a
// shown page without audio devices: scissors splits of audio and MIDI
// clips, Move-tool drags within and between tracks, the page keys and the
// Ctrl+wheel zoom.

#include "../engine/FakeAudioDevice.h"
#include "MultiTrackPageTesting.h"
#include "TestSupport.h"
#include "engine/midi/MidiRecorder.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackFlattening.h"
#include "multitrack/TrackHeaderWidget.h"

#include <QtTest/QtTest>
#include <QtWidgets>

using namespace PageTesting;

namespace {

constexpr int Rate = 8000;

void key(MultiTrackEditorPage& page, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(&page, k, modifiers);
}

} // namespace

class MultiTrackClipEditingTest : public QObject {
    Q_OBJECT
private slots:
    // Only the Space test opens a device: the null sink of the test run.
    void initTestCase() { prepareApplication(); }

    void scissorsSplitAudioAndMidiClips()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.setSampleRate(Rate);
        page.addTrack(AudioTrack, {}, Rate);
        AudioClip clip = rampClip(10.0, Rate, 2.0);
        clip.stereoSamples = QList<float>(2 * clip.samples.size(), 0.25f);
        clip.fadeIn = 0.5;
        clip.fadeInCurve = FadeSquare;
        clip.fadeOut = 1.0;
        clip.fadeOutCurve = FadeSquareRoot;
        page.tracks[0].audioClips.push_back(clip);
        const QList<float> flatBefore = flattenAudioTrack(page.tracks[0], Rate);
        const int commands = page.undoStack->count();

        QTest::mouseClick(button(page, QStringLiteral("剪刀")), Qt::LeftButton);
        page.syncPlayheadAll(2.0); // at the clip's head: no split
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 4.0));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        page.syncPlayheadAll(5.0);
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 4.0));

        const std::vector<AudioClip>& parts = page.tracks[0].audioClips;
        QCOMPARE(parts.size(), size_t(2));
        QCOMPARE(page.undoStack->count(), commands + 1);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("拆分片段"));
        QCOMPARE(parts[0].start, 2.0);
        QCOMPARE(parts[0].end(), 5.0);
        QCOMPARE(parts[1].start, 5.0);
        QCOMPARE(parts[1].end(), 12.0);
        // One buffer behind both parts, the stereo copy too.
        QCOMPARE(parts[0].samples.constData(), parts[1].samples.constData());
        QCOMPARE(parts[1].samples.constData(), clip.samples.constData());
        QCOMPARE(parts[1].stereoSamples.constData(), clip.stereoSamples.constData());
        // The fade-in stays at the head, the fade-out moves to the new end.
        QCOMPARE(parts[0].fadeIn, 0.5);
        QCOMPARE(parts[0].fadeOut, 0.0);
        QCOMPARE(parts[1].fadeIn, 0.0);
        QCOMPARE(parts[1].fadeOut, 1.0);
        QCOMPARE(parts[1].fadeOutCurve, int(FadeSquareRoot));
        QCOMPARE(flattenAudioTrack(page.tracks[0], Rate), flatBefore);

        key(page, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[0].audioClips[0].end(), 12.0);
        QCOMPARE(page.tracks[0].audioClips[0].fadeOut, 1.0);

        // MIDI: a note across the cut sounds whole from the first part; the
        // later ones move to the second, relative to its start.
        std::vector<MidiNote> notes = {{60, 0.2, 0.3, 90}, {62, 0.8, 1.0, 80}, {64, 2.0, 0.5, 70}};
        page.addMidiTrack(QStringLiteral("keys"), notes, 4.0);
        page.tracks[1].midiClips[0].start = 1.0;
        page.syncPlayheadAll(2.5);
        QTest::mouseClick(lane(page, 1), Qt::LeftButton, Qt::NoModifier, at(page, 1, 3.0));
        const std::vector<MidiClip>& midi = page.tracks[1].midiClips;
        QCOMPARE(midi.size(), size_t(2));
        QCOMPARE(midi[0].duration, 1.5);
        QCOMPARE(midi[0].notes.size(), size_t(2));
        QCOMPARE(midi[0].notes[1].pitch, 62);
        QCOMPARE(midi[0].notes[1].duration, 1.0);
        QCOMPARE(midi[1].start, 2.5);
        QCOMPARE(midi[1].duration, 2.5);
        QCOMPARE(midi[1].id, midi[0].id + 1);
        QCOMPARE(midi[1].notes.size(), size_t(1));
        QCOMPARE(midi[1].notes[0].pitch, 64);
        QCOMPARE(midi[1].notes[0].start, 0.5);
        QCOMPARE(midi[1].notes[0].velocity, 70);
        page.undo();
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(1));
        QCOMPARE(page.tracks[1].midiClips[0].notes.size(), size_t(3));
    }

    void moveToolDrags()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.setSampleRate(Rate);
        page.addTrack(AudioTrack, {}, Rate, QStringLiteral("a"));
        page.addTrack(AudioTrack, {}, Rate, QStringLiteral("b"));
        page.addMidiTrack(QStringLiteral("m"), {}, 2.0);
        page.tracks[0].audioClips = {rampClip(1.0, Rate, 2.0), rampClip(1.0, Rate, 6.0)};
        page.tracks[1].audioClips = {rampClip(0.5, Rate, 0.0)};
        page.applyZoom(1.5, 0);
        QCOMPARE(page.zoom(), 1.5);
        layOut(page);
        QTest::mouseClick(button(page, QStringLiteral("移动")), Qt::LeftButton);
        const int commands = page.undoStack->count();
        auto firstStart = [&] { return page.tracks[0].audioClips[0].start; };

        // 150 px at zoom 1.5 is one second; the ghost lives as long as the drag.
        const QPoint grip = at(page, 0, 2.5);
        QTest::mousePress(lane(page, 0), Qt::LeftButton, Qt::NoModifier, grip);
        QVERIFY(page.clipDragActive() && page.clipDragGhost() && page.clipDragGhost()->isVisible());
        QTest::mouseRelease(lane(page, 0), Qt::LeftButton, Qt::NoModifier, grip + QPoint(150, 0));
        QVERIFY(!page.clipDragActive() && !page.clipDragGhost());
        QCOMPARE(firstStart(), 3.0);
        QCOMPARE(page.undoStack->count(), commands + 1);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("移动片段"));

        // Snapping at 120 BPM: 1.26 s lands on 1.5 s, 1.24 s on 1.0 s.
        key(page, Qt::Key_J);
        QVERIFY(button(page, QStringLiteral("吸附"))->isChecked());
        QVERIFY(lane(page, 0)->isSnapEnabled());
        drag(page, 0, at(page, 0, 3.5), at(page, 0, 3.5) - QPoint(261, 0));
        QCOMPARE(firstStart(), 1.5);
        drag(page, 0, at(page, 0, 2.0), at(page, 0, 2.0) - QPoint(39, 0));
        QCOMPARE(firstStart(), 1.0);
        key(page, Qt::Key_J);
        QVERIFY(!lane(page, 0)->isSnapEnabled());
        // Dragged past the timeline's start, the clip stops at 0.
        drag(page, 0, at(page, 0, 1.5), at(page, 0, 1.5) - QPoint(600, 0));
        QCOMPARE(firstStart(), 0.0);

        // An audio clip dropped on a MIDI track stays where it was.
        const int beforeMidiDrop = page.undoStack->count();
        drag(page, 0, at(page, 0, 6.5), overRow(page, 0, 2, at(page, 0, 6.5).x()));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[2].midiClips.size(), size_t(1));
        QCOMPARE(page.undoStack->count(), beforeMidiDrop);

        // Onto the other audio track: one step, undone back to its old index.
        const AudioClip moved = page.tracks[0].audioClips[0];
        drag(page, 0, at(page, 0, 0.5), overRow(page, 0, 1, at(page, 0, 0.5).x()));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[1].audioClips[1].start, moved.start);
        QCOMPARE(page.tracks[1].audioClips[1].samples.constData(), moved.samples.constData());
        key(page, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips[0].samples.constData(), moved.samples.constData());
        QCOMPARE(page.tracks[0].audioClips[1].start, 6.0);
        key(page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(2));
    }

    // A clip moved to another track and one drawn there are each their own
    // undo step: undo and redo take back exactly those clips, each with its
    // edits since, and leave the edits of the others.
    void movedAndCreatedMidiClipsSurviveUndo()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.setSampleRate(Rate);
        page.addMidiTrack(QStringLiteral("A"), {MidiNote{60, 0.0, 0.5, 100}}, 1.0);
        page.addMidiTrack(QStringLiteral("B"), {MidiNote{40, 0.0, 0.5, 100}}, 1.0);
        page.tracks[1].midiClips[0].start = 6.0;
        page.applyZoom(1.0, 0);
        layOut(page);
        const int commands = page.undoStack->count();
        auto starts = [&](int t) {
            QList<double> list;
            for (const MidiClip& c : page.tracks[size_t(t)].midiClips)
                list << c.start;
            return list;
        };

        QTest::mouseClick(button(page, QStringLiteral("移动")), Qt::LeftButton);
        drag(page, 0, at(page, 0, 0.5), overRow(page, 0, 1, at(page, 0, 0.5).x()));
        QCOMPARE(starts(0), QList<double>{});
        QCOMPARE(starts(1), (QList<double>{6.0, 0.0}));
        emit page.rows[1]->midiLane()->clipCreated(10.0, 1.0);
        QCOMPARE(page.undoStack->count(), commands + 2);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("创建MIDI片段"));
        // Piano-roll edits and a trim, made after both.
        std::vector<MidiClip>& clipsB = page.tracks[1].midiClips;
        clipsB[1].notes.push_back(MidiNote{72, 0.25, 0.25, 90});
        clipsB[1].duration = 2.0;
        clipsB[2].notes.push_back(MidiNote{60, 0.0, 0.5, 80});

        page.undo(); // the creation
        QCOMPARE(starts(1), (QList<double>{6.0, 0.0}));
        QCOMPARE(clipsB[1].notes.size(), size_t(2));
        page.undo(); // the move: the clip comes back with its edits
        QCOMPARE(starts(0), QList<double>{0.0});
        QCOMPARE(starts(1), QList<double>{6.0});
        QCOMPARE(page.tracks[0].midiClips[0].notes.size(), size_t(2));
        QCOMPARE(page.tracks[0].midiClips[0].duration, 2.0);
        page.redo();
        page.redo();
        QCOMPARE(starts(1), (QList<double>{6.0, 0.0, 10.0}));
        QCOMPARE(clipsB[2].notes.size(), size_t(1));
    }

    void stepsUndoOnlyTheirOwnClips_data()
    {
        QTest::addColumn<QString>("step");
        for (const char* kind : {"audio", "midi"})
            for (const char* step : {"move", "split", "delete", "take"})
                QTest::addRow("%s %s", kind, step) << QString(step);
    }

    // A step on clip B (or a take) undone and redone leaves clip A's fades
    // and notes made since, which are no steps of their own. A moved clip
    // keeps its own later edits too.
    void stepsUndoOnlyTheirOwnClips()
    {
        QFETCH(QString, step);
        const bool midi = QByteArray(QTest::currentDataTag()).startsWith("midi");
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        showPage(page);
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        if (midi) {
            page.addMidiTrack(QStringLiteral("m"), {{60, 0.0, 0.5, 90}, {62, 0.5, 0.5, 90}, {64, 1.0, 0.5, 90}}, 2.0);
            page.tracks[0].midiClips.push_back(MidiClip{1, {{67, 0.0, 0.5, 90}}, 4.0, 2.0});
        } else {
            page.addTrack(AudioTrack, {}, Rate);
            page.tracks[0].audioClips = {rampClip(2.0, Rate, 0.0), rampClip(2.0, Rate, 4.0)};
        }
        TrackData& track = page.tracks[0];
        layOut(page);
        auto spans = [&] {
            QList<double> list;
            for (const MidiClip& c : track.midiClips)
                list << c.start << c.end();
            for (const AudioClip& c : track.audioClips)
                list << c.start << c.end() << c.fadeIn;
            return list;
        };
        // A fade-out dragged onto A, a note of X erased.
        auto editA = [&] { midi ? track.midiClips[0].notes.pop_back() : void(track.audioClips[0].fadeOut += 0.25); };
        auto editsOfA = [&] { return midi ? 3 - int(track.midiClips[0].notes.size()) : int(track.audioClips[0].fadeOut * 4); };
        QList<double> original = spans();

        if (step == "move") {
            QTest::mouseClick(button(page, QStringLiteral("移动")), Qt::LeftButton);
            drag(page, 0, at(page, 0, 5.0), at(page, 0, 6.0));
        } else if (step == "split") {
            page.syncPlayheadAll(5.0);
            page.splitClipAtPlayhead(0, 1);
        } else if (step == "delete") {
            emit(midi ? page.rows[0]->deleteMidiClip(1) : page.rows[0]->deleteAudioClip(1));
        } else {
            page.rows[0]->header()->setArmed(true);
            page.syncPlayheadAll(8.0);
            page.onRecord();
            // Input from before the playback was heard is no part of the take.
            QTRY_VERIFY(!page.mixingEngine()->isPlaying() || page.mixingEngine()->heardPosition() > 8.05);
            device->runBlock(512, std::vector<float>(512, 0.1f).data());
            emit page.findChild<MidiRecorder*>()->noteCompleted(MidiNote{72, 0.1, 0.2, 90});
            QTRY_VERIFY(midi || track.audioClips.back().samples.size() == 512);
            page.onRecord();
        }
        QList<double> stepped = spans();
        QVERIFY(stepped != original);
        editA();
        if (step == "move" && !midi) // B's own fade
            track.audioClips[1].fadeIn = stepped[5] = original[5] = 0.5;
        page.undo();
        QCOMPARE(spans(), original);
        QCOMPARE(editsOfA(), 1);
        editA();
        page.redo();
        QCOMPARE(spans(), stepped);
        QCOMPARE(editsOfA(), 2);
    }

    void theClipOnTopTakesTheClick()
    {
        // A 3 s take over a 10 s clip comes later in its track: drawn, and clicked, on top.
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, {}, Rate);
        page.addMidiTrack(QStringLiteral("keys"), {}, 10.0);
        page.tracks[0].audioClips = {rampClip(10.0, Rate, 0.0), rampClip(3.0, Rate, 0.0)};
        page.tracks[1].midiClips.push_back(page.tracks[1].midiClips[0]);
        page.tracks[1].midiClips[1].duration = 3.0;
        layOut(page);
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 1.5));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(page.tracks[0].audioClips[0].end(), 10.0);
        page.undo();
        // The scissors, and the page's split at the playhead, cut the take.
        page.syncPlayheadAll(1.0);
        QTest::mouseClick(button(page, QStringLiteral("剪刀")), Qt::LeftButton);
        QTest::mouseClick(lane(page, 1), Qt::LeftButton, Qt::NoModifier, at(page, 1, 2.0));
        emit page.rows[0]->trackSelected(0);
        page.onSplitClip();
        QCOMPARE(page.tracks[0].audioClips[1].end(), 1.0);
        QCOMPARE(page.tracks[1].midiClips[1].end(), 1.0);
    }

    void pageKeysAndWheelZoom()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, {}, 44100);
        page.addTrack(AudioTrack, {}, 44100);

        // Shift+Delete needs a selected track.
        key(page, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(page.tracks.size(), size_t(2));
        emit page.rows[1]->trackSelected(1);
        page.setFocus();
        key(page, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(page.tracks.size(), size_t(1));
        key(page, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(page.tracks.size(), size_t(2));

        // Ctrl+M adds a marker at the playhead, once; undo and redo follow.
        page.syncPlayheadAll(3.0);
        key(page, Qt::Key_M, Qt::ControlModifier);
        key(page, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(page.markers.size(), size_t(1));
        QCOMPARE(page.markers[0].time, 3.0);
        key(page, Qt::Key_M); // without Ctrl: nothing
        key(page, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(page.markers.empty());
        QVERIFY(page.ruler->markerList().empty());
        key(page, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(page.markers.size(), size_t(1));

        // A tool button clicked keeps no focus: the keys still reach the page.
        QTest::mouseClick(button(page, QStringLiteral("吸附")), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(button(page, QStringLiteral("吸附"))->isChecked());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_J);
        QVERIFY(!button(page, QStringLiteral("吸附"))->isChecked());
        // So does a header's solo button: Space after the click does not
        // toggle it back.
        QPushButton* solo = page.rows[0]->header()->soloButtonWidget();
        QTest::mouseClick(solo, Qt::LeftButton);
        QVERIFY(page.tracks[0].solo);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(page.tracks[0].solo);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_J);
        QVERIFY(button(page, QStringLiteral("吸附"))->isChecked());

        // Ctrl+wheel over the lanes zooms by 1.15 about the pointer. (A wheel
        // event a test sends is not passed on to parents the way a real one
        // is: it goes to the lane viewport itself.)
        page.applyZoom(1.0, 0);
        QWidget* viewport = page.laneScrollArea()->viewport();
        const QPoint pointer(300, LaneY);
        const double under = page.viewStart() + pointer.x() / (page.zoom() * 100.0);
        auto wheel = [&](int angle, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(pointer, viewport->mapToGlobal(pointer), QPoint(), QPoint(0, angle),
                              Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &event);
        };
        wheel(120, Qt::ControlModifier);
        QCOMPARE(page.zoom(), 1.15);
        QVERIFY(std::abs(page.viewStart() + pointer.x() / (page.zoom() * 100.0) - under) < 0.001);
        wheel(-120, Qt::ControlModifier);
        QVERIFY(std::abs(page.zoom() - 1.0) < 1e-12);
        wheel(120, Qt::NoModifier); // a plain mouse wheel scrolls
        QVERIFY(std::abs(page.zoom() - 1.0) < 1e-12);
    }

    void midiLaneFollowsTheTempo()
    {
        // Held at 120 BPM, played at 60: every MIDI time counts double on the
        // timeline, in the lane as in playback.
        MultiTrackEditorPage page;
        showPage(page);
        std::vector<MidiNote> notes = {{60, 0.0, 0.5, 90}, {62, 0.5, 1.5, 80}};
        page.addMidiTrack(QStringLiteral("keys"), notes, 2.0);
        page.tracks[0].midiClips[0].start = 1.0;
        page.bpmSpinBox->setValue(60.0);
        layOut(page);
        auto* midiLane = page.rows[0]->midiLane();
        QCOMPARE(midiLane->timeScale(), 2.0);

        // Drawn and hit from 2 s to 6 s, where it plays (on bar 1 beat 3 to bar 2 beat 3).
        QCOMPARE(midiLane->hitTestClipEdge(at(page, 0, 2.0)), 0);
        QCOMPARE(midiLane->hitTestClipEdge(at(page, 0, 6.0)), 1);
        QCOMPARE(midiLane->hitTestClip(at(page, 0, 1.5)), -1);
        QCOMPARE(midiLane->hitTestClip(at(page, 0, 5.5)), 0);
        const QImage picture = midiLane->grab().toImage();
        const QRgb background = picture.pixel(at(page, 0, 1.5));
        QVERIFY(picture.pixel(at(page, 0, 5.5)) != background);
        QCOMPARE(picture.pixel(at(page, 0, 6.5)), background);
        // The project ends where the clip stops sounding.
        QCOMPARE(page.projectLength(), 6.0);
        QTest::mouseClick(button(page, QStringLiteral("快进")), Qt::LeftButton);
        QCOMPARE(midiLane->playheadPosition(), 6.0);

        // A split at the playhead's 3 s cuts where the second note starts sounding.
        page.syncPlayheadAll(3.0);
        emit page.rows[0]->trackSelected(0);
        page.onSplitClip();
        const std::vector<MidiClip>& parts = page.tracks[0].midiClips;
        QCOMPARE(parts.size(), size_t(2));
        QCOMPARE(parts[0].notes.size(), size_t(1));
        QCOMPARE(parts[1].notes.size(), size_t(1));
        QCOMPARE(parts[1].notes[0].pitch, 62);
        QCOMPARE(parts[1].notes[0].start, 0.0);
        QCOMPARE(page.tempoScaledTrack(page.tracks[0]).midiClips[1].start, 3.0);

        // An Alt-drag over beats 2 and 3 of the 60 BPM grid, snapped, plays there.
        key(page, Qt::Key_J);
        const QPoint from = at(page, 0, 1.2);
        const QPoint to = at(page, 0, 2.8);
        QTest::mousePress(midiLane, Qt::LeftButton, Qt::AltModifier, from);
        QMouseEvent move(QEvent::MouseMove, to, midiLane->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::AltModifier);
        QApplication::sendEvent(midiLane, &move);
        QTest::mouseRelease(midiLane, Qt::LeftButton, Qt::AltModifier, to);
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(3));
        const MidiClip created = page.tempoScaledTrack(page.tracks[0]).midiClips[2];
        QCOMPARE(created.start, 1.0);
        QCOMPARE(created.duration, 2.0);

        // At the default tempo the held times are the timeline's again.
        page.bpmSpinBox->setValue(120.0);
        QCOMPARE(midiLane->timeScale(), 1.0);
        QCOMPARE(midiLane->hitTestClipEdge(at(page, 0, 3.0)), 3);
        QCOMPARE(page.projectLength(), 3.0);
    }

    void spaceStartsAndPausesPlayback()
    {
        // Without a device the transport stays stopped: this one plays into
        // the test run's null sink.
        CDW_REQUIRE_PULSE();
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, TestSupport::sineWave(440.0, 1.0, 48000, 0.1f), 48000);
        key(page, Qt::Key_Space);
        QVERIFY(page.playing());
        key(page, Qt::Key_Space);
        QVERIFY(!page.playing());
        key(page, Qt::Key_Space, Qt::ShiftModifier); // not the play key
        QVERIFY(!page.playing());
        // Stop and pause return within the project when it shrinks during playback.
        page.tracks[0].audioClips = {rampClip(2.0, Rate, 0.0), rampClip(30.0, Rate, 3.0)};
        page.syncPlayheadAll(25.0);
        key(page, Qt::Key_Space);
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 8.0));
        QTest::keyClick(lane(page, 0), Qt::Key_Delete);
        QVERIFY(page.playing() && page.tracks[0].audioClips.size() == 1);
        key(page, Qt::Key_Space);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:02.000"));
        key(page, Qt::Key_Space);
        QTest::mouseClick(button(page, QStringLiteral("停止")), Qt::LeftButton);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:02.000"));
    }

};

QTEST_MAIN(MultiTrackClipEditingTest)
#include "tst_MultiTrackClipEditing.moc"
