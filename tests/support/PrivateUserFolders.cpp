#include "PrivateUserFolders.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Where libjack keeps a user's metadata database: a server makes it at its
// start and removes it at its end, a client without one makes it and leaves it.
QString jackMetadataPath()
{
    return QStringLiteral("/dev/shm/jack_db-%1").arg(::getuid());
}

// Whether another live process maps a file of `folder` (a JACK server always
// does): by device and inode as the maps list them, as a process of another
// mount namespace, or one holding an older file of that path, maps the path
// without this file. This program's own library may hold it still, with no
// server to share it.
bool folderInUse(const QString& folder)
{
    QSet<QByteArray> files; // "device inode"
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files)) {
        struct stat status {};
        if (::stat(QFile::encodeName(entry.filePath()).constData(), &status) == 0)
            files.insert(QString::asprintf("%02x:%02x %llu", major(status.st_dev), minor(status.st_dev),
                                           static_cast<unsigned long long>(status.st_ino))
                             .toLatin1());
    }
    if (files.isEmpty())
        return false;
    const QString self = QString::number(::getpid());
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& process : processes) {
        if (process.isEmpty() || !process.at(0).isDigit() || process == self)
            continue;
        QFile maps(QStringLiteral("/proc/%1/maps").arg(process));
        if (!maps.open(QIODevice::ReadOnly))
            continue;
        // "address perms offset device inode path"
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 5 && files.contains(fields[3] + ' ' + fields[4]))
                return true;
        }
    }
    return false;
}

} // namespace

// A program run alone checks as tests/run-tests.sh does (whose settings win):
// no leak check (the GL driver under Xvfb keeps memory), a stop at undefined behaviour.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0:abort_on_error=1";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

PrivateUserFolders::PrivateUserFolders(const char* program)
{
    const QString name = QFileInfo(QString::fromLocal8Bit(program)).fileName();
    root = std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1Char('/')
                                           + (name.isEmpty() ? QStringLiteral("cdw") : name)
                                           + QStringLiteral("-XXXXXX"));
    if (!root->isValid()) {
        qWarning() << "PrivateUserFolders: cannot create a folder in" << QDir::tempPath();
        root.reset();
        return;
    }
    const QString home = root->filePath(QStringLiteral("home"));
    const auto point = [](const char* variable, const QString& path) {
        QDir().mkpath(path);
        qputenv(variable, QFile::encodeName(path));
    };
    point("HOME", home);
    point("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    point("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    point("XDG_STATE_HOME", home + QStringLiteral("/.local/state"));
    point("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    point("TMPDIR", root->filePath(QStringLiteral("tmp")));
    if (!QFileInfo::exists(jackMetadataPath()))
        jackMetadataFolder = jackMetadataPath();
    // A session's runtime folder stays (its sound server lives there);
    // without one, Qt and PulseAudio would make theirs in /tmp.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = root->filePath(QStringLiteral("runtime"));
        QDir().mkdir(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
}

PrivateUserFolders::~PrivateUserFolders()
{
    remove();
}

bool PrivateUserFolders::isValid() const
{
    return root != nullptr;
}

void PrivateUserFolders::remove()
{
    root.reset();
    // Only one that came up meanwhile, and that no server has taken on.
    if (!jackMetadataFolder.isEmpty() && QFileInfo::exists(jackMetadataFolder)
        && !folderInUse(jackMetadataFolder))
        QDir(jackMetadataFolder).removeRecursively();
    jackMetadataFolder.clear();
}
