#pragma once

#include <QDateTime>
#include <QString>

/// The shared date texts.
namespace AppDateFormatters {
/// "yyyy-MM-dd HH.mm.ss" in local time, independent of the user's locale.
[[nodiscard]] QString fileStamp(const QDateTime &date);
/// The user's locale: medium date and short time.
[[nodiscard]] QString listDate(const QDateTime &date);
/// "MMM d h:mm a" in English, e.g. "May 1 2:05 PM".
[[nodiscard]] QString sidebarDate(const QDateTime &date);
} // namespace AppDateFormatters

/// Clock texts for seconds.
namespace TimeText {
/// "01:05" under an hour, "1:00:00" from an hour on, whole seconds; "00:00" when invalid.
[[nodiscard]] QString clock(double seconds);
/// "9.99" below ten seconds, "01:15.67" from ten on; "00:00.00" when invalid.
[[nodiscard]] QString editorClock(double seconds);
} // namespace TimeText

/// "128 BPM": the tempo rounded half away from zero.
[[nodiscard]] QString roundedBPMText(double bpm);
