#pragma once
// The main window's menu actions that it later enables, disables or routes.
// Cut, Copy, Paste and the synthesiser entry are created without being kept:
// they are never enabled.

#include <QList>

class QAction;

struct ShellActions {
    // File
    QAction* newSingleProject = nullptr;
    QAction* newMultiProject = nullptr;
    QAction* openProject = nullptr;
    QAction* saveProject = nullptr;
    QAction* saveProjectAs = nullptr;
    QAction* importAudio = nullptr;
    QAction* importMidi = nullptr;
    QAction* exportWav = nullptr;
    QAction* exportMp3 = nullptr;
    QAction* exportFlac = nullptr;
    QAction* quit = nullptr;
    // Edit
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    // View
    QAction* zoomIn = nullptr;
    QAction* zoomOut = nullptr;
    QAction* mixer = nullptr;
    // Effects, in menu order
    QAction* gain = nullptr;
    QAction* centerExtraction = nullptr;
    QAction* noiseReduction = nullptr;
    QAction* reverb = nullptr;
    QAction* delay = nullptr;
    QAction* tempoDetection = nullptr;
    QAction* pitchCorrection = nullptr;
    QAction* channelConvert = nullptr;
    QAction* compressor = nullptr;
    QAction* equalizer = nullptr;
    // Tools
    QAction* loadSoundFont = nullptr;
    QAction* importVst3 = nullptr;
    QAction* midiDevices = nullptr;
    // Help
    QAction* checkUpdates = nullptr;
    QAction* about = nullptr;
    QAction* preferences = nullptr;

    // The actions a project enables and closing it disables again.
    QList<QAction*> projectActions() const
    {
        return {saveProject,      saveProjectAs,   importAudio, importMidi,      exportWav,
                exportMp3,        exportFlac,      gain,        centerExtraction, noiseReduction,
                reverb,           delay,           tempoDetection, pitchCorrection, channelConvert,
                compressor,       equalizer,       undo,        redo,            importVst3,
                mixer};
    }
};
