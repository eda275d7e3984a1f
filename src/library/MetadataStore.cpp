#include "library/MetadataStore.h"

#include "base/AppError.h"
#include "library/SidecarCodec.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace MetadataStore {
namespace {

std::optional<RecordingMetadata> read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumSidecarSize)
        return std::nullopt;
    return SidecarCodec::decode(file.read(maximumSidecarSize + 1));
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

std::optional<RecordingMetadata> load(const QString &audioURL)
{
    if (auto metadata = read(metadataURL(audioURL)))
        return metadata;
    auto legacy = read(legacyMetadataURL(audioURL));
    if (legacy) {
        try {
            migrateLegacyMetadata(audioURL);
        } catch (const std::exception &) {
        }
    }
    return legacy;
}

void save(const RecordingMetadata &metadata, const QString &audioURL)
{
    const auto bytes = SidecarCodec::encode(metadata);
    ensureMetadataFolder(audioURL);
    QSaveFile file(metadataURL(audioURL));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(QStringLiteral("The metadata of “%1” could not be saved.").arg(QFileInfo(audioURL).fileName()));
    try {
        removeLegacyMetadata(audioURL);
    } catch (const std::exception &) {
    }
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
    if (QFileInfo::exists(metadataURL(from)))
        moveFile(metadataURL(from), destination);
    else if (QFileInfo::exists(legacyMetadataURL(from)))
        moveFile(legacyMetadataURL(from), destination);
}

void migrateLegacyMetadata(const QString &audioURL)
{
    const auto legacy = legacyMetadataURL(audioURL);
    if (!QFileInfo::exists(legacy))
        return;
    ensureMetadataFolder(audioURL);
    if (QFileInfo::exists(metadataURL(audioURL)))
        QFile::remove(legacy);
    else
        moveFile(legacy, metadataURL(audioURL));
}

void removeLegacyMetadata(const QString &audioURL)
{
    const auto legacy = legacyMetadataURL(audioURL);
    if (QFileInfo::exists(legacy) && !QFile::remove(legacy))
        throw AppError(QStringLiteral("“%1” could not be removed.").arg(QFileInfo(legacy).fileName()));
}

} // namespace MetadataStore
