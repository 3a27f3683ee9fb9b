#include "PageCacheSparingWriter.h"

#include "common/SaveFileCommit.h"

#include <QFileDevice>

#include <cerrno>
#include <fcntl.h>

namespace {
// Large enough that the disk writes in big runs, small against memory.
constexpr qint64 kStretchBytes = 32 * 1024 * 1024;
constexpr unsigned int kSendAndWait =
    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
} // namespace

PageCacheSparingWriter::PageCacheSparingWriter(QFileDevice& file, RangeSync rangeSync)
    : file(file)
    , rangeSync(rangeSync ? rangeSync : &::sync_file_range)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 PageCacheSparingWriter::readData(char*, qint64)
{
    return -1;
}

qint64 PageCacheSparingWriter::writeData(const char* data, qint64 size)
{
    if (failed)
        return -1;
    errno = 0;
    const qint64 count = file.write(data, size);
    // A file writes all it is given or stops at an error (a full disk
    // writes the part that fits first).
    if (count != size) {
        fail(errno);
        return -1;
    }
    written += count;
    if (written - sent >= kStretchBytes && !spareWritten())
        return -1;
    return count;
}

bool PageCacheSparingWriter::finish()
{
    if (failed || !flushFile())
        return false;
    const int fd = file.handle();
    return fd < 0 || written == dropped || syncRange(fd, dropped, written - dropped, kSendAndWait);
}

bool PageCacheSparingWriter::spareWritten()
{
    const int fd = file.handle();
    if (fd < 0)
        return true;
    if (!flushFile())
        return false;
    if (sent > dropped) {
        if (!syncRange(fd, dropped, sent - dropped, kSendAndWait))
            return false;
        // Only a hint: a file system that ignores it keeps the cache as before.
        posix_fadvise(fd, dropped, sent - dropped, POSIX_FADV_DONTNEED);
        dropped = sent;
    }
    if (!syncRange(fd, sent, written - sent, SYNC_FILE_RANGE_WRITE))
        return false;
    sent = written;
    return true;
}

bool PageCacheSparingWriter::flushFile()
{
    errno = 0;
    if (file.flush())
        return true;
    fail(errno);
    return false;
}

bool PageCacheSparingWriter::syncRange(int fd, qint64 from, qint64 bytes, unsigned int flags)
{
    if (rangeSync(fd, from, bytes, flags) == 0)
        return true;
    const int error = errno;
    // A file that cannot take the call only keeps its pages cached; any
    // other failure is the disk's.
    if (SaveFileCommit::syncUnsupported(error))
        return true;
    fail(error);
    return false;
}

void PageCacheSparingWriter::fail(int error)
{
    failed = true;
    failure = error;
    // A short write leaves the file's own text unset.
    setErrorString(error ? qt_error_string(error) : file.errorString());
}
