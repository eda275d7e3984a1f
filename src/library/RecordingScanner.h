#pragma once

#include "library/RecordingScanResult.h"

#include <QSet>
#include <QString>
#include <QVector>

class DurationCache;

/// Turns the save folder's audio files into library items, newest first.
namespace RecordingScanner {

/// The extensions counted as recordings, lower case.
[[nodiscard]] const QSet<QString> &audioExtensions();
/// True when \a fileName ends in one of audioExtensions(), in any case.
[[nodiscard]] bool isAudioFileName(const QString &fileName);

/// Lists the folder's visible audio files (not subfolders) with their sidecars and measured
/// durations, newest first; equal times keep listing order. Never writes and never fails:
/// an unreadable folder gives an empty list, an unreadable file its stored duration or 0.
/// With \a durations, a file unchanged since it was measured is not opened again, and what
/// this scan measured is added to \a durations for the caller to save.
[[nodiscard]] RecordingScanResult scan(const QString &folderURL, DurationCache *durations = nullptr);
/// The scan with the durations the library's cache remembers, which it then brings up to date
/// (creating the library's work folder if needed). The one scan that writes, and only there.
[[nodiscard]] RecordingScanResult scanRemembering(const QString &folderURL);

/// Creation (birth) time, else modification time, else now.
[[nodiscard]] QDateTime fileCreationDate(const QString &url);

} // namespace RecordingScanner
