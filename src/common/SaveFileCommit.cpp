#include "SaveFileCommit.h"

#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace SaveFileCommit {

namespace {

std::atomic<DataSync> dataSync{nullptr};

bool fail(QSaveFile& file, int error, int* errorNumber)
{
    file.cancelWriting();
    if (errorNumber)
        *errorNumber = error;
    return false;
}

} // namespace

bool commit(QSaveFile& file, int* errorNumber)
{
    errno = 0;
    if (!file.flush())
        return fail(file, errno, errorNumber);
    const int fd = file.handle();
    const DataSync sync = dataSync.load();
    if (fd >= 0 && (sync ? sync(fd) : ::fdatasync(fd)) != 0 && !syncUnsupported(errno))
        return fail(file, errno, errorNumber);
    errno = 0;
    if (!file.commit()) // the rename failed; the temporary is gone
        return fail(file, errno, errorNumber);
    return true;
}

bool syncUnsupported(int errorNumber)
{
    return errorNumber == EINVAL || errorNumber == EROFS || errorNumber == ESPIPE
        || errorNumber == ENOSYS;
}

void setDataSync(DataSync sync)
{
    dataSync.store(sync);
}

} // namespace SaveFileCommit
