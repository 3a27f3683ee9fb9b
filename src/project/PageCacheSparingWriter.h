#pragma once
// Writes through to an open file and keeps what was written from piling up
// in the page cache: every few MB the written stretch is sent to the disk,
// and the stretch before it, once on the disk, is dropped from memory. A
// project of gigabytes written at memory speed would otherwise evict the
// program's own code from the cache; the window then waits for those pages
// to be read back behind the project's writes.

#include <QIODevice>

class QFileDevice;

class PageCacheSparingWriter : public QIODevice {
public:
    // `file` must be open for writing and outlive this device, which is open
    // for writing once made.
    explicit PageCacheSparingWriter(QFileDevice& file);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void spareWritten();

    QFileDevice& file;
    qint64 written = 0;
    qint64 sent = 0; // sent to the disk up to here
    qint64 dropped = 0; // on the disk and out of the cache up to here
};
