#pragma once
// The end of every write that replaces a file through a QSaveFile. Its own
// commit() checks neither its last flush nor the answer of its sync to the
// disk, so a file cut short by a full disk, or whose data the disk failed
// to write back (a failing or pulled stick, a network or quota file
// system), would replace the old file and count as written. Here the data
// is flushed and on the disk, both checked, before the rename.

class QSaveFile;

namespace SaveFileCommit {

// The call that sends a file's data to the disk and waits (fdatasync).
using DataSync = int (*)(int fd);

// Flushes `file` (open for writing), syncs its data and renames it over its
// target. On a failure the writing is cancelled, so the old file stays as it
// was, and false returned; `errorNumber`, when given, gets the errno (0 when
// none is known).
bool commit(QSaveFile& file, int* errorNumber = nullptr);

// True when a sync's errno only says the file takes no sync (not a disk
// file, an old kernel), not that the disk failed.
bool syncUnsupported(int errorNumber);

// Puts `sync` in place of fdatasync for the whole process, nullptr the real
// call back: a test makes a failing disk with it.
void setDataSync(DataSync sync);

} // namespace SaveFileCommit
