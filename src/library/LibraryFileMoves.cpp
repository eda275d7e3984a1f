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
#include <sys/stat.h>

namespace LibraryFileMoves {
namespace {
QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString nameFor(const QString &folder, const QString &base, const QString &ext, int counter)
{
    const auto name = counter == 1 ? base : base + u' ' + QString::number(counter);
    const auto target = folder + u'/' + name + u'.' + ext;
    if (!UniqueFileNamer::fitsNameLimit(target))
        throw AppError(UniqueFileNamer::nameTooLongMessage(fileName(target)));
    return target;
}

AppError saveFailure(const QString &target, int error)
{
    return AppError(QStringLiteral("“%1” couldn’t be saved: %2").arg(fileName(target), systemErrorText(error)));
}
} // namespace

void moveWithSidecar(const QString &from, const QString &to, FileOperations &files)
{
    const auto refused = [&](int error) {
        return AppError(error == EEXIST
                            ? QStringLiteral("“%1” couldn’t be renamed to “%2”.").arg(fileName(from), fileName(to))
                            : QStringLiteral("“%1” couldn’t be renamed to “%2”: %3")
                                  .arg(fileName(from), fileName(to), systemErrorText(error)));
    };
    // Checked first, so the sidecar of a file already there is never replaced.
    if (exists(to))
        throw refused(EEXIST);
    if (!exists(from))
        throw refused(ENOENT);
    std::optional<QString> oldSidecar;
    // The audio can move without its sidecar, which then only loses its tempo and source.
    ignoreFailure(lcLibrary(), [&] { oldSidecar = MetadataStore::beginMove(from, to, files); });
    if (const int error = files.renameNoReplace(from, to)) {
        if (oldSidecar)
            MetadataStore::cancelMove(*oldSidecar, to, files);
        throw refused(error);
    }
    files.syncFolder(QFileInfo(to).absolutePath());
    if (oldSidecar)
        MetadataStore::finishMove(*oldSidecar, files);
}

QString publish(const QString &file, const QString &folder, const QString &base, const QString &ext, bool keepSource,
                FileOperations &files)
{
    for (int counter = 1;; ++counter) {
        const auto target = nameFor(folder, base, ext, counter);
        const int error = files.publish(file, target, keepSource);
        if (error == EEXIST)
            continue;
        if (error)
            throw saveFailure(target, error);
        return target;
    }
}

QString publishWithSidecar(const QString &file, const QString &folder, const QString &base, const QString &ext,
                           const RecordingMetadata &metadata, FileOperations &files)
{
    for (int counter = 1;; ++counter) {
        const auto target = nameFor(folder, base, ext, counter);
        // A sidecar without its audio is a stale one or that of a file being published.
        if (exists(target) || !MetadataStore::create(metadata, target, files))
            continue;
        const int error = files.publish(file, target);
        if (error == 0)
            return target;
        MetadataStore::withdraw(metadata, target, files);
        if (error != EEXIST)
            throw saveFailure(target, error);
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
