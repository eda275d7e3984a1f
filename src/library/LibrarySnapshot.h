#pragma once

#include "library/RecordingItem.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

class CacheFolder;

/// The library list as the last scan found it, remembered in the library's cache so a start can
/// show it before its own scan corrects it.
namespace LibrarySnapshot {

/// The list remembered for the library \a folder; none when there is none it can trust.
/// Reads files: call it off the GUI thread.
[[nodiscard]] std::optional<QVector<RecordingItem>> load(const QString &folder);
/// Remembers \a items as the list of \a folder in \a cache, unless that is what it holds.
void save(const CacheFolder &cache, const QString &folder, const QVector<RecordingItem> &items);

[[nodiscard]] QByteArray encode(const QString &folder, const QVector<RecordingItem> &items);
/// None unless \a payload is a whole list of \a folder's own files.
[[nodiscard]] std::optional<QVector<RecordingItem>> decode(const QString &folder, const QByteArray &payload);

} // namespace LibrarySnapshot
