#pragma once
// Writes through to an open file and keeps what was written from piling up
// in the page cache: every few MB the written stretch is sent to the disk,
// and the stretch before it, once on the disk, is dropped from memory. A
// project of gigabytes written at memory speed would otherwise evict the
// program's own code from the cache; the window then waits for those pages
// to be read back behind the project's writes.
//
// Waiting for a stretch takes the disk's write-back error off the file: a
// later sync (the one before the commit) no longer sees it. So every wait
// is checked here, and finish() waits for the rest; after a failure every
// write fails.

#include <QIODevice>

#include <sys/types.h>

class QFileDevice;

class PageCacheSparingWriter : public QIODevice {
public:
    // The call that sends a stretch of the file to the disk (sync_file_range);
    // a test puts a failing disk in its place.
    using RangeSync = int (*)(int fd, off64_t offset, off64_t bytes, unsigned int flags);

    // `file` must be open for writing and outlive this device, which is open
    // for writing once made.
    explicit PageCacheSparingWriter(QFileDevice& file, RangeSync rangeSync = nullptr);

    // Sends what is left to the disk and waits for all of it; false when
    // the file or the disk failed any of it.
    bool finish();
    // The errno of the failure that stopped the writing, or 0.
    int failureErrno() const { return failure; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool spareWritten();
    bool flushFile();
    bool syncRange(int fd, qint64 from, qint64 bytes, unsigned int flags);
    void fail(int error);

    QFileDevice& file;
    RangeSync rangeSync;
    int failure = 0;
    bool failed = false;
    qint64 written = 0;
    qint64 sent = 0; // sent to the disk up to here
    qint64 dropped = 0; // on the disk and out of the cache up to here
};
