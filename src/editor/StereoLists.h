#pragma once
// Helpers for the page's two lists: the mono list and the interleaved L, R
// list that follows it (two values per mono sample, or empty).

#include <QList>

#include <functional>

namespace StereoLists {

struct Channels {
    QList<float> left;
    QList<float> right;
};

Channels split(const QList<float>& interleaved);
QList<float> interleave(const QList<float>& left, const QList<float>& right);
// (L + R) * 0.5 per frame, summed in double so that loud finite values stay finite.
QList<float> mixToMono(const QList<float>& interleaved);
// The same mix made in the list's own memory: it becomes the mono list (its
// capacity stays), so a long mix needs no second buffer.
void mixToMonoInPlace(QList<float>& interleaved);
// Both channels equal to the mono list.
QList<float> duplicate(const QList<float>& mono);

// Runs one mono process over the material: over the mono list when the
// stereo list is empty, else over each channel, rebuilding the mono list as
// their mix so that both lists stay in step. False when a run fails; the
// lists are then left as they were.
bool processMaterial(QList<float>& mono, QList<float>& stereo,
                     const std::function<bool(QList<float>&)>& process);

} // namespace StereoLists
