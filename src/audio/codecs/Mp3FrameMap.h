#pragma once
// Where the MPEG audio frames of a file lie. Frames follow one another, each
// header stating the frame's size; damage is anything between frames that
// is not a frame or a tag. The map finds the runs of frames around such
// damage and estimates how many frames it destroyed, from the mean size of
// the frames beside it (exact for constant bit rates), and how many it can
// have destroyed, from the smallest frame its stream can have. The only
// length a stream states is the frame count of a Xing/Info tag in its first
// frame, beside the byte count and table of contents that tag may hold.

#include <QByteArray>

#include <vector>

struct Mp3FrameMap {
    struct Run {
        qint64 begin = 0;
        qint64 end = 0;
        qint64 framesLostBefore = 0; // estimated, between the previous run and this one
        qint64 framesLostAtMost = 0; // what the bytes between them can have held
        qint64 lastFrame = 0;        // where the run's last frame begins
        // After damage: where the first frame begins whose sound a decoder
        // gives as it would in the undamaged file. The frames before it take
        // bytes from before the damage (the bit reservoir) or carry the lost
        // frames' overlap; before damage, the run's last frame may itself
        // hold damaged bytes.
        qint64 trustedFrom = 0;
        bool afterDamage = false;
        qint64 damagedFrom = 0; // after damage: where it begins
        int nearBytes = 0;      // after damage: mean size of the frames beside it
        // After damage: the damage is the stub that bytes cut out of the
        // stream leave, so it may stand for more frames than it can hold.
        bool cutOut = false;
    };
    std::vector<Run> runs;  // empty when no run of frames was recognised
    // Bytes that are neither frames nor tags lie between frames, or the
    // stream holds more frames than its Xing/Info tag states.
    bool damaged = false;
    int samplesPerFrame = 0;
    qint64 frames = 0;          // of sound in the runs (a Xing/Info frame holds none)
    qint64 statedFrames = 0;    // of sound, as the first frame's Xing/Info tag states; 0: no tag
    qint64 statedFramesAt = -1; // where that count lies: 32 bits, most significant first
    // What the bytes the tag counts beyond the frames found (those of the
    // frames lost, however few of them are left) can have held, none smaller
    // than the smallest frame found; -1 when the tag states no byte count.
    qint64 statedLossAtMost = -1;
    // The same at the mean size of the frames beside where bytes were cut
    // out (else of all frames found).
    qint64 statedLossEstimate = -1;
    // The frames before any damage make up the share of the stated count
    // that the tag's table of contents gives their bytes (or that cannot be
    // told): a count raised or from another stream does not.
    bool countFitsTable = true;
    // Where streams joined on after the first begin: a later frame with a
    // Xing/Info tag of its own (files joined end to end).
    std::vector<qint64> joinedAt;
    bool laterStreamLeft = false; // one at another rate or channel count follows the frames
    int laterSampleRate = 0;    // ... and its layout
    int laterChannels = 0;
    bool endsInFrame = false;   // the bytes end inside a frame (a file cut short)
    // The frames are followed by zeros to the end, more than any frame
    // holds: space a download or copy reserved and never filled.
    bool endsInZeros = false;

    static Mp3FrameMap of(const QByteArray& bytes);
};
