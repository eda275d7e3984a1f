#pragma once

#include "library/RecordingScanResult.h"

#include <QSet>
#include <QString>
#include <QVector>

/// Turns the save folder's audio files into library items, newest first.
namespace RecordingScanner {

/// The extensions counted as recordings, lower case.
[[nodiscard]] const QSet<QString> &audioExtensions();
/// True when \a fileName ends in one of audioExtensions(), in any case.
[[nodiscard]] bool isAudioFileName(const QString &fileName);

/// Lists the folder's visible audio files (not subfolders) with their sidecars and measured
/// durations, newest first; equal times keep listing order. Never writes and never fails:
/// an unreadable folder gives an empty list, an unreadable file its stored duration or 0.
[[nodiscard]] RecordingScanResult scan(const QString &folderURL);

/// Creation (birth) time, else modification time, else now.
[[nodiscard]] QDateTime fileCreationDate(const QString &url);

} // namespace RecordingScanner
