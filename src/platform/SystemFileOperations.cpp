#include "platform/SystemFileOperations.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

/// 0, or the errno of opening \a path with \a flags and syncing it.
int syncOpened(const QString &path, int flags)
{
    const int fd = ::open(native(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int status = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return status;
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == ENOTSUP || error == EXDEV || error == EMLINK;
}
} // namespace

int FileOperations::publish(const QString &file, const QString &target, bool keepSource)
{
    if (const int error = syncFile(file))
        return error;
    int error = link(file, target);
    bool linked = error == 0;
    if (error && linksUnsupported(error)) {
        // No hard links here (FAT and the like): a move that never replaces, keeping no work name.
        error = renameNoReplace(file, target);
    }
    if (error)
        return error;
    if (const int synced = syncFolder(QFileInfo(target).absolutePath())) {
        // Not durable: the name goes again, so the caller keeps the work file.
        if (linked)
            remove(target);
        else
            renameNoReplace(target, file);
        return synced;
    }
    if (linked && !keepSource)
        remove(file); // a work name left over is swept at the next start
    return 0;
}

int FileOperations::replace(const QString &file, const QString &target)
{
    if (const int error = syncFile(file))
        return error;
    if (const int error = renameReplacing(file, target))
        return error;
    return syncFolder(QFileInfo(target).absolutePath());
}

FileOperations &FileOperations::system()
{
    static SystemFileOperations operations;
    return operations;
}

int SystemFileOperations::syncFile(const QString &path)
{
    return syncOpened(path, O_RDONLY);
}

int SystemFileOperations::syncFolder(const QString &path)
{
    const int error = syncOpened(path, O_RDONLY | O_DIRECTORY);
    // Some file systems cannot sync a folder; their entries are as durable as they get.
    return error == EINVAL || error == ENOTSUP ? 0 : error;
}

int SystemFileOperations::link(const QString &from, const QString &to)
{
    return ::link(native(from).constData(), native(to).constData()) == 0 ? 0 : errno;
}

int SystemFileOperations::renameNoReplace(const QString &from, const QString &to)
{
    const auto source = native(from), target = native(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the flag: a hard link also refuses an existing name.
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    ::unlink(source.constData());
    return 0;
}

int SystemFileOperations::renameReplacing(const QString &from, const QString &to)
{
    return ::rename(native(from).constData(), native(to).constData()) == 0 ? 0 : errno;
}

int SystemFileOperations::remove(const QString &path)
{
    return ::unlink(native(path).constData()) == 0 ? 0 : errno;
}
