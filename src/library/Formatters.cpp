#include "library/Formatters.h"

#include "base/NumberRange.h"

#include <QLocale>

#include <cmath>

namespace AppDateFormatters {

QString fileStamp(const QDateTime &date)
{
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("yyyy-MM-dd HH.mm.ss"));
}

QString listDate(const QDateTime &date)
{
    const QLocale locale;
    const auto local = date.toLocalTime();
    return locale.toString(local.date(), QLocale::ShortFormat) + u' '
        + locale.toString(local.time(), QLocale::ShortFormat);
}

QString sidebarDate(const QDateTime &date)
{
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("MMM d h:mm AP"));
}

} // namespace AppDateFormatters

namespace TimeText {

QString clock(double seconds)
{
    const auto rounded = seconds >= 0 ? NumberRange::roundedInteger<long long>(seconds) : std::nullopt;
    if (!rounded)
        return QStringLiteral("00:00");
    const auto total = *rounded;
    if (total < 3600)
        return QString::asprintf("%02lld:%02lld", total / 60, total % 60);
    return QString::asprintf("%lld:%02lld:%02lld", total / 3600, total % 3600 / 60, total % 60);
}

QString editorClock(double seconds)
{
    const auto truncated = seconds >= 0 ? NumberRange::exactInteger<long long>(std::trunc(seconds)) : std::nullopt;
    if (!truncated)
        return QStringLiteral("00:00.00");
    if (seconds < 10)
        return QString::asprintf("%04.2f", seconds);
    const auto whole = *truncated;
    const auto hundredths = static_cast<long long>((seconds - double(whole)) * 100);
    return QString::asprintf("%02lld:%02lld.%02lld", whole / 60, whole % 60, hundredths);
}

} // namespace TimeText

QString roundedBPMText(double bpm)
{
    return QStringLiteral("%1 BPM").arg(NumberRange::roundedInteger<long long>(bpm).value_or(0));
}
