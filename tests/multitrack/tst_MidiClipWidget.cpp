// The MIDI clip lane: creation by Alt-drag, trims, body drags, deletion,
// envelope gestures, rebinding under a drag, and what it draws.

#include "multitrack/MidiClipWidget.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <climits>

namespace {

// Mouse events sent straight to the lane (no window needed).
void send(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(pos), w.mapToGlobal(QPointF(pos)), button, buttons, modifiers);
    QApplication::sendEvent(&w, &event);
}
void press(QWidget& w, QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    send(w, QEvent::MouseButtonPress, p, Qt::LeftButton, m);
}
void move(QWidget& w, QPoint p) { send(w, QEvent::MouseMove, p, Qt::LeftButton); }
void release(QWidget& w, QPoint p) { send(w, QEvent::MouseButtonRelease, p, Qt::LeftButton); }
void drag(QWidget& w, QPoint from, QPoint to, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    press(w, from, m);
    move(w, (from + to) / 2);
    move(w, to);
    release(w, to);
}

MidiClip clip(double start, double duration, std::vector<MidiNote> notes = {})
{
    MidiClip c;
    c.start = start;
    c.duration = duration;
    c.notes = std::move(notes);
    return c;
}

TrackData midiTrack()
{
    TrackData t;
    t.type = MidiTrack;
    t.color = QColor(0x7a, 0x40, 0xe0);
    return t;
}

struct Lane {
    TrackData track = midiTrack();
    MidiClipWidget widget;
    Lane()
    {
        widget.resize(1000, 120);
        widget.setTrackData(&track);
    }
};

} // namespace

class MidiClipWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void altDragCreatesClipsOfHalfASecondOrMore()
    {
        Lane lane;
        QSignalSpy created(&lane.widget, &MidiClipWidget::clipCreated);
        drag(lane.widget, QPoint(100, 60), QPoint(130, 60), Qt::AltModifier); // 0.3 s
        QCOMPARE(created.count(), 0);
        QVERIFY(!lane.widget.isCreating());
        drag(lane.widget, QPoint(260, 60), QPoint(110, 60), Qt::AltModifier); // leftwards, 1.5 s
        QCOMPARE(created.count(), 1);
        QCOMPARE(created.at(0).at(0).toDouble(), 1.1);
        QCOMPARE(created.at(0).at(1).toDouble(), 1.5);
        QVERIFY(lane.track.midiClips.empty()); // the row appends, not the lane

        // Snapped: both ends on one beat give half a second from that beat.
        lane.widget.setSnapEnabled(true);
        drag(lane.widget, QPoint(98, 60), QPoint(108, 60), Qt::AltModifier);
        QCOMPARE(created.count(), 2);
        QCOMPARE(created.at(1).at(0).toDouble(), 1.0);
        QCOMPARE(created.at(1).at(1).toDouble(), 0.5);
        // At 300 BPM too, where 0.2 + 0.5 - 0.2 is a rounding error short of 0.5.
        lane.widget.setSnapBpm(300.0);
        drag(lane.widget, QPoint(19, 60), QPoint(21, 60), Qt::AltModifier);
        QCOMPARE(created.count(), 3);
        QCOMPARE(created.at(2).at(0).toDouble(), 0.2);
        QCOMPARE(created.at(2).at(1).toDouble(), 0.5);
        lane.widget.setSnapBpm(120.0);

        // Changing the tool cancels a creation without a clip.
        press(lane.widget, QPoint(300, 60), Qt::AltModifier);
        move(lane.widget, QPoint(600, 60));
        lane.widget.setToolMode(0);
        release(lane.widget, QPoint(600, 60));
        QCOMPARE(created.count(), 3);
    }

    void trimsStopATenthOfASecondShort()
    {
        Lane lane;
        lane.track.midiClips = {clip(1.0, 2.0, {MidiNote{60, 0.5, 0.5, 100}})};
        QSignalSpy trimmed(&lane.widget, &MidiClipWidget::clipTrimmed);
        // Head edge at x 100 dragged past the tail (x 300).
        drag(lane.widget, QPoint(101, 60), QPoint(500, 60));
        QCOMPARE(trimmed.count(), 1);
        const MidiClip& c = lane.track.midiClips[0];
        QVERIFY(qAbs(c.start - 2.9) < 1e-9);
        QVERIFY(qAbs(c.start + c.duration - 3.0) < 1e-9);
        QCOMPARE(c.notes[0].start, 0.5); // notes keep their clip-relative times

        // Head edge dragged left of 0 stops at 0.
        drag(lane.widget, QPoint(290, 60), QPoint(-200, 60));
        QCOMPARE(lane.track.midiClips[0].start, 0.0);
        QVERIFY(qAbs(lane.track.midiClips[0].duration - 3.0) < 1e-9);

        // Tail edge (x 300) dragged before the head stays 0.1 s long.
        drag(lane.widget, QPoint(299, 60), QPoint(-50, 60));
        QVERIFY(qAbs(lane.track.midiClips[0].duration - 0.1) < 1e-9);
        QCOMPARE(trimmed.count(), 3);
    }

    void bodyDragWaitsFiveThenMovesAndSnaps()
    {
        Lane lane;
        lane.track.midiClips = {clip(2.0, 2.0)};
        QSignalSpy trimmed(&lane.widget, &MidiClipWidget::clipTrimmed);
        QSignalSpy playhead(&lane.widget, &MidiClipWidget::playheadMoved);
        drag(lane.widget, QPoint(300, 60), QPoint(305, 60));
        QCOMPARE(lane.track.midiClips[0].start, 2.0);
        QCOMPARE(trimmed.count(), 0);
        QCOMPARE(playhead.count(), 1);
        QCOMPARE(playhead.at(0).at(0).toDouble(), 3.05);
        QCOMPARE(lane.widget.selectedClip(), 0);

        drag(lane.widget, QPoint(300, 60), QPoint(-400, 60));
        QCOMPARE(lane.track.midiClips[0].start, 0.0);
        lane.widget.setSnapEnabled(true);
        drag(lane.widget, QPoint(100, 60), QPoint(175, 60)); // 0.75 s later: snaps to 1.0
        QCOMPARE(lane.track.midiClips[0].start, 1.0);
        QCOMPARE(trimmed.count(), 2);
    }

    void editsAtATimeScaleWriteHeldTimes()
    {
        // Factor 2: the clip held at 1 s for 2 s lies from x 200 to x 600.
        Lane lane;
        lane.widget.setTimeScale(2.0);
        lane.track.midiClips = {clip(1.0, 2.0)};
        drag(lane.widget, QPoint(599, 60), QPoint(800, 60)); // tail to 8 s
        QVERIFY(qAbs(lane.track.midiClips[0].duration - 3.0) < 1e-9);
        drag(lane.widget, QPoint(201, 60), QPoint(400, 60)); // head to 4 s, end stays at 8 s
        QVERIFY(qAbs(lane.track.midiClips[0].start - 2.0) < 1e-9);
        QVERIFY(qAbs(lane.track.midiClips[0].end() - 4.0) < 1e-9);
        lane.widget.setSnapEnabled(true);
        lane.widget.setSnapBpm(60.0); // the beats of the timeline's tempo
        drag(lane.widget, QPoint(500, 60), QPoint(570, 60)); // 4.7 s snaps to 5 s
        QCOMPARE(lane.track.midiClips[0].start, 2.5);
        QCOMPARE(lane.widget.hitTestClipEdge(QPoint(500, 60)), 0);
    }

    void deleteKeepsTheSelectionAndScissorsAndMoveReport()
    {
        Lane lane;
        lane.track.midiClips = {clip(0.5, 1.0), clip(3.0, 1.0)};
        QSignalSpy deleted(&lane.widget, &MidiClipWidget::deleteClipRequested);
        QTest::keyClick(&lane.widget, Qt::Key_Delete);
        QCOMPARE(deleted.count(), 0);
        drag(lane.widget, QPoint(350, 60), QPoint(350, 60));
        QTest::keyClick(&lane.widget, Qt::Key_Backspace);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).toInt(), 1);
        QCOMPARE(lane.widget.selectedClip(), 1);
        lane.track.midiClips.pop_back();
        QTest::keyClick(&lane.widget, Qt::Key_Delete); // stale index: nothing
        QCOMPARE(deleted.count(), 1);

        QSignalSpy scissors(&lane.widget, &MidiClipWidget::scissorClicked);
        QSignalSpy playhead(&lane.widget, &MidiClipWidget::playheadMoved);
        lane.widget.setToolMode(1);
        press(lane.widget, QPoint(100, 60));
        press(lane.widget, QPoint(700, 60));
        QCOMPARE(scissors.count(), 1);
        QCOMPARE(playhead.count(), 1);

        QSignalSpy started(&lane.widget, &MidiClipWidget::clipDragStarted);
        QSignalSpy finished(&lane.widget, &MidiClipWidget::clipDragFinished);
        lane.widget.setToolMode(2);
        drag(lane.widget, QPoint(100, 60), QPoint(400, 60));
        press(lane.widget, QPoint(700, 60));
        QCOMPARE(started.count(), 1);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(playhead.count(), 1); // the Move tool never moves the playhead
        QCOMPARE(lane.track.midiClips[0].start, 0.5);
    }

    void envelopeGestures()
    {
        Lane lane;
        lane.track.midiClips = {clip(0.0, 4.0)};
        lane.widget.setShowEnvelope(true);
        using Points = std::vector<EnvelopePoint>;
        std::vector<std::pair<Points, Points>> commits;
        connect(&lane.widget, &MidiClipWidget::envelopeEditCommitted,
                [&](Points before, Points after) { commits.emplace_back(before, after); });
        QSignalSpy changed(&lane.widget, &MidiClipWidget::envelopeChanged);
        QSignalSpy created(&lane.widget, &MidiClipWidget::clipCreated);

        // Alt-click on top of a clip adds a point (y 8 is 1.5, y 112 is 0).
        press(lane.widget, QPoint(200, 8), Qt::AltModifier);
        release(lane.widget, QPoint(200, 8));
        press(lane.widget, QPoint(400, 112), Qt::AltModifier);
        release(lane.widget, QPoint(400, 112));
        QCOMPARE(created.count(), 0);
        QCOMPARE(int(commits.size()), 2);
        QVERIFY(commits[0].first.empty());
        QCOMPARE(commits[1].second.size(), size_t(2));
        QCOMPARE(lane.track.volumeEnvelope[0].value, 1.5f);
        QCOMPARE(lane.track.volumeEnvelope[1].time, 4.0);

        // Dragging the second point past the first stops at its time.
        drag(lane.widget, QPoint(401, 110), QPoint(50, 60));
        QCOMPARE(int(commits.size()), 3);
        QCOMPARE(lane.track.volumeEnvelope[1].time, 2.0);
        QVERIFY(qAbs(lane.track.volumeEnvelope[1].value - 0.75f) < 1e-6f);
        QCOMPARE(commits[2].second[1].time, 2.0);
        QCOMPARE(changed.count(), 3);

        // A press and release without moving still commits, unchanged.
        drag(lane.widget, QPoint(200, 8), QPoint(200, 8));
        QCOMPARE(int(commits.size()), 4);
        QCOMPARE(commits[3].first.size(), commits[3].second.size());
    }

    void rebindingUnderADragKeepsWorking()
    {
        // The page's vector reallocates during a trim: the lane follows the
        // new element, and a shrunk vector ends the gesture quietly.
        std::vector<TrackData> tracks(1, midiTrack());
        tracks[0].midiClips = {clip(1.0, 1.0)};
        MidiClipWidget lane;
        lane.resize(800, 120);
        lane.setTrackData(&tracks[0]);
        press(lane, QPoint(199, 60));
        move(lane, QPoint(250, 60));
        tracks.reserve(tracks.capacity() * 4 + 8); // moves the elements
        lane.setTrackData(&tracks[0]);
        move(lane, QPoint(300, 60));
        release(lane, QPoint(300, 60));
        QVERIFY(qAbs(tracks[0].midiClips[0].duration - 2.0) < 1e-9);

        press(lane, QPoint(150, 60)); // body press
        tracks[0].midiClips.clear();
        move(lane, QPoint(400, 60));
        release(lane, QPoint(400, 60));
        lane.setShowEnvelope(true);
        tracks[0].volumeEnvelope = {EnvelopePoint{1.0, 1.0f}};
        press(lane, QPoint(100, int(lane.valueToY(1.0f))));
        tracks[0].volumeEnvelope.clear();
        move(lane, QPoint(300, 30));
        release(lane, QPoint(300, 30));
        QVERIFY(tracks[0].volumeEnvelope.empty());
        QVERIFY(!lane.grab().isNull());
    }

    void picture()
    {
        Lane lane;
        lane.widget.resize(900, 120);
        std::vector<MidiNote> notes;
        for (int i = 0; i < 16; ++i)
            notes.push_back(MidiNote{60 + (i * 5) % 12, i * 0.25, 0.2, 100});
        lane.track.midiClips = {clip(0.5, 4.0, notes), clip(5.0, 2.0), clip(7.5, 0.0, notes),
                                clip(-3.0, 3.2, {MidiNote{64, 0.0, 1.0, 90}})};
        lane.track.volumeEnvelope = {EnvelopePoint{1.0, 0.8f}, EnvelopePoint{6.0, 1.2f}};
        lane.widget.setShowEnvelope(true);
        lane.widget.setPlayheadPosition(3.0);
        press(lane.widget, QPoint(600, 60)); // selects the empty clip
        release(lane.widget, QPoint(600, 60));
        lane.widget.setPlayheadPosition(3.0);
        QImage image = lane.widget.grab().toImage().convertToFormat(QImage::Format_RGB32);

        const QRgb background = qRgb(0x14, 0x14, 0x1e);
        // A clip of duration 0 draws no notes (nor a body wider than its line).
        for (int x = 755; x < 790; ++x)
            QCOMPARE(image.pixel(x, 60), background);
        // The empty clip 5..7 s has a body but no note inside.
        const QColor body(image.pixel(620, 100));
        QVERIFY(body.rgb() != background);
        // The first clip's lowest notes reach the bottom of its inner area.
        QVERIFY(QColor(image.pixel(56, 106)).rgb() != QColor(image.pixel(620, 106)).rgb());
        // Playhead at x 300.
        QCOMPARE(QColor(image.pixel(300, 2)), QColor(Qt::white));
        // Outside every clip, between 7.5 and 9 s, no clip draws.
        QCOMPARE(image.pixel(850, 30), background);
        QVERIFY(TestSupport::saveScreenshot(QPixmap::fromImage(image), QStringLiteral("midi-lane.png")));

        // Trim bars only for a clip under the mouse inside the lane: with the
        // mouse beside it (over the header column), the clip reaching in from
        // the left (x -300..20) shows none; under the mouse it does.
        const auto trimBar = [&](QPoint mouse) {
            QCursor::setPos(lane.widget.mapToGlobal(mouse));
            const QImage shot = lane.widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
            return shot.pixel(17, 100) != shot.pixel(10, 100);
        };
        QVERIFY(!trimBar(QPoint(-50, 60)));
        QVERIFY(trimBar(QPoint(5, 60)));
        // Leaving the lane repaints it, so the bars go with the mouse.
        int paints = 0;
        QWidget& widget = lane.widget;
        struct PaintCounter : QObject {
            int* count;
            explicit PaintCounter(int* c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                *count += e->type() == QEvent::Paint;
                return false;
            }
        } counter(&paints);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        widget.installEventFilter(&counter);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&widget, &leave);
        QTRY_VERIFY(paints > 0);

        // Pitches of a corrupt file, far outside 0..127, still draw: the
        // highest at the top of the inner area, the lowest at its bottom.
        lane.track.midiClips = {clip(0.5, 2.0, {MidiNote{INT_MIN, 0.0, 1.0, 100},
                                                MidiNote{INT_MAX, 1.0, 1.0, 100}})};
        image = lane.widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(image.pixel(200, 12) != image.pixel(200, 60));
        QVERIFY(image.pixel(100, 108) != image.pixel(100, 60));

        // No clips: the empty-state text, and nothing else.
        Lane empty;
        const QImage blank = empty.widget.grab().toImage();
        bool text = false;
        for (int x = 0; x < blank.width() && !text; ++x)
            text = QColor(blank.pixel(x, 60)) != QColor(background);
        QVERIFY(text);
    }
};

QTEST_MAIN(MidiClipWidgetTest)
#include "tst_MidiClipWidget.moc"
