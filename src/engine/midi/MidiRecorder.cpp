#include "engine/midi/MidiRecorder.h"

#include <QDebug>
#include <algorithm>

MidiRecorder::MidiRecorder(QObject* parent) : QObject(parent) {}

MidiRecorder::~MidiRecorder() = default;

void MidiRecorder::startRecording(double startTime, double tempo)
{
    recordingStart = startTime;
    bpm = tempo;
    activeStarts.clear();
    activeVelocities.clear();
    notes.clear();
    noteEvent(startTime);
    recording = true;
    qDebug() << "MidiRecorder: Recording started at" << startTime << "s, BPM=" << bpm;
}

void MidiRecorder::noteEvent(double time)
{
    lastEventTime = time;
    sinceLastEvent.start();
}

void MidiRecorder::handleNoteOn(int note, int velocity, double time)
{
    if (!recording)
        return;
    noteEvent(time);
    if (activeStarts.count(note))
        handleNoteOff(note, time); // the old note ends where the new one starts
    activeStarts[note] = std::max(time - recordingStart, 0.0);
    activeVelocities[note] = velocity;
}

void MidiRecorder::handleNoteOff(int note, double time)
{
    if (!recording)
        return;
    noteEvent(time);
    const auto started = activeStarts.find(note);
    if (started == activeStarts.end())
        return;
    const double end = std::max(time - recordingStart, 0.0);
    MidiNote completed;
    completed.pitch = note;
    completed.start = started->second;
    completed.duration = std::max(end - started->second, 0.01);
    const auto velocity = activeVelocities.find(note);
    completed.velocity = velocity != activeVelocities.end() ? velocity->second : 100;
    activeStarts.erase(started);
    notes.push_back(completed);
    emit noteCompleted(completed);
    activeVelocities.erase(note);
}

void MidiRecorder::stopRecording()
{
    stopRecording(lastEventTime + (sinceLastEvent.isValid() ? sinceLastEvent.elapsed() / 1000.0 : 0.0));
}

void MidiRecorder::stopRecording(double stopTime)
{
    if (!recording)
        return;
    recording = false;
    // Held notes end at the stop, which cannot come before the events seen.
    const double end = std::max(stopTime, lastEventTime);
    for (const auto& [note, start] : activeStarts) {
        MidiNote completed;
        completed.pitch = note;
        completed.start = start;
        completed.duration = std::max(end - recordingStart - start, 0.1);
        const auto velocity = activeVelocities.find(note);
        completed.velocity = velocity != activeVelocities.end() ? velocity->second : 100;
        notes.push_back(completed);
        emit noteCompleted(completed);
    }
    activeStarts.clear();
    activeVelocities.clear();
    qDebug() << "MidiRecorder: Recording stopped, captured" << notes.size() << "notes";
}
