#pragma once
// Where the sound of an imported audio or video file goes: a new audio track
// of the multitrack page when that page shows, otherwise the single-track
// page's material, which it replaces together with that page's undo history
// (a take running there ends first, with the material it was recorded into).

#include <QList>
#include <QString>

class AudioEditorPage;
class MultiTrackEditorPage;

namespace ImportedAudioPlacement {

// `stereo` is interleaved and empty for a mono source; `name` names the new
// track. Empty when placed; otherwise what the user is told, with nothing
// changed: material the multitrack page would bring to its rate in more
// memory than the machine has available.
QString place(AudioEditorPage* audioEditor, MultiTrackEditorPage* multiTrack, bool multiTrackShowing,
              const QList<float>& mono, const QList<float>& stereo, int sampleRate, const QString& name);

} // namespace ImportedAudioPlacement
