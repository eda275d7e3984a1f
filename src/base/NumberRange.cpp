#include "base/NumberRange.h"

namespace NumberRange {

std::optional<qint64> integerSetting(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort: return value.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const auto raw = value.toULongLong();
        return raw <= quint64(std::numeric_limits<qint64>::max()) ? std::optional(qint64(raw)) : std::nullopt;
    }
    // Qt converts a stored double to an integer with an unchecked cast.
    case QMetaType::Double:
    case QMetaType::Float: return exactInteger<qint64>(value.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const auto parsed = value.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional(parsed) : std::nullopt;
    }
    default: return std::nullopt;
    }
}

} // namespace NumberRange
