// The piano roll without a sound server: its mapping, the mouse, wheel and
// key edits written into the clip, drags that outlive their note, the key
// column's auditions, and a picture.

#include "app/StartUp.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/PianoRollDialog.h"
#include "TestSupport.h"
#include "NoSoundServer.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

void mouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::KeyboardModifiers modifiers = {})
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(pos), w.mapToGlobal(QPointF(pos)), button, buttons, modifiers);
    QApplication::sendEvent(&w, &event);
}

void drag(QWidget& w, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {})
{
    mouse(w, QEvent::MouseButtonPress, from, modifiers);
    mouse(w, QEvent::MouseMove, to, modifiers);
    mouse(w, QEvent::MouseButtonRelease, to, modifiers);
}

void wheel(QWidget& w, QPoint angle, Qt::KeyboardModifiers modifiers = {})
{
    QWheelEvent event(QPointF(300, 200), w.mapToGlobal(QPointF(300, 200)), QPoint(), angle, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

MidiNote note(int pitch, double start, double duration, int velocity = 100)
{
    return MidiNote{pitch, start, duration, velocity};
}

// The middle of a note's row at x.
QPoint at(const PianoRollDialog& roll, double beat, int pitch)
{
    return QPoint(roll.beatToX(beat), roll.pitchToY(pitch) + roll.rowHeight() / 2);
}

// The top of the keyboard, where the older cases draw.
void scrollToTop(PianoRollDialog& roll)
{
    while (roll.verticalScroll() > 0)
        wheel(roll, QPoint(0, 120));
}

bool silent(PianoSampler& piano)
{
    // Long enough to pass the recordings' quiet start.
    std::vector<short> out(2 * 8192, 1);
    piano.renderLive(out.data(), 8192);
    return std::all_of(out.begin(), out.end(), [](short v) { return v == 0; });
}

} // namespace

class PianoRollDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // No sound server: the roll opens without its output.
        QVERIFY(TestSupport::disconnectFromSoundServers());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void mappingAndClickCreation()
    {
        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        QVERIFY(!roll.isPreviewRunning());
        scrollToTop(roll);
        QCOMPARE(roll.beatToX(0), 48);
        QCOMPARE(roll.pitchToY(119), 32);
        QCOMPARE(roll.yToPitch(56), 118);
        QCOMPARE(roll.xToBeat(72), 1.0);
        QCOMPARE(roll.gridArea(), QRect(48, 32, 960 - 48, 640 - 152 - 32));
        QCOMPARE(roll.velocityArea(), QRect(48, 640 - 152, 960 - 48, 128));

        // An Alt click at beat 1 makes a quarter-beat note at velocity 127.
        const QPoint press = at(roll, 1.02, 110);
        mouse(roll, QEvent::MouseButtonPress, press, Qt::AltModifier);
        mouse(roll, QEvent::MouseButtonRelease, press, Qt::AltModifier);
        QCOMPARE(clip.notes.size(), size_t(1));
        QCOMPARE(clip.notes[0].pitch, 110);
        QCOMPARE(clip.notes[0].start, 0.5);
        QCOMPARE(clip.notes[0].duration, 0.125);
        QCOMPARE(clip.notes[0].velocity, 127);
        QCOMPARE(roll.selectedNoteIndices(), QSet<int>{0});

        // An Alt drag covers its snapped span, either way round.
        drag(roll, at(roll, 4.1, 112), at(roll, 2.9, 112), Qt::AltModifier);
        QCOMPARE(clip.notes.size(), size_t(2));
        QCOMPARE(clip.notes[1].start, 1.5);
        QCOMPARE(clip.notes[1].duration, 0.5);

        // Rows stop at 12: a press below them drags but adds nothing.
        for (int i = 0; i < 30; ++i)
            wheel(roll, QPoint(0, -120), Qt::ShiftModifier);
        QCOMPARE(roll.verticalZoom(), PianoRollDialog::MinZoom);
        const QPoint below(200, roll.gridArea().bottom() - 5);
        QVERIFY(roll.yToPitch(below.y()) < 12);
        drag(roll, below, below + QPoint(40, 0), Qt::AltModifier);
        QCOMPARE(clip.notes.size(), size_t(2));
    }

    void movesAndResizesStayInRange()
    {
        MidiClip clip;
        clip.notes = {note(110, 1.0, 1.0)}; // beats 2 to 4
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        MidiNote& n = clip.notes[0];

        drag(roll, at(roll, 3, 110), at(roll, 0.2, 110) + QPoint(0, -100000));
        QCOMPARE(n.start, 0.0);
        QCOMPARE(n.pitch, 119);
        drag(roll, at(roll, 1, 119), at(roll, 2.6, 119) + QPoint(0, 100000));
        QCOMPARE(n.start, 0.75); // beat 1.5, snapped
        QCOMPARE(n.pitch, 12);
        QCOMPARE(n.duration, 1.0);

        n = note(110, 1.0, 1.0);
        // Right edge: below a quarter beat nothing changes; at a quarter it does.
        mouse(roll, QEvent::MouseButtonPress, at(roll, 4, 110));
        QCOMPARE(roll.dragState(), int(PianoRollDialog::ResizingNote));
        mouse(roll, QEvent::MouseMove, at(roll, 2.1, 110));
        QCOMPARE(n.duration, 1.0);
        mouse(roll, QEvent::MouseMove, at(roll, 2.25, 110));
        QCOMPARE(n.duration, 0.125);
        mouse(roll, QEvent::MouseButtonRelease, at(roll, 2.25, 110));
        // Left edge: the end stays put.
        n = note(110, 1.0, 1.0);
        mouse(roll, QEvent::MouseButtonPress, at(roll, 2, 110));
        mouse(roll, QEvent::MouseMove, at(roll, 3.9, 110));
        QCOMPARE(n.start, 1.0);
        mouse(roll, QEvent::MouseMove, at(roll, 1, 110));
        QCOMPARE(n.start, 0.5);
        QCOMPARE(n.duration, 1.5);
        mouse(roll, QEvent::MouseButtonRelease, at(roll, 1, 110));
        QCOMPARE(roll.dragState(), int(PianoRollDialog::NoDrag));
    }

    void selectionDeleteDuplicateAndKeys()
    {
        MidiClip clip;
        clip.notes = {note(110, 0.0, 0.5), note(112, 1.0, 0.5), note(114, 2.0, 0.25), note(104, 0.5, 0.5)};
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        scrollToTop(roll);

        // The band holds the row tops of 114 to 110 over beats 0.5 to 4.2:
        // notes 0 (by its end), 1 and 2.
        drag(roll, QPoint(roll.beatToX(0.5), roll.pitchToY(114) - 2), QPoint(roll.beatToX(4.2), roll.pitchToY(110) + 3));
        QCOMPARE(roll.selectedNoteIndices(), (QSet<int>{0, 1, 2}));

        QTest::keyClick(&roll, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(clip.notes.size(), size_t(7));
        QCOMPARE(clip.notes[4].start, 0.5);
        QCOMPARE(clip.notes[5].start, 1.5);
        QCOMPARE(clip.notes[6].start, 2.25);
        QCOMPARE(clip.notes[6].pitch, 114);
        QCOMPARE(roll.selectedNoteIndices(), (QSet<int>{4, 5, 6}));

        QTest::keyClick(&roll, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(clip.notes[6].pitch, 126);
        QTest::keyClick(&roll, Qt::Key_Up, Qt::ControlModifier); // at most 127
        QCOMPARE(clip.notes[6].pitch, 127);
        QTest::keyClick(&roll, Qt::Key_Down);
        QCOMPARE(clip.notes[6].pitch, 126);
        QTest::keyClick(&roll, Qt::Key_Delete);
        QCOMPARE(clip.notes.size(), size_t(4));
        QVERIFY(roll.selectedNoteIndices().isEmpty());
        QTest::keyClick(&roll, Qt::Key_Backspace); // nothing selected: nothing goes
        QCOMPARE(clip.notes.size(), size_t(4));

        QTest::keyClick(&roll, Qt::Key_H);
        QCOMPARE(roll.horizontalZoom(), 1.25);
        QTest::keyClick(&roll, Qt::Key_G);
        QCOMPARE(roll.horizontalZoom(), 1.0);
        wheel(roll, QPoint(0, 120), Qt::ControlModifier);
        QCOMPARE(roll.horizontalZoom(), 1.1);
        // The clip (4 s, 8 beats) is narrower than the view: no horizontal scroll.
        wheel(roll, QPoint(-240, 0));
        QCOMPARE(roll.scrollBeatPosition(), 0.0);
        wheel(roll, QPoint(0, -120));
        QCOMPARE(roll.verticalScroll(), 40);
    }

    void velocityPanel()
    {
        MidiClip clip;
        clip.notes = {note(110, 0.0, 1.0), note(112, 0.5, 0.5)};
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        const int top = roll.velocityArea().top();
        // Beat 1.5 is under both: the later note takes the press.
        mouse(roll, QEvent::MouseButtonPress, QPoint(roll.beatToX(1.5), top + 64));
        QCOMPARE(clip.notes[1].velocity, 63);
        QCOMPARE(roll.selectedNoteIndices(), QSet<int>{1});
        mouse(roll, QEvent::MouseMove, QPoint(roll.beatToX(1.5), top - 50));
        QCOMPARE(clip.notes[1].velocity, 127);
        mouse(roll, QEvent::MouseMove, QPoint(roll.beatToX(1.5), top + 500));
        QCOMPARE(clip.notes[1].velocity, 1);
        mouse(roll, QEvent::MouseButtonRelease, QPoint(roll.beatToX(1.5), top + 500));
        QCOMPARE(clip.notes[0].velocity, 100);
    }

    void deleteDuringADrag()
    {
        // Each drag keeps its note index from the press; Delete erases the
        // note meanwhile. The drag must neither reach past the list
        // (sanitizers) nor go on with the note that took the erased index.
        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        scrollToTop(roll);
        const QPoint body = at(roll, 3, 110), edge = at(roll, 4, 110);
        const QPoint bar(roll.beatToX(3), roll.velocityArea().top() + 10);
        for (const QPoint& press : {body, edge, bar}) {
            for (bool alone : {true, false}) {
                clip.notes = {note(110, 1.0, 1.0)};
                if (!alone)
                    clip.notes.push_back(note(100, 3.0, 0.5, 90));
                mouse(roll, QEvent::MouseButtonPress, press);
                QTest::keyClick(&roll, Qt::Key_Delete);
                mouse(roll, QEvent::MouseMove, press + QPoint(30, -30));
                mouse(roll, QEvent::MouseButtonRelease, press + QPoint(30, -30));
                if (alone) {
                    QVERIFY(clip.notes.empty());
                } else {
                    QCOMPARE(clip.notes.size(), size_t(1));
                    const MidiNote& left = clip.notes[0];
                    QVERIFY(left.pitch == 100 && left.start == 3.0 && left.duration == 0.5 && left.velocity == 90);
                }
            }
        }
        // Without a clip every gesture and key does nothing.
        roll.detachClip();
        drag(roll, body, body + QPoint(20, 0), Qt::AltModifier);
        QTest::keyClick(&roll, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!roll.grab().isNull());
    }

    void keyColumnAuditions()
    {
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(QStringLiteral(":/piano")));
        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::red, nullptr, &piano);
        scrollToTop(roll);
        QVERIFY(silent(piano));
        const QPoint a4(20, roll.pitchToY(105) + 5);
        mouse(roll, QEvent::MouseButtonPress, a4);
        QVERIFY(!silent(piano));
        // Released over another key: the pressed one stops all the same.
        mouse(roll, QEvent::MouseMove, a4 + QPoint(0, 5 * roll.rowHeight()));
        mouse(roll, QEvent::MouseButtonRelease, a4 + QPoint(0, 5 * roll.rowHeight()));
        QVERIFY(silent(piano));

        // A new note sounds for its own length, then stops.
        mouse(roll, QEvent::MouseButtonPress, at(roll, 1, 105), Qt::AltModifier);
        mouse(roll, QEvent::MouseButtonRelease, at(roll, 1, 105), Qt::AltModifier);
        QVERIFY(!silent(piano));
        QTRY_VERIFY_WITH_TIMEOUT(silent(piano), 3000);
    }

    // The roll opens on the clip's notes (middle C when it has none), and
    // no gesture makes a note start before the clip does.
    void opensOnTheNotesAndStartsStayAtZero()
    {
        auto opensOn = [](double duration, std::vector<MidiNote> notes, const std::vector<MidiNote>& shown) {
            MidiClip opened;
            opened.duration = duration;
            opened.notes = std::move(notes);
            PianoRollDialog roll(&opened, Qt::red, nullptr, nullptr);
            const QRect grid = roll.gridArea();
            return std::all_of(shown.begin(), shown.end(), [&](const MidiNote& n) {
                const QPoint topLeft(roll.beatToX(n.start * 2), roll.pitchToY(n.pitch));
                return grid.contains(topLeft) && grid.contains(topLeft + QPoint(1, roll.rowHeight() - 1));
            });
        };
        QVERIFY(opensOn(8.0, {}, {note(60, 0.0, 0.5)}));
        const std::vector<MidiNote> low = {note(40, 21.0, 0.5), note(47, 20.0, 1.0), note(44, 22.0, 0.5)};
        QVERIFY(opensOn(60.0, low, low));
        // More rows than the grid holds: the highest note at least.
        QVERIFY(opensOn(4.0, {note(20, 0.0, 0.5), note(100, 0.5, 0.5)}, {note(100, 0.5, 0.5)}));

        // A new note dragged from beat 1 to left of the grid; a left edge dragged there.
        MidiClip clip;
        clip.duration = 8.0;
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        drag(roll, at(roll, 1, 62), QPoint(5, at(roll, 1, 62).y()), Qt::AltModifier);
        QCOMPARE(clip.notes.size(), size_t(1));
        QCOMPARE(clip.notes[0].start, 0.0);
        QCOMPARE(clip.notes[0].duration, 0.5);
        clip.notes = {note(62, 1.0, 1.0)};
        drag(roll, at(roll, 2, 62), QPoint(5, at(roll, 2, 62).y()));
        QCOMPARE(clip.notes[0].start, 0.0);
        QCOMPARE(clip.notes[0].duration, 2.0);
    }

    // Auditions sound the clip's track instrument: its SoundFont channel and preset.
    void auditionsUseTheTracksInstrument()
    {
        const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
        if (!QFile::exists(font))
            QSKIP("needs timgm6mb-soundfont");
        SF2Sampler sf2, twin;
        QVERIFY(sf2.loadSoundFont(font) && twin.loadSoundFont(font));
        sf2.selectPreset(0, 0); // another track's channel, a piano
        MidiClip clip;
        PianoRollDialog roll(&clip, Qt::red, &sf2, nullptr);
        roll.setTrackInstrument(3, 40);
        const QPoint key(20, roll.pitchToY(64) + roll.rowHeight() / 2);
        mouse(roll, QEvent::MouseButtonPress, key);
        QCOMPARE(sf2.currentPresetIndex(3), 40);
        twin.selectPreset(3, 40);
        twin.noteOn(3, 64, 100);
        std::vector<short> heard(2 * 8192), expected(2 * 8192);
        sf2.renderLive(heard.data(), 8192);
        twin.renderLive(expected.data(), 8192);
        QVERIFY(std::any_of(expected.begin(), expected.end(), [](short v) { return v != 0; }));
        QVERIFY(heard == expected);
        mouse(roll, QEvent::MouseButtonRelease, key);

        // A SoundFont that loads while a new note sounds on the piano: the
        // note still ends on the piano, which got it.
        SF2Sampler later;
        PianoSampler piano;
        QVERIFY(piano.loadSampleLibraryFromResources(QStringLiteral(":/piano")));
        MidiClip pianoClip;
        pianoClip.duration = 8.0;
        PianoRollDialog pianoRoll(&pianoClip, Qt::red, &later, &piano);
        mouse(pianoRoll, QEvent::MouseButtonPress, at(pianoRoll, 1, 62), Qt::AltModifier);
        mouse(pianoRoll, QEvent::MouseButtonRelease, at(pianoRoll, 1, 62), Qt::AltModifier);
        QCOMPARE(pianoClip.notes.size(), size_t(1));
        QVERIFY(later.loadSoundFont(font));
        QTest::qWait(int(pianoClip.notes[0].duration * 1000) + 200);
        QVERIFY(silent(piano));
    }

    void screenshot()
    {
        StartUp::applyStyleSheet(*qApp);
        MidiClip clip;
        clip.start = 2.0;
        clip.duration = 16.0;
        const int melody[] = {60, 64, 67, 72, 71, 67, 64, 62, 60, 65, 69, 72, 74, 72, 69, 65};
        for (int i = 0; i < 16; ++i)
            clip.notes.push_back(note(melody[i], i * 0.5, i % 4 == 3 ? 1.0 : 0.5, 60 + (i * 23) % 67));
        PianoRollDialog roll(&clip, Qt::red, nullptr, nullptr);
        roll.show();
        QVERIFY(QTest::qWaitForWindowExposed(&roll));
        mouse(roll, QEvent::MouseButtonPress, at(roll, 5.5, 67));
        mouse(roll, QEvent::MouseButtonRelease, at(roll, 5.5, 67));
        // The playhead is drawn from the clip's start: timeline 2 s + 3 s is beat 6.
        roll.setPlayheadPosition(5.0);
        const QImage image = roll.grab().toImage();
        QCOMPARE(image.pixelColor(roll.beatToX(6), 300), QColor(255, 60, 60));
        QVERIFY(TestSupport::saveScreenshot(QPixmap::fromImage(image), QStringLiteral("piano-roll.png")));
    }
};

QTEST_MAIN(PianoRollDialogTest)
#include "tst_PianoRollDialog.moc"
