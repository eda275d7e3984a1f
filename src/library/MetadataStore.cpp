#include "library/MetadataStore.h"

#include "base/AppError.h"
#include "base/IgnoreFailure.h"
#include "base/SystemErrorText.h"
#include "library/SidecarCodec.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

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

/// Replaces \a path with \a bytes in one step; the old file stays on any failure.
void writeAtomically(const QString &path, const QByteArray &bytes, const QString &audioURL)
{
    const auto failed = [&](const QString &cause) {
        return AppError(
            QStringLiteral("The metadata of “%1” could not be saved. %2").arg(QFileInfo(audioURL).fileName(), cause));
    };
    // Unbuffered, so a failed write is seen by write() itself and the commit refuses it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw failed(file.errorString());
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int cause = errno;
        file.cancelWriting();
        throw failed(cause ? systemErrorText(cause) : file.errorString());
    }
    errno = 0;
    if (!file.commit()) {
        const int cause = errno;
        throw failed(cause ? systemErrorText(cause) : file.errorString());
    }
}

void ensureMetadataFolder(const QString &audioURL)
{
    auto folder = metadataFolder(audioURL);
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder “%1” could not be created.").arg(folder));
}

void moveFile(const QString &from, const QString &to)
{
    if (!QFile::rename(from, to))
        throw AppError(QStringLiteral("“%1” could not be moved.").arg(QFileInfo(from).fileName()));
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

void save(const RecordingMetadata &metadata, const QString &audioURL)
{
    const auto bytes = SidecarCodec::encode(metadata);
    ensureMetadataFolder(audioURL);
    writeAtomically(metadataURL(audioURL), bytes, audioURL);
    // The new sidecar wins over a legacy one that could not be removed.
    ignoreFailure(lcLibrary(), [&] { removeLegacyMetadata(audioURL); });
}

void trashMetadata(const QString &audioURL, Trash &trash)
{
    for (const auto &path : {metadataURL(audioURL), legacyMetadataURL(audioURL)}) {
        if (QFileInfo::exists(path))
            trash.moveToTrash(path);
    }
}

void moveMetadata(const QString &from, const QString &to)
{
    ensureMetadataFolder(to);
    const auto destination = metadataURL(to);
    if (QFileInfo::exists(destination))
        QFile::remove(destination);
    // An unreadable sidecar never wins over a readable legacy one.
    const bool sidecarWins =
        QFileInfo::exists(metadataURL(from)) && (read(metadataURL(from)) || !read(legacyMetadataURL(from)));
    if (sidecarWins)
        moveFile(metadataURL(from), destination);
    else if (QFileInfo::exists(legacyMetadataURL(from)))
        moveFile(legacyMetadataURL(from), destination);
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
        writeAtomically(metadataURL(audioURL), *bytes, audioURL);
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
