// Piano rolls opened from the multitrack page's MIDI lanes never outlive
// the clip they edit: closing deletes them, and the page closes a track's
// rolls before its MIDI clips are added, removed, moved or replaced, also
// by undo and redo. The sanitizers catch any dangling clip pointer.

#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/PianoRollDialog.h"
#include "multitrack/TrackRowWidget.h"
#include "project/TrackCommands.h"
#include "NoSoundServer.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

std::vector<MidiNote> notes(int count)
{
    std::vector<MidiNote> list;
    for (int i = 0; i < count; ++i)
        list.push_back(MidiNote{100 + i, i * 0.5, 0.5, 100});
    return list;
}

// Opens the roll of clip `clip` of track `track` as a double-click on the lane does.
QPointer<PianoRollDialog> openRoll(MultiTrackEditorPage& page, int track, int clip)
{
    TrackRowWidget* row = page.rows[size_t(track)];
    const size_t before = row->pianoRolls().size();
    emit row->midiLane()->clipDoubleClicked(clip);
    if (row->pianoRolls().size() != before + 1)
        return nullptr;
    return row->pianoRolls().back();
}

// Adds a note through the roll's mouse, as the user would.
void altClick(PianoRollDialog& roll, double beat, int pitch)
{
    const QPoint pos(roll.beatToX(beat) + 1, roll.pitchToY(pitch) + 4);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(pos), roll.mapToGlobal(QPointF(pos)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::AltModifier);
        QApplication::sendEvent(&roll, &event);
    }
}

} // namespace

class PianoRollLifetimeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::disconnectFromSoundServers());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void rollEditsItsClipAndClosingDeletesIt()
    {
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("A"), notes(2), 8.0);
        QVERIFY(!openRoll(page, 0, 1)); // no such clip
        QPointer<PianoRollDialog> roll = openRoll(page, 0, 0);
        QVERIFY(roll && roll->isVisible());
        QCOMPARE(roll->editedClip(), &page.tracks[0].midiClips[0]);

        // Tracks added after it move the track vector, not the clip storage.
        for (int i = 0; i < 20; ++i)
            page.addTrack(AudioTrack, {}, 44100);
        altClick(*roll, 2, 102);
        QCOMPARE(page.tracks[0].midiClips[0].notes.size(), size_t(3));
        QCOMPARE(page.tracks[0].midiClips[0].notes.back().pitch, 102);

        page.syncPlayheadAll(2.5);
        QCOMPARE(roll->playheadPosition(), 2.5);

        QSignalSpy changed(page.rows[0], &TrackRowWidget::trackChanged);
        roll->reject();
        QCOMPARE(changed.count(), 1);
        QVERIFY(page.rows[0]->pianoRolls().empty());
        QTRY_VERIFY(roll.isNull());
    }

    void structuralChangesCloseTheTracksRolls()
    {
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("A"), notes(3), 4.0);
        page.addMidiTrack(QStringLiteral("B"), notes(2), 4.0);
        TrackData& a = page.tracks[0];
        a.midiClips.push_back(MidiClip{1, notes(1), 5.0, 2.0});

        // A clip drawn on the lane.
        QPointer<PianoRollDialog> roll = openRoll(page, 0, 1);
        QPointer<PianoRollDialog> other = openRoll(page, 1, 0);
        emit page.rows[0]->midiLane()->clipCreated(8.0, 1.0);
        QVERIFY(roll.isNull());
        QVERIFY(other && other->editedClip());
        QCOMPARE(a.midiClips.size(), size_t(3));

        // Deleting clip 0 from its lane, then undoing and redoing that.
        roll = openRoll(page, 0, 2);
        emit page.rows[0]->deleteMidiClip(0);
        QVERIFY(roll.isNull());
        QCOMPARE(a.midiClips.size(), size_t(2));
        roll = openRoll(page, 0, 1);
        page.undoStack->undo();
        QVERIFY(roll.isNull());
        QCOMPARE(page.tracks[0].midiClips.size(), size_t(3));
        roll = openRoll(page, 0, 2);
        page.undoStack->redo();
        QVERIFY(roll.isNull());

        // A clip moved to the other track closes the rolls of both.
        roll = openRoll(page, 0, 0);
        page.undoStack->push(new MoveClipCommand(&page, 0, 1, 0, true, QStringLiteral("移动片段")));
        QVERIFY(roll.isNull() && other.isNull());
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(2));
        roll = openRoll(page, 1, 1);
        page.undoStack->undo();
        QVERIFY(roll.isNull());

        // The scissors at 1 s split clip 0 of track 1.
        roll = openRoll(page, 1, 0);
        page.syncPlayheadAll(1.0);
        page.splitClipAtPlayhead(1, 0);
        QVERIFY(roll.isNull());
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(2));

        // Notes replaced by a command.
        roll = openRoll(page, 1, 0);
        page.undoStack->push(new MidiNoteSnapshotCommand(&page, 1, 0, page.tracks[1].midiClips[0].notes, {},
                                                         QStringLiteral("编辑音符")));
        QVERIFY(roll.isNull());
        QVERIFY(page.tracks[1].midiClips[0].notes.empty());
        page.closePianoRollsForTrack(-1); // out of range: nothing
        page.closePianoRollsForTrack(9);
    }

    void trackRemovalAndUndoneCreationCloseTheRolls()
    {
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("A"), notes(2), 4.0);
        page.addMidiTrack(QStringLiteral("B"), notes(2), 4.0);
        page.addMidiTrack(QStringLiteral("C"), notes(2), 4.0);
        QPointer<PianoRollDialog> first = openRoll(page, 0, 0);
        QPointer<PianoRollDialog> middle = openRoll(page, 1, 0);
        QPointer<PianoRollDialog> last = openRoll(page, 2, 0);

        page.undoStack->undo(); // the third track's creation
        QVERIFY(last.isNull());
        page.removeTrack(1);
        QVERIFY(middle.isNull());
        // The first track's roll still edits its clip after the vector shifted.
        QVERIFY(first);
        altClick(*first, 3, 103);
        QCOMPARE(page.tracks[0].midiClips[0].notes.back().pitch, 103);
        page.undoStack->undo(); // the track comes back; the first roll is untouched
        QVERIFY(first);
        QCOMPARE(page.tracks[1].name, QStringLiteral("B"));
        middle = openRoll(page, 1, 0);
        page.clearTracks();
        QVERIFY(first.isNull() && middle.isNull());
    }

    void pageGoesWithRollsOpen()
    {
        auto* page = new MultiTrackEditorPage;
        page->addMidiTrack(QStringLiteral("A"), notes(2), 4.0);
        QPointer<PianoRollDialog> roll = openRoll(*page, 0, 0);
        QVERIFY(roll);
        delete page; // the rolls go before the instruments and tracks they use
        QVERIFY(roll.isNull());
    }
};

QTEST_MAIN(PianoRollLifetimeTest)
#include "tst_PianoRollLifetime.moc"
