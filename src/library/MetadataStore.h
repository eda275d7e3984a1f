#pragma once

#include "library/RecordingMetadata.h"
#include "platform/FileOperations.h"

#include <QString>
#include <optional>

class Trash;

/// Reads, writes, moves and discards the metadata sidecars of audio files.
/// Stateless and callable from any thread; paths are absolute.
namespace MetadataStore {

/// F/.vespertone/metadata/NAME.EXT.vtmeta.json for the audio file F/NAME.EXT.
[[nodiscard]] QString metadataURL(const QString &audioURL);
/// F/NAME.vtmeta.json, the legacy sidecar beside the audio file.
[[nodiscard]] QString legacyMetadataURL(const QString &audioURL);
/// F/.vespertone/metadata.
[[nodiscard]] QString metadataFolder(const QString &audioURL);

/// A sidecar's content and where it was found.
struct LoadedMetadata {
    RecordingMetadata metadata;
    bool fromLegacy = false; ///< read from the legacy sidecar, which migrateLegacyMetadata moves
};

/// The sidecar's content, else the legacy sidecar's, else none; never writes.
[[nodiscard]] std::optional<RecordingMetadata> load(const QString &audioURL);
/// Like load, telling whether the content came from the legacy sidecar.
[[nodiscard]] std::optional<LoadedMetadata> loadWithOrigin(const QString &audioURL);
/// Writes the sidecar durably in one step (a synced work file renamed over it, the folder
/// synced) and removes a legacy one. Throws AppError naming the cause ("The disk is full." ...)
/// on failure, leaving the previous sidecar as it was.
void save(const RecordingMetadata &metadata, const QString &audioURL, FileOperations &files = FileOperations::system());
/// Like save for a file that has no sidecar yet, never replacing one: false when \a audioURL
/// has a sidecar already. Throws AppError.
[[nodiscard]] bool create(const RecordingMetadata &metadata, const QString &audioURL,
                          FileOperations &files = FileOperations::system());
/// Undoes create after the audio file could not take its name: removes the sidecar while it
/// still holds \a metadata (the name's new owner may have replaced it); never throws.
void withdraw(const RecordingMetadata &metadata, const QString &audioURL,
              FileOperations &files = FileOperations::system());
/// Moves the sidecar, then the legacy sidecar, to the Trash; errors are ignored.
void trashMetadata(const QString &audioURL, Trash &trash);
/// Gives the sidecar of \a from (or its legacy sidecar) to \a to, replacing \a to's.
void moveMetadata(const QString &from, const QString &to, FileOperations &files = FileOperations::system());

/// The first step of moving the sidecar of \a from to \a to: \a to's sidecar becomes a durable
/// second name of it (replacing \a to's, which is removed when \a from has none). Returns the
/// name it came from, which finishMove drops once the audio has moved. Throws AppError.
[[nodiscard]] std::optional<QString> beginMove(const QString &from, const QString &to,
                                               FileOperations &files = FileOperations::system());
/// Drops \a oldName, the sidecar name beginMove gave on; never throws.
void finishMove(const QString &oldName, FileOperations &files = FileOperations::system());
/// Undoes beginMove after the audio could not move: \a to's sidecar goes if it is still \a
/// oldName's second name; never throws.
void cancelMove(const QString &oldName, const QString &to, FileOperations &files = FileOperations::system());

/// Gives \a sidecar, a sidecar whose audio file has another name now, the name of \a audioURL's
/// sidecar unless it has one; never throws.
void adopt(const QString &sidecar, const QString &audioURL, FileOperations &files = FileOperations::system());

/// Moves a readable legacy sidecar into the metadata folder unless a readable sidecar is
/// there already (then the legacy one is only removed). The legacy file goes only after its
/// content is safely written; an unreadable legacy sidecar is left alone. Throws AppError.
void migrateLegacyMetadata(const QString &audioURL);
/// Deletes the legacy sidecar if present.
void removeLegacyMetadata(const QString &audioURL);

/// Sidecars larger than this are treated as unreadable.
inline constexpr qint64 maximumSidecarSize = 1 << 20;

} // namespace MetadataStore
