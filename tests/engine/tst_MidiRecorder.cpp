#include "engine/midi/MidiRecorder.h"

#include <QtTest/QtTest>

namespace {

std::vector<MidiNote> collect(MidiRecorder& recorder, const std::function<void()>& take)
{
    std::vector<MidiNote> emitted;
    const auto connection = QObject::connect(&recorder, &MidiRecorder::noteCompleted,
                                             [&](const MidiNote& n) { emitted.push_back(n); });
    take();
    QObject::disconnect(connection);
    return emitted;
}

} // namespace

class MidiRecorderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void noteEmittedAtItsNoteOff()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        std::vector<MidiNote> emitted = collect(recorder, [&] { recorder.handleNoteOn(60, 90, 10.5); });
        QVERIFY(emitted.empty());
        emitted = collect(recorder, [&] { recorder.handleNoteOff(60, 11.25); });
        QCOMPARE(emitted.size(), size_t(1));
        QCOMPARE(emitted[0].pitch, 60);
        QCOMPARE(emitted[0].start, 0.5);
        QCOMPARE(emitted[0].duration, 0.75);
        QCOMPARE(emitted[0].velocity, 90);
        QCOMPARE(recorder.recordedNotes().size(), size_t(1));
    }

    void repeatedNoteOnEndsThePreviousNote()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        recorder.handleNoteOn(60, 80, 10.5);
        recorder.handleNoteOn(60, 70, 11.0);
        recorder.handleNoteOff(60, 11.5);
        const std::vector<MidiNote> notes = recorder.recordedNotes();
        QCOMPARE(notes.size(), size_t(2));
        QCOMPARE(notes[0].start, 0.5);
        QCOMPARE(notes[0].duration, 0.5);
        QCOMPARE(notes[0].velocity, 80);
        QCOMPARE(notes[1].start, 1.0);
        QCOMPARE(notes[1].velocity, 70);
    }

    void timesClampAndDurationsHaveAFloor()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        recorder.handleNoteOn(62, 100, 9.0); // before the start: starts at 0
        recorder.handleNoteOff(62, 9.5);     // ends before it starts: 0.01
        recorder.handleNoteOn(64, 100, 10.2);
        recorder.handleNoteOff(64, 10.204);
        recorder.handleNoteOff(65, 10.3);   // never started: ignored
        const std::vector<MidiNote> notes = recorder.recordedNotes();
        QCOMPARE(notes.size(), size_t(2));
        QCOMPARE(notes[0].start, 0.0);
        QCOMPARE(notes[0].duration, 0.01);
        QCOMPARE(notes[1].duration, 0.01);
    }

    void heldNotesEndAtTheStopTime()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        recorder.handleNoteOn(67, 50, 11.0);
        recorder.handleNoteOn(64, 60, 12.0); // the last event
        const std::vector<MidiNote> emitted = collect(recorder, [&] { recorder.stopRecording(13.5); });
        QCOMPARE(emitted.size(), size_t(2));
        QCOMPARE(emitted[0].pitch, 64); // ascending pitch order
        QCOMPARE(emitted[0].start, 2.0);
        QCOMPARE(emitted[0].duration, 1.5);
        QCOMPARE(emitted[1].pitch, 67);
        QCOMPARE(emitted[1].duration, 2.5);
        QVERIFY(!recorder.isRecording());
        recorder.handleNoteOn(60, 100, 14.0); // after the stop: ignored
        QCOMPARE(recorder.recordedNotes().size(), size_t(2));
    }

    void stopRightAfterANoteOnGivesTheMinimum()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        recorder.handleNoteOn(64, 60, 12.0);
        const std::vector<MidiNote> emitted = collect(recorder, [&] { recorder.stopRecording(12.0); });
        QCOMPARE(emitted.size(), size_t(1));
        QCOMPARE(emitted[0].start, 2.0);
        QCOMPARE(emitted[0].duration, 0.1);
    }

    void stopWithoutTimeUsesTheWallClockSinceTheLastEvent()
    {
        MidiRecorder recorder;
        recorder.startRecording(10.0, 120.0);
        recorder.handleNoteOn(64, 60, 12.0);
        QTest::qSleep(300);
        recorder.stopRecording();
        const std::vector<MidiNote> notes = recorder.recordedNotes();
        QCOMPARE(notes.size(), size_t(1));
        QVERIFY2(notes[0].duration >= 0.29 && notes[0].duration < 5.0, qPrintable(QString::number(notes[0].duration)));
    }

    void emptyTakeCapturesNothing()
    {
        MidiRecorder recorder;
        recorder.startRecording(3.0, 100.0);
        QTest::ignoreMessage(QtDebugMsg, "MidiRecorder: Recording stopped, captured 0 notes");
        QLoggingCategory::setFilterRules(QString());
        const std::vector<MidiNote> emitted = collect(recorder, [&] { recorder.stopRecording(3.0); });
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(emitted.empty());
        // A restart drops what was sounding without completing it.
        recorder.startRecording(0.0, 120.0);
        recorder.handleNoteOn(60, 100, 1.0);
        recorder.startRecording(5.0, 120.0);
        QVERIFY(collect(recorder, [&] { recorder.stopRecording(6.0); }).empty());
    }
};

QTEST_GUILESS_MAIN(MidiRecorderTest)
#include "tst_MidiRecorder.moc"
