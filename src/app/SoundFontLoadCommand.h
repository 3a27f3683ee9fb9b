#pragma once
// Loads a SoundFont chosen by the user for the MIDI tracks. The file is tried
// on its own first: a file that does not load never reaches the instrument,
// so the SoundFont loaded before stays (and no broken copy is kept).

#include "app/CommandFeedback.h"

#include <QObject>

#include <functional>


class SoundFontLoadCommand : public QObject {
    Q_OBJECT
public:
    // `load` installs a file that is known to load (the multitrack page copies
    // it into its SoundFont folder and loads it); its result is reported,
    // and its note, when it sets one: why the font is loaded for this run only.
    using Install = std::function<bool(const QString& path, QString& note)>;
    SoundFontLoadCommand(CommandFeedback feedback, Install load, QObject* parent);

    // True when the SoundFont was loaded; failures have been shown.
    bool load(const QString& path);

private:
    CommandFeedback feedback;
    Install install;
};
