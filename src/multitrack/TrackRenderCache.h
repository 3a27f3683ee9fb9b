#pragma once
// What a cached track render was made from. Playback renders every track
// into one buffer; pressing play again with nothing changed reuses the
// buffers whose source is unchanged, so every edit (from the lanes, the
// undo commands, the mixer or the piano roll) is seen without anyone having
// to report it.
//
// Audio material is compared by identity: the source keeps a shallow copy
// of each clip's sample list, so a list changed in place detaches (new
// address) and a replaced list cannot hand its address to another while the
// copy lives.

#include "project/ProjectTypes.h"

#include <QString>
#include <vector>

class TrackRenderSource {
public:
    // An audio track flattened at sampleRate.
    static TrackRenderSource forAudio(const TrackData& track, int sampleRate);
    // A MIDI track (already tempo-scaled) rendered by `instrument` (a text
    // that names the instrument and its state) at sampleRate.
    static TrackRenderSource forMidi(const TrackData& scaledTrack, int sampleRate,
                                     const QString& instrument);

    // Whether the render has the track's volume envelope in it (and so is
    // played at unity gain instead of the track's volume).
    bool appliesEnvelope() const { return envelopeEnabled && !envelope.empty(); }

    bool operator==(const TrackRenderSource& other) const;
    bool operator!=(const TrackRenderSource& other) const { return !(*this == other); }

private:
    int kind = -1; // -1: nothing rendered
    int sampleRate = 0;
    bool envelopeEnabled = false;
    std::vector<EnvelopePoint> envelope;
    std::vector<AudioClip> audioClips;
    std::vector<MidiClip> midiClips;
    int instrumentIndex = 0;
    int midiChannel = 0;
    QString instrument;
};
