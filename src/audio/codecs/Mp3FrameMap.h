#pragma once
// Where the MPEG audio frames of a file lie. Frames follow one another, each
// header stating the frame's size; damage is anything between frames that
// is not a frame or a tag. The map finds the runs of frames around such
// damage and estimates how many frames it destroyed, from the mean size of
// the frames before it (exact for constant bit rates).

#include <QByteArray>

#include <vector>

struct Mp3FrameMap {
    struct Run {
        qint64 begin = 0;
        qint64 end = 0;
        qint64 framesLostBefore = 0; // estimated, between the previous run and this one
        qint64 lastFrame = 0;        // where the run's last frame begins
        // After damage: where the first frame begins whose sound a decoder
        // gives as it would in the undamaged file. The frames before it take
        // bytes from before the damage (the bit reservoir) or carry the lost
        // frames' overlap; before damage, the run's last frame may itself
        // hold damaged bytes.
        qint64 trustedFrom = 0;
        bool afterDamage = false;
    };
    std::vector<Run> runs;  // empty when no run of frames was recognised
    bool damaged = false;   // bytes that are neither frames nor tags lie between frames
    int samplesPerFrame = 0;

    static Mp3FrameMap of(const QByteArray& bytes);
};
