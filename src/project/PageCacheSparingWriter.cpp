#include "PageCacheSparingWriter.h"

#include <QFileDevice>

#include <fcntl.h>

namespace {
// Large enough that the disk writes in big runs, small against memory.
constexpr qint64 kStretchBytes = 32 * 1024 * 1024;
} // namespace

PageCacheSparingWriter::PageCacheSparingWriter(QFileDevice& file)
    : file(file)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 PageCacheSparingWriter::readData(char*, qint64)
{
    return -1;
}

qint64 PageCacheSparingWriter::writeData(const char* data, qint64 size)
{
    const qint64 count = file.write(data, size);
    if (count < 0) {
        setErrorString(file.errorString());
        return -1;
    }
    written += count;
    if (written - sent >= kStretchBytes)
        spareWritten();
    return count;
}

void PageCacheSparingWriter::spareWritten()
{
    const int fd = file.handle();
    if (fd < 0 || !file.flush())
        return;
    // Only hints: a file system that refuses them keeps the cache as before.
    if (sent > dropped) {
        sync_file_range(fd, dropped, sent - dropped,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(fd, dropped, sent - dropped, POSIX_FADV_DONTNEED);
        dropped = sent;
    }
    sync_file_range(fd, sent, written - sent, SYNC_FILE_RANGE_WRITE);
    sent = written;
}
