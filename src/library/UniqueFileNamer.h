#pragma once

#include <QDateTime>
#include <QString>

/// Builds names for new files that never replace an existing one.
namespace UniqueFileNamer {

/// F/B.E, else F/B 2.E, F/B 3.E, ... whichever is free first (\a extension may be empty).
[[nodiscard]] QString uniqueURL(const QString &folder, const QString &baseName, const QString &extension);
/// Like uniqueURL, but creates the file empty and exclusively, so no other process or take
/// can take the name; the caller owns the file. Throws AppError naming the cause when no
/// file can be created in \a folder, or when the name would pass the file-name limit.
[[nodiscard]] QString reserveUniqueURL(const QString &folder, const QString &baseName, const QString &extension);
/// False when the file name of \a audioURL, or of its sidecar, passes the file system's
/// file-name limit.
[[nodiscard]] bool fitsNameLimit(const QString &audioURL);
/// The status text for a name refused by fitsNameLimit.
[[nodiscard]] QString nameTooLongMessage(const QString &name);
/// "Import STAMP.EXT" in FOLDER/.vespertone/tmp (not created here).
[[nodiscard]] QString temporaryImportURL(const QString &folder, const QDateTime &date, const QString &pathExtension);
/// Every "/", ":", newline and control character becomes a space; then trimmed.
[[nodiscard]] QString sanitizedBaseName(const QString &text);
/// FOLDER/.vespertone/tmp.
[[nodiscard]] QString workFolder(const QString &folder);
/// The library folder of \a url: its own folder, or the library whose work folder holds it.
[[nodiscard]] QString libraryFolderOf(const QString &url);

/// \a base without a trailing tempo suffix such as "_bpm_120", "_BPM_120.5", "_bpm_120_2" or,
/// from the unique-name rule, "_bpm_120 2".
[[nodiscard]] QString withoutTempoSuffix(const QString &base);

/// The file name without its last extension.
[[nodiscard]] QString baseName(const QString &url);
/// The last extension without the dot, or empty.
[[nodiscard]] QString extension(const QString &url);

} // namespace UniqueFileNamer
