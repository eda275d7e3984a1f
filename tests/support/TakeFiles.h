#pragma once

#include <QMap>
#include <QString>

/// What a library folder shows of the takes a separate program process records into it.
namespace TakeFiles {

/// The M4A takes directly in \a folder and their sizes in bytes, by name.
[[nodiscard]] QMap<QString, qint64> takes(const QString &folder);
/// True while a take of \a folder is locked for writing or encoding.
[[nodiscard]] bool locked(const QString &folder);
/// Waits until a take beyond the first \a takesBefore exists and then grows, so it records.
[[nodiscard]] bool startsRecording(const QString &folder, int takesBefore);

} // namespace TakeFiles
