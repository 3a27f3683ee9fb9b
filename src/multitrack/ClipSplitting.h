#pragma once
// Splitting one clip in two at a timeline time: the rules the scissors tool
// and the page's split command share. Pure functions over the records.

#include "project/ProjectTypes.h"

namespace ClipSplitting {

// Splits an audio clip at timeline time `at`, strictly inside its visible
// span and at least one sample after its head. `first` keeps the head, the
// fade-in and the original trims at the head; `second` starts at `at`,
// shares the same sample lists (no copy) and keeps the tail trim and the
// fade-out, which the first part loses. False, with both untouched, when
// `at` is not inside the clip.
bool splitAudioClip(const AudioClip& clip, double at, AudioClip& first, AudioClip& second);

// Splits a MIDI clip at timeline time `at`, strictly inside it. Notes from
// the split on move to `second`, relative to its start; a note sounding
// across the split stays whole in `first` (and is not sounded again from
// `second`). False when `at` is not inside the clip.
bool splitMidiClip(const MidiClip& clip, double at, MidiClip& first, MidiClip& second);

} // namespace ClipSplitting
