#pragma once
// JACK and ALSA write what they find while the program probes for devices
// (no server to connect to, no MIDI sequencer) to standard error
// themselves; route() sends it into the diagnostics category
// (common/DiagnosticLog.h) instead. Failures that matter reach the program
// as results and are reported there.

namespace SoundLibraryMessages {

// Installs the libraries' message hooks; once per process, before the
// first library call (later calls do nothing).
void route();

} // namespace SoundLibraryMessages
