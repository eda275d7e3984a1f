#include "library/LibraryFileMoves.h"

#include "base/AppError.h"
#include "base/IgnoreFailure.h"
#include "base/SystemErrorText.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LibraryFileMoves {
namespace {
QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

/// 0, or the errno of a rename that refuses to replace \a to.
int renameNoReplace(const QString &from, const QString &to)
{
    const auto source = QFile::encodeName(from), target = QFile::encodeName(to);
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

/// 0, or the errno of making \a to a second name of \a from (never replacing \a to).
int linkNoReplace(const QString &from, const QString &to)
{
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return 0;
    return errno;
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == ENOTSUP || error == EXDEV;
}
} // namespace

void moveWithSidecar(const QString &from, const QString &to)
{
    if (const int error = renameNoReplace(from, to))
        throw AppError(error == EEXIST
                           ? QStringLiteral("“%1” couldn’t be renamed to “%2”.").arg(fileName(from), fileName(to))
                           : QStringLiteral("“%1” couldn’t be renamed to “%2”: %3")
                                 .arg(fileName(from), fileName(to), systemErrorText(error)));
    // The audio has moved; a sidecar that stays behind only loses its tempo and source.
    ignoreFailure(lcLibrary(), [&] { MetadataStore::moveMetadata(from, to); });
}

QString publish(const QString &file, const QString &folder, const QString &base, const QString &ext, bool keepSource)
{
    bool useLinks = true;
    for (int counter = 1;; ++counter) {
        const auto name = counter == 1 ? base : base + u' ' + QString::number(counter);
        const auto target = folder + u'/' + name + u'.' + ext;
        if (!UniqueFileNamer::fitsNameLimit(target))
            throw AppError(UniqueFileNamer::nameTooLongMessage(fileName(target)));
        int error = useLinks ? linkNoReplace(file, target) : renameNoReplace(file, target);
        if (error && useLinks && linksUnsupported(error)) {
            // No hard links here (FAT and the like): a plain move that never replaces.
            useLinks = false;
            error = renameNoReplace(file, target);
        }
        if (error == EEXIST)
            continue;
        if (error)
            throw AppError(QStringLiteral("“%1” couldn’t be saved: %2").arg(fileName(target), systemErrorText(error)));
        if (useLinks && !keepSource)
            QFile::remove(file);
        return target;
    }
}

int hardLinkCount(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return int(status.st_nlink);
}

std::optional<QString> otherLink(const QString &path, const QString &folder)
{
    struct stat wanted {};
    if (::stat(QFile::encodeName(path).constData(), &wanted) != 0)
        return std::nullopt;
    const auto names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const auto &name : names) {
        const auto candidate = folder + u'/' + name;
        struct stat status {};
        if (::stat(QFile::encodeName(candidate).constData(), &status) == 0 && status.st_ino == wanted.st_ino
            && status.st_dev == wanted.st_dev && candidate != path)
            return candidate;
    }
    return std::nullopt;
}

std::optional<QString> trashWithSidecar(const QString &url, Trash &trash)
{
    QString reason;
    if (!trash.moveToTrash(url, &reason)) {
        const auto name = fileName(url);
        return reason.isEmpty() ? QStringLiteral("“%1” couldn’t be moved to the Trash.").arg(name)
                                : QStringLiteral("“%1” couldn’t be moved to the Trash: %2").arg(name, reason);
    }
    MetadataStore::trashMetadata(url, trash);
    return std::nullopt;
}

} // namespace LibraryFileMoves
