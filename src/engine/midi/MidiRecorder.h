#pragma once
// Turns the note events of a MIDI take into finished notes timed from the
// start of the recording. It has no clock of its own: every time comes from
// the caller, in seconds on the page's timeline. GUI thread only.

#include "project/ProjectTypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <map>
#include <vector>

class MidiRecorder : public QObject {
    Q_OBJECT
public:
    explicit MidiRecorder(QObject* parent = nullptr);
    ~MidiRecorder() override;

    // Restarts, dropping any sounding and recorded notes.
    void startRecording(double startTime, double bpm);
    void handleNoteOn(int note, int velocity, double time);
    void handleNoteOff(int note, double time);
    // Ends the take; notes still held end at stopTime (timeline seconds).
    void stopRecording(double stopTime);
    // Ends the take now: at the latest time the caller gave plus the time
    // that has passed since on the wall clock.
    void stopRecording();
    bool isRecording() const { return recording; }
    std::vector<MidiNote> recordedNotes() const { return notes; }

signals:
    void noteCompleted(const MidiNote& note);

private:
    void noteEvent(double time);

    bool recording = false;
    double recordingStart = 0.0;
    double bpm = 120.0;
    std::map<int, double> activeStarts;
    std::map<int, int> activeVelocities;
    std::vector<MidiNote> notes;
    double lastEventTime = 0.0;
    QElapsedTimer sinceLastEvent;
};
