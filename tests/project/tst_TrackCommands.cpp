#include "project/TrackCommands.h"

#include <QRandomGenerator>
#include <QUndoStack>
#include <QtTest/QtTest>

#include <memory>

// Record comparisons for the checks (global, so std::vector's == finds them).
static bool operator==(const MidiNote& a, const MidiNote& b)
{
    return a.pitch == b.pitch && a.start == b.start && a.duration == b.duration
        && a.velocity == b.velocity;
}

static bool operator==(const MidiClip& a, const MidiClip& b)
{
    return a.id == b.id && a.notes == b.notes && a.start == b.start && a.duration == b.duration;
}

static bool operator==(const AudioClip& a, const AudioClip& b)
{
    return a.name == b.name && a.samples == b.samples && a.stereoSamples == b.stereoSamples
        && a.sampleRate == b.sampleRate && a.start == b.start && a.audioStart == b.audioStart
        && a.audioEnd == b.audioEnd && a.fadeIn == b.fadeIn && a.fadeOut == b.fadeOut;
}

static bool operator==(const EnvelopePoint& a, const EnvelopePoint& b)
{
    return a.time == b.time && a.value == b.value;
}

static bool operator==(const TimelineMarker& a, const TimelineMarker& b)
{
    return a.time == b.time && a.label == b.label && a.color == b.color;
}

namespace {

AudioClip audioClip(const QString& name, double start = 0.0)
{
    AudioClip clip;
    clip.name = name;
    clip.samples = QList<float>(64, 0.25f);
    clip.start = start;
    return clip;
}

MidiClip midiClip(int id, int pitch)
{
    MidiClip clip;
    clip.id = id;
    clip.notes = {MidiNote{pitch, 0.0, 0.5, 90}, MidiNote{pitch + 4, 0.5, 0.25, 100}};
    return clip;
}

TrackData track(const QString& name, int clips = 1)
{
    TrackData t;
    t.name = name;
    for (int i = 0; i < clips; ++i)
        t.audioClips.push_back(audioClip(name + QStringLiteral("/c%1").arg(i)));
    return t;
}

struct FakeRow : TrackRowBinding {
    FakeRow(int index, TrackData* track) : index(index), track(track) {}
    void updateIndex(int i) override { index = i; }
    void rebindTrackData(TrackData* t) override { track = t; }
    int index;
    TrackData* track;
};

// The multitrack page as the commands see it: a track list with parallel rows.
class FakePage : public TrackRowHost {
public:
    std::vector<TrackData>& trackList() override { return tracks; }
    int trackRowCount() const override { return int(rows.size()); }
    TrackRowBinding* trackRowAt(int i) const override
    {
        return i >= 0 && size_t(i) < rows.size() ? rows[size_t(i)].get() : nullptr;
    }
    std::vector<TimelineMarker>& markerList() override { return markers; }
    void createTrackRow(int i) override
    {
        if (i < 0 || size_t(i) > rows.size() || size_t(i) >= tracks.size()) {
            faults << QStringLiteral("createTrackRow(%1)").arg(i);
            return;
        }
        rows.insert(rows.begin() + i, std::make_unique<FakeRow>(i, &tracks[size_t(i)]));
    }
    void destroyTrackRow(int i) override
    {
        if (i >= 0 && size_t(i) < rows.size())
            rows.erase(rows.begin() + i);
    }
    void updateRuler() override { ++rulerUpdates; }

    // What the page itself does before pushing AddTrackCommand / RemoveTrackCommand.
    void appendTrack(const TrackData& t)
    {
        tracks.push_back(t);
        rebindTrackRows();
        createTrackRow(int(tracks.size()) - 1);
    }
    TrackData removeTrack(int i)
    {
        destroyTrackRow(i);
        TrackData removed = tracks[size_t(i)];
        tracks.erase(tracks.begin() + i);
        rebindTrackRows();
        return removed;
    }
    // No spare capacity, so the next insertion must reallocate.
    void makeFull()
    {
        tracks.shrink_to_fit();
        rebindTrackRows();
    }
    QStringList names() const
    {
        QStringList list;
        for (const TrackData& t : tracks)
            list << t.name;
        return list;
    }
    // Empty when every row i has index i and points at track i.
    QString rowsOutOfStep() const
    {
        if (rows.size() != tracks.size())
            return QStringLiteral("%1 rows for %2 tracks").arg(rows.size()).arg(tracks.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i]->index != int(i) || rows[i]->track != &tracks[i]
                || rows[i]->track->name != tracks[i].name)
                return QStringLiteral("row %1 out of step").arg(i);
        }
        return faults.join(QLatin1Char(','));
    }

    std::vector<TrackData> tracks;
    std::vector<std::unique_ptr<FakeRow>> rows;
    std::vector<TimelineMarker> markers;
    int rulerUpdates = 0;
    QStringList faults;
};

#define VERIFY_IN_STEP(page) QVERIFY2((page).rowsOutOfStep().isEmpty(), qPrintable((page).rowsOutOfStep()))

// Track names with their audio clip names: what the random sequence compares.
using Layout = std::vector<QStringList>;
Layout layoutOf(const FakePage& page)
{
    Layout layout;
    for (const TrackData& t : page.tracks) {
        QStringList entry{t.name};
        for (const AudioClip& c : t.audioClips)
            entry << c.name;
        layout.push_back(entry);
    }
    return layout;
}

} // namespace

class TrackCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void addThreeUndoTwiceRedoTwice()
    {
        FakePage page;
        QUndoStack stack;
        for (int i = 0; i < 3; ++i) {
            page.appendTrack(track(QStringLiteral("T%1").arg(i)));
            stack.push(new AddTrackCommand(&page, QStringLiteral("添加轨道")));
        }
        QCOMPARE(page.names(), (QStringList{"T0", "T1", "T2"}));
        stack.undo();
        stack.undo();
        QCOMPARE(page.names(), QStringList{"T0"});
        VERIFY_IN_STEP(page);
        for (int i = 0; i < 2; ++i) {
            page.makeFull();
            const TrackData* oldStorage = page.tracks.data();
            stack.redo();
            QVERIFY(page.tracks.data() != oldStorage);
            VERIFY_IN_STEP(page);
        }
        QCOMPARE(page.names(), (QStringList{"T0", "T1", "T2"}));
        QCOMPARE(page.tracks[2].audioClips.front().name, QStringLiteral("T2/c0"));
    }

    void removeMiddleAndUndo()
    {
        FakePage page;
        for (int i = 0; i < 3; ++i)
            page.appendTrack(track(QStringLiteral("T%1").arg(i)));
        QUndoStack stack;
        const TrackData removed = page.removeTrack(1);
        stack.push(new RemoveTrackCommand(&page, 1, removed, QStringLiteral("删除轨道")));
        QCOMPARE(page.names(), (QStringList{"T0", "T2"}));
        for (int round = 0; round < 2; ++round) {
            page.makeFull();
            stack.undo();
            QCOMPARE(page.names(), (QStringList{"T0", "T1", "T2"}));
            VERIFY_IN_STEP(page);
            stack.redo();
            QCOMPARE(page.names(), (QStringList{"T0", "T2"}));
            VERIFY_IN_STEP(page);
        }
    }

    // Header and trim edits have no undo step of their own: a track that
    // leaves through undo or redo comes back as it left, not as it was made.
    void inPlaceEditsSurviveUndoAndRedo()
    {
        FakePage page;
        QUndoStack stack;
        page.appendTrack(track(QStringLiteral("T0")));
        stack.push(new AddTrackCommand(&page, QStringLiteral("添加轨道")));
        page.tracks[0].name = QStringLiteral("人声");
        page.tracks[0].muted = true;
        page.tracks[0].audioClips[0].audioStart = 0.25;
        stack.undo();
        QVERIFY(page.tracks.empty());
        stack.redo();
        QCOMPARE(page.names(), QStringList{"人声"});
        QVERIFY(page.tracks[0].muted);
        QCOMPARE(page.tracks[0].audioClips[0].audioStart, 0.25);

        page.appendTrack(track(QStringLiteral("T1")));
        stack.push(new AddTrackCommand(&page, QStringLiteral("添加轨道")));
        const TrackData removed = page.removeTrack(0);
        stack.push(new RemoveTrackCommand(&page, 0, removed, QStringLiteral("删除轨道")));
        stack.undo();
        page.tracks[0].pan = -0.5f;
        page.tracks[0].audioClips[0].fadeIn = 0.1;
        stack.redo();
        QCOMPARE(page.names(), QStringList{"T1"});
        stack.undo();
        QCOMPARE(page.names(), (QStringList{"人声", "T1"}));
        QCOMPARE(page.tracks[0].pan, -0.5f);
        QCOMPARE(page.tracks[0].audioClips[0].fadeIn, 0.1);
        VERIFY_IN_STEP(page);

        // The same for a clip list step: a split undone and redone keeps the
        // fade set on its second part afterwards.
        const std::vector<AudioClip> whole = page.tracks[1].audioClips;
        std::vector<AudioClip> parts = whole;
        parts.push_back(audioClip(QStringLiteral("T1/c1"), 2.0));
        page.tracks[1].audioClips = parts;
        stack.push(new TrackClipsSnapshotCommand(&page, 1, 0, whole, int(parts.size()), QStringLiteral("拆分片段")));
        page.tracks[1].audioClips[1].fadeOut = 0.5;
        stack.undo();
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(1));
        stack.redo();
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[1].audioClips[1].fadeOut, 0.5);
    }

    void trackCommandsWithoutTracksDoNothing()
    {
        FakePage page;
        QUndoStack stack;
        stack.push(new AddTrackCommand(&page, QStringLiteral("添加轨道")));
        stack.push(new RemoveTrackCommand(&page, -1, track("X"), QStringLiteral("删除轨道")));
        stack.push(new RemoveTrackCommand(&page, 5, track("Y"), QStringLiteral("删除轨道")));
        stack.undo();
        stack.undo();
        stack.undo();
        stack.redo();
        QVERIFY(page.tracks.empty());
        QVERIFY(page.rows.empty());
        QVERIFY(page.faults.isEmpty());
    }

    void randomStructuralEditsKeepRowsInStep()
    {
        FakePage page;
        for (int i = 0; i < 3; ++i)
            page.appendTrack(track(QStringLiteral("T%1").arg(i), 2));
        QUndoStack stack;
        std::vector<Layout> history{layoutOf(page)}; // layout at each stack index
        QRandomGenerator random(20240611);
        int made = 3;
        const auto pushed = [&](QUndoCommand* command) {
            history.resize(size_t(stack.index()) + 1);
            stack.push(command);
            history.push_back(layoutOf(page));
        };
        for (int step = 0; step < 300; ++step) {
            if (random.bounded(3) == 0)
                page.makeFull();
            const int trackCount = int(page.tracks.size());
            switch (random.bounded(5)) {
            case 0:
                page.appendTrack(track(QStringLiteral("T%1").arg(made++), random.bounded(3)));
                pushed(new AddTrackCommand(&page, QStringLiteral("添加轨道")));
                break;
            case 1:
                if (trackCount > 0) {
                    const int index = random.bounded(trackCount);
                    pushed(new RemoveTrackCommand(&page, index, page.removeTrack(index),
                                                  QStringLiteral("删除轨道")));
                }
                break;
            case 2:
                if (trackCount > 0) {
                    const int from = random.bounded(trackCount), to = random.bounded(trackCount);
                    const auto& clips = page.tracks[size_t(from)].audioClips;
                    const int clip = random.bounded(int(clips.size()) + 1); // one past: no clip
                    pushed(new MoveClipCommand(&page, from, to, clip, false, QStringLiteral("移动片段")));
                }
                break;
            case 3:
                stack.undo();
                break;
            default:
                stack.redo();
                break;
            }
            VERIFY_IN_STEP(page);
            QVERIFY2(layoutOf(page) == history[size_t(stack.index())], qPrintable(QString::number(step)));
        }
    }

    void moveClipAcrossTracksAndBack_data()
    {
        QTest::addColumn<bool>("isMidi");
        QTest::newRow("audio") << false;
        QTest::newRow("midi") << true;
    }

    void moveClipAcrossTracksAndBack()
    {
        QFETCH(bool, isMidi);
        FakePage page;
        page.appendTrack(track("A", 3));
        page.appendTrack(track("B", 1));
        for (int i = 0; i < 3; ++i)
            page.tracks[0].midiClips.push_back(midiClip(i, 60 + i));
        page.tracks[1].midiClips.push_back(midiClip(9, 40));
        const std::vector<TrackData> original = page.tracks;
        const auto clipsOf = [isMidi](const TrackData& t) {
            QStringList ids;
            if (isMidi)
                for (const MidiClip& c : t.midiClips) ids << QString::number(c.id);
            else
                for (const AudioClip& c : t.audioClips) ids << c.name.section('/', 1);
            return ids;
        };
        const auto pushMove = [&](QUndoStack& stack, int from, int to, int clip) {
            stack.push(new MoveClipCommand(&page, from, to, clip, isMidi, QStringLiteral("移动片段")));
        };
        const QString a1 = isMidi ? "1" : "c1";
        const QString b0 = isMidi ? "9" : "c0";
        QUndoStack stack;
        pushMove(stack, 0, 1, 1);
        QCOMPARE(clipsOf(page.tracks[0]), (QStringList{isMidi ? "0" : "c0", isMidi ? "2" : "c2"}));
        QCOMPARE(clipsOf(page.tracks[1]), (QStringList{b0, a1}));
        pushMove(stack, 1, 0, 1);
        QCOMPARE(clipsOf(page.tracks[0]).last(), a1);
        QCOMPARE(clipsOf(page.tracks[1]), QStringList{b0});
        // The other kind's clips are never touched.
        for (size_t t = 0; t < 2; ++t) {
            if (isMidi)
                QVERIFY(page.tracks[t].audioClips == original[t].audioClips);
            else
                QVERIFY(page.tracks[t].midiClips == original[t].midiClips);
        }
        stack.undo();
        stack.undo();
        for (size_t t = 0; t < 2; ++t) {
            QVERIFY(page.tracks[t].audioClips == original[t].audioClips);
            QVERIFY(page.tracks[t].midiClips == original[t].midiClips);
        }
        stack.redo();
        QCOMPARE(clipsOf(page.tracks[1]), (QStringList{b0, a1}));
    }

    // Undo and redo take back exactly the clip that moved, with its edits
    // since, whatever else came to its new track in the meantime.
    void moveUndoTakesBackTheMovedClipWithItsEdits()
    {
        FakePage page;
        page.appendTrack(track("A", 0));
        page.appendTrack(track("B", 0));
        page.tracks[0].midiClips = {midiClip(0, 60), midiClip(1, 62), midiClip(2, 64)};
        page.tracks[1].midiClips = {midiClip(9, 40)};
        QUndoStack stack;
        stack.push(new MoveClipCommand(&page, 0, 1, 1, true, QStringLiteral("移动片段")));
        // The moved clip is edited in place and a clip is added after it.
        MidiClip& moved = page.tracks[1].midiClips[1];
        moved.notes.push_back(MidiNote{80, 1.0, 0.5, 100});
        moved.duration = 3.0;
        const MidiClip edited = moved;
        page.tracks[1].midiClips.push_back(midiClip(7, 30));
        const auto ids = [&](int t) {
            QList<int> list;
            for (const MidiClip& c : page.tracks[size_t(t)].midiClips)
                list << c.id;
            return list;
        };
        stack.undo();
        QCOMPARE(ids(0), (QList<int>{0, 1, 2}));
        QCOMPARE(ids(1), (QList<int>{9, 7}));
        QVERIFY(page.tracks[0].midiClips[1] == edited);
        stack.redo();
        QCOMPARE(ids(0), (QList<int>{0, 2}));
        QCOMPARE(ids(1), (QList<int>{9, 7, 1}));
        QVERIFY(page.tracks[1].midiClips[2] == edited);
    }

    // A same-track move undone and redone after a drag in place keeps the
    // drag, also where the timeline's start stopped the redo.
    void moveInTrackKeepsLaterDrags()
    {
        FakePage page;
        page.appendTrack(track("A", 1));
        page.tracks[0].audioClips[0].start = 3.0;
        QUndoStack stack;
        stack.push(new MoveClipInTrackCommand(&page, 0, 0, false, 0.5, QStringLiteral("移动片段")));
        stack.undo();
        double& start = page.tracks[0].audioClips[0].start;
        QCOMPARE(start, 3.0);
        start = 0.1;
        stack.redo();
        QCOMPARE(start, 0.0);
        stack.undo();
        QCOMPARE(start, 0.1);
    }

    // A move that found no clip must not take a clip off the destination on undo.
    void moveOfMissingClipUndoesNothing()
    {
        FakePage page;
        page.appendTrack(track("A", 1));
        page.appendTrack(track("B", 2));
        const std::vector<TrackData> original = page.tracks;
        QUndoStack stack;
        for (int clip : {1, -1})
            stack.push(new MoveClipCommand(&page, 0, 1, clip, false, QStringLiteral("移动片段")));
        stack.push(new MoveClipCommand(&page, 0, 7, 0, false, QStringLiteral("移动片段")));
        while (stack.canUndo())
            stack.undo();
        for (size_t t = 0; t < 2; ++t)
            QVERIFY(page.tracks[t].audioClips == original[t].audioClips);
    }

    void clipSnapshotsTouchOnlyTheirKind_data()
    {
        QTest::addColumn<bool>("isMidi");
        QTest::newRow("audio") << false;
        QTest::newRow("midi") << true;
    }

    // A variant's vectors of the other kind are empty: assigning them by
    // mistake would show.
    void clipSnapshotsTouchOnlyTheirKind()
    {
        QFETCH(bool, isMidi);
        FakePage page;
        page.appendTrack(track("A", 2));
        page.tracks[0].midiClips = {midiClip(0, 60), midiClip(1, 62)};
        const TrackData before = page.tracks[0];
        const std::vector<AudioClip> audioAfter{audioClip("A/split0"), audioClip("A/split1", 1.0)};
        const std::vector<MidiClip> midiAfter{midiClip(5, 70)};
        QUndoStack stack;
        if (isMidi) {
            page.tracks[0].midiClips = midiAfter;
            stack.push(TrackClipsSnapshotCommand::createForMidi(&page, 0, 0, before.midiClips, 1, "删除MIDI块"));
        } else {
            page.tracks[0].audioClips = audioAfter;
            stack.push(new TrackClipsSnapshotCommand(&page, 0, 0, before.audioClips, 2, "拆分片段"));
        }
        stack.undo();
        QVERIFY(page.tracks[0].audioClips == before.audioClips);
        QVERIFY(page.tracks[0].midiClips == before.midiClips);
        stack.redo();
        QVERIFY(page.tracks[0].audioClips == (isMidi ? before.audioClips : audioAfter));
        QVERIFY(page.tracks[0].midiClips == (isMidi ? midiAfter : before.midiClips));
    }

    // Envelope and note snapshots find their track again after other tracks
    // came and went with the track list reallocating in between.
    void snapshotsFollowTheirTrackAcrossReallocation()
    {
        FakePage page;
        page.appendTrack(track("A"));
        page.appendTrack(track("B"));
        page.tracks[1].midiClips = {midiClip(0, 60), midiClip(1, 64)};
        const std::vector<EnvelopePoint> pointsBefore{{0.0, 0.8f}, {2.0, 0.5f}};
        const std::vector<EnvelopePoint> pointsAfter{{0.0, 0.8f}, {1.0, 1.2f}, {2.0, 0.5f}};
        const std::vector<MidiNote> notesBefore = page.tracks[1].midiClips[1].notes;
        const std::vector<MidiNote> notesAfter{MidiNote{72, 0.125, 1.0, 127}};
        page.tracks[1].volumeEnvelope = pointsAfter;
        page.tracks[1].envelopeEnabled = true;
        page.tracks[1].midiClips[1].notes = notesAfter;

        QUndoStack stack;
        stack.push(new EnvelopeSnapshotCommand(&page, 1, pointsBefore, pointsAfter, false, true, "编辑包络"));
        stack.push(new MidiNoteSnapshotCommand(&page, 1, 1, notesBefore, notesAfter, "编辑音符"));
        QVERIFY(page.tracks[1].volumeEnvelope == pointsAfter);
        QVERIFY(page.tracks[1].midiClips[1].notes == notesAfter);
        const TrackData removed = page.removeTrack(0);
        stack.push(new RemoveTrackCommand(&page, 0, removed, "删除轨道"));
        page.makeFull();
        page.appendTrack(track("C"));
        stack.push(new AddTrackCommand(&page, "添加轨道"));

        for (int round = 0; round < 2; ++round) {
            page.makeFull();
            stack.undo(); // add
            page.makeFull();
            stack.undo(); // remove: B is track 1 again
            stack.undo(); // notes
            stack.undo(); // envelope
            VERIFY_IN_STEP(page);
            QCOMPARE(page.names(), (QStringList{"A", "B"}));
            QVERIFY(page.tracks[1].volumeEnvelope == pointsBefore);
            QVERIFY(!page.tracks[1].envelopeEnabled);
            QVERIFY(page.tracks[1].midiClips[1].notes == notesBefore);
            QVERIFY(page.tracks[1].midiClips[0] == midiClip(0, 60));
            QVERIFY(page.tracks[0].volumeEnvelope.empty());
            while (stack.canRedo())
                stack.redo();
            VERIFY_IN_STEP(page);
            QCOMPARE(page.names(), (QStringList{"B", "C"}));
            QVERIFY(page.tracks[0].volumeEnvelope == pointsAfter);
            QVERIFY(page.tracks[0].envelopeEnabled);
            QVERIFY(page.tracks[0].midiClips[1].notes == notesAfter);
        }
    }

    void markerSnapshot()
    {
        FakePage page;
        const std::vector<TimelineMarker> before{{1.0, "A", QColor(255, 165, 0)}};
        const std::vector<TimelineMarker> after{{1.0, "A", QColor(255, 165, 0)}, {3.5, "B", QColor(Qt::red)}};
        page.markers = after;
        QUndoStack stack;
        stack.push(new MarkerSnapshotCommand(&page.markerList(), before, after, "添加标记"));
        QVERIFY(page.markers == after);
        stack.undo();
        QVERIFY(page.markers == before);
        stack.redo();
        QVERIFY(page.markers == after);
    }
};

QTEST_GUILESS_MAIN(TrackCommandsTest)
#include "tst_TrackCommands.moc"
