#include "library/MetadataStore.h"

#include "base/AppError.h"
#include "base/IgnoreFailure.h"
#include "base/SystemErrorText.h"
#include "library/SidecarCodec.h"
#include "library/WorkFile.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace MetadataStore {
namespace {

/// The file's bytes when it holds a readable sidecar.
std::optional<QByteArray> readableBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumSidecarSize)
        return std::nullopt;
    auto bytes = file.read(maximumSidecarSize + 1);
    if (!SidecarCodec::decode(bytes))
        return std::nullopt;
    return bytes;
}

std::optional<RecordingMetadata> read(const QString &path)
{
    const auto bytes = readableBytes(path);
    return bytes ? SidecarCodec::decode(*bytes) : std::nullopt;
}

AppError saveFailure(const QString &audioURL, const QString &cause)
{
    return AppError(
        QStringLiteral("The metadata of “%1” could not be saved. %2").arg(QFileInfo(audioURL).fileName(), cause));
}

/// A synced work file in \a audioURL's work folder holding \a bytes; throws AppError.
WorkFile writeWorkFile(const QByteArray &bytes, const QString &audioURL)
{
    std::optional<WorkFile> made;
    try {
        made.emplace(WorkFile::create(QFileInfo(audioURL).absolutePath(), QStringLiteral("vtmeta.json")));
    } catch (const AppError &error) {
        throw saveFailure(audioURL, error.text());
    }
    auto work = std::move(*made);
    // Unbuffered, so a failed write is seen by write() itself.
    QFile file(work.path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw saveFailure(audioURL, file.errorString());
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int cause = errno;
        throw saveFailure(audioURL, cause ? systemErrorText(cause) : file.errorString());
    }
    file.close();
    return work;
}

/// Replaces \a path with \a bytes in one durable step; the old file stays on any failure.
void writeAtomically(const QString &path, const QByteArray &bytes, const QString &audioURL, FileOperations &files)
{
    const auto work = writeWorkFile(bytes, audioURL);
    if (const int error = files.replace(work.path(), path))
        throw saveFailure(audioURL, systemErrorText(error));
}

void ensureMetadataFolder(const QString &audioURL)
{
    auto folder = metadataFolder(audioURL);
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder “%1” could not be created.").arg(folder));
}

/// The sidecar of \a audioURL that a move takes along: an unreadable sidecar never wins over a
/// readable legacy one.
std::optional<QString> movingSidecar(const QString &audioURL)
{
    const auto sidecar = metadataURL(audioURL), legacy = legacyMetadataURL(audioURL);
    if (QFileInfo::exists(sidecar) && (read(sidecar) || !read(legacy)))
        return sidecar;
    if (QFileInfo::exists(legacy))
        return legacy;
    return std::nullopt;
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat first {
    }, second{};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == ENOTSUP || error == EXDEV || error == EMLINK;
}

} // namespace

QString metadataFolder(const QString &audioURL)
{
    return QFileInfo(audioURL).absolutePath() + QStringLiteral("/.vespertone/metadata");
}

QString metadataURL(const QString &audioURL)
{
    return metadataFolder(audioURL) + u'/' + QFileInfo(audioURL).fileName() + QStringLiteral(".vtmeta.json");
}

QString legacyMetadataURL(const QString &audioURL)
{
    QFileInfo info(audioURL);
    QString name = info.fileName();
    const auto dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    return info.absolutePath() + u'/' + name + QStringLiteral(".vtmeta.json");
}

std::optional<LoadedMetadata> loadWithOrigin(const QString &audioURL)
{
    if (auto metadata = read(metadataURL(audioURL)))
        return LoadedMetadata{*metadata, false};
    if (auto legacy = read(legacyMetadataURL(audioURL)))
        return LoadedMetadata{*legacy, true};
    return std::nullopt;
}

std::optional<RecordingMetadata> load(const QString &audioURL)
{
    if (auto loaded = loadWithOrigin(audioURL))
        return loaded->metadata;
    return std::nullopt;
}

void save(const RecordingMetadata &metadata, const QString &audioURL, FileOperations &files)
{
    const auto bytes = SidecarCodec::encode(metadata);
    ensureMetadataFolder(audioURL);
    writeAtomically(metadataURL(audioURL), bytes, audioURL, files);
    // The new sidecar wins over a legacy one that could not be removed.
    ignoreFailure(lcLibrary(), [&] { removeLegacyMetadata(audioURL); });
}

bool create(const RecordingMetadata &metadata, const QString &audioURL, FileOperations &files)
{
    const auto bytes = SidecarCodec::encode(metadata);
    ensureMetadataFolder(audioURL);
    const auto work = writeWorkFile(bytes, audioURL);
    const int error = files.publish(work.path(), metadataURL(audioURL));
    if (error == EEXIST)
        return false;
    if (error)
        throw saveFailure(audioURL, systemErrorText(error));
    return true;
}

void withdraw(const RecordingMetadata &metadata, const QString &audioURL, FileOperations &files)
{
    const auto sidecar = metadataURL(audioURL);
    QFile file(sidecar);
    if (!file.open(QIODevice::ReadOnly) || file.read(maximumSidecarSize + 1) != SidecarCodec::encode(metadata))
        return;
    file.close();
    if (files.remove(sidecar) == 0)
        files.syncFolder(metadataFolder(audioURL));
}

void trashMetadata(const QString &audioURL, Trash &trash)
{
    for (const auto &path : {metadataURL(audioURL), legacyMetadataURL(audioURL)}) {
        if (QFileInfo::exists(path))
            trash.moveToTrash(path);
    }
}

void moveMetadata(const QString &from, const QString &to, FileOperations &files)
{
    if (const auto old = beginMove(from, to, files))
        finishMove(*old, files);
}

std::optional<QString> beginMove(const QString &from, const QString &to, FileOperations &files)
{
    ensureMetadataFolder(to);
    const auto destination = metadataURL(to);
    const auto source = movingSidecar(from);
    if (!source) {
        if (QFileInfo::exists(destination) && files.remove(destination) == 0)
            files.syncFolder(metadataFolder(to));
        return std::nullopt;
    }
    // A second name made in the work folder replaces the destination in one step.
    auto work = WorkFile::create(QFileInfo(to).absolutePath(), QStringLiteral("vtmeta.json"));
    if (const int error = files.link(*source, work.path())) {
        if (!linksUnsupported(error))
            throw saveFailure(to, systemErrorText(error));
        QFile original(*source);
        if (!original.open(QIODevice::ReadOnly) || original.size() > maximumSidecarSize)
            throw saveFailure(to, original.errorString());
        work = writeWorkFile(original.readAll(), to);
    }
    if (const int error = files.replace(work.path(), destination))
        throw saveFailure(to, systemErrorText(error));
    return source;
}

void finishMove(const QString &oldName, FileOperations &files)
{
    // Left over, it is only a second name of the moved sidecar, which the next scan drops.
    if (files.remove(oldName) == 0)
        files.syncFolder(QFileInfo(oldName).absolutePath());
}

void cancelMove(const QString &oldName, const QString &to, FileOperations &files)
{
    const auto destination = metadataURL(to);
    if (sameFile(oldName, destination) && files.remove(destination) == 0)
        files.syncFolder(metadataFolder(to));
}

void adopt(const QString &sidecar, const QString &audioURL, FileOperations &files)
{
    if (files.renameNoReplace(sidecar, metadataURL(audioURL)) == 0)
        files.syncFolder(metadataFolder(audioURL));
}

void migrateLegacyMetadata(const QString &audioURL)
{
    const auto legacy = legacyMetadataURL(audioURL);
    if (!QFileInfo::exists(legacy))
        return;
    if (!read(metadataURL(audioURL))) {
        const auto bytes = readableBytes(legacy);
        if (!bytes)
            return;
        ensureMetadataFolder(audioURL);
        writeAtomically(metadataURL(audioURL), *bytes, audioURL, FileOperations::system());
    }
    removeLegacyMetadata(audioURL);
}

void removeLegacyMetadata(const QString &audioURL)
{
    const auto legacy = legacyMetadataURL(audioURL);
    if (QFileInfo::exists(legacy) && !QFile::remove(legacy))
        throw AppError(QStringLiteral("“%1” could not be removed.").arg(QFileInfo(legacy).fileName()));
}

} // namespace MetadataStore
