#include "library/WorkLock.h"

#include "library/UniqueFileNamer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString lockSuffix = QStringLiteral(".lock");

bool coversName(const QString &name, const QString &fileName)
{
    return fileName == name || fileName.startsWith(name + u'.') || fileName.startsWith(name + u'-');
}

/// A descriptor holding the flock of the lock file \a path; -1 when another holds it (\a error
/// 0) or it cannot be made (\a error the errno).
int lockFile(const QString &path, int &error)
{
    const auto name = QFile::encodeName(path);
    error = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? 0 : errno;
            ::close(fd);
            return -1;
        }
        // The file may have been let go and removed between the open and the lock: only a
        // lock on the file that has the name counts.
        struct stat locked {
        }, named{};
        if (::fstat(fd, &locked) == 0 && ::stat(name.constData(), &named) == 0 && locked.st_dev == named.st_dev
            && locked.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}
} // namespace

QString WorkLock::lockPath(const QString &url)
{
    return UniqueFileNamer::workFolder(UniqueFileNamer::libraryFolderOf(url)) + u'/' + QFileInfo(url).fileName()
        + lockSuffix;
}

std::optional<WorkLock> WorkLock::acquire(const QString &url, int *error)
{
    const auto path = lockPath(url);
    QDir().mkpath(QFileInfo(path).absolutePath());
    int cause = 0;
    const int fd = lockFile(path, cause);
    if (error)
        *error = cause;
    if (fd < 0)
        return std::nullopt;
    return WorkLock(path, fd);
}

bool WorkLock::isHeld(const QString &url)
{
    const auto path = lockPath(url);
    if (!QFileInfo::exists(path))
        return false;
    // A lock whose owner died is free: taking it (and letting it go) removes its file.
    int error = 0;
    const int fd = lockFile(path, error);
    if (fd < 0)
        return QFileInfo::exists(path);
    WorkLock(path, fd).release();
    return false;
}

bool WorkLock::covers(const QString &lockFileName, const QString &fileName)
{
    if (!lockFileName.endsWith(lockSuffix))
        return false;
    const auto name = lockFileName.chopped(lockSuffix.size());
    const auto dot = name.lastIndexOf(u'.');
    // A take's lock also covers its other work files, such as the MP3 being encoded from it.
    return coversName(name, fileName) || (dot > 0 && coversName(name.left(dot), fileName));
}

bool WorkLock::isLockFileName(const QString &fileName)
{
    return fileName.endsWith(lockSuffix);
}

WorkLock::~WorkLock()
{
    release();
}

WorkLock::WorkLock(WorkLock &&other) noexcept
    : m_path(std::exchange(other.m_path, {})), m_descriptor(std::exchange(other.m_descriptor, -1))
{}

WorkLock &WorkLock::operator=(WorkLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::exchange(other.m_path, {});
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

void WorkLock::release() noexcept
{
    if (m_descriptor < 0)
        return;
    // Removed while still held, so nobody takes a lock on a file that is about to go.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_descriptor);
    m_descriptor = -1;
}
