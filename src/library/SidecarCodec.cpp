#include "library/SidecarCodec.h"

#include "analysis/MusicalKeys.h"
#include "base/AppError.h"
#include "base/NumberRange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace SidecarCodec {
namespace {

// Beyond these no take is real: about 31 years, and a tempo no music has.
constexpr double maximumSeconds = 1e9;
constexpr double maximumBpm = 100000;

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out +=
                    QByteArray("\\u00") + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

QByteArray number(double value)
{
    if (!std::isfinite(value))
        throw AppError(QStringLiteral("The metadata could not be encoded."));
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, int(result.ptr - buffer));
}

/// Key/rendered-value pairs of one JSON object; rendered values of nested objects are
/// already indented for their depth.
using Members = std::vector<std::pair<QByteArray, QByteArray>>;

QByteArray object(Members members, int depth)
{
    std::sort(members.begin(), members.end());
    const QByteArray inner(2 * (depth + 1), ' ');
    QByteArray out = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        out += inner + quoted(QString::fromUtf8(members[i].first)) + " : " + members[i].second;
        out += i + 1 < members.size() ? ",\n" : "\n";
    }
    return out + QByteArray(2 * depth, ' ') + "}";
}

void addText(Members &members, const char *key, const std::optional<QString> &value)
{
    if (value)
        members.emplace_back(key, quoted(*value));
}

void addNumber(Members &members, const char *key, const std::optional<double> &value)
{
    if (value)
        members.emplace_back(key, number(*value));
}

QByteArray encodeSource(const RecordingSourceContext &source)
{
    Members members;
    addText(members, "appName", source.appName);
    addText(members, "bundleIdentifier", source.bundleIdentifier);
    addText(members, "windowTitle", source.windowTitle);
    addText(members, "urlString", source.urlString);
    members.emplace_back("capturedAt", quoted(formatDate(source.capturedAt)));
    return object(std::move(members), 1);
}

/// The rendered objects \a items as a JSON array at \a depth.
QByteArray array(const std::vector<QByteArray> &items, int depth)
{
    const QByteArray inner(2 * (depth + 1), ' ');
    QByteArray out = "[\n";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += inner + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
    return out + QByteArray(2 * depth, ' ') + "]";
}

void addTempoAlternatives(Members &members, const QVector<TempoCandidate> &alternatives)
{
    if (alternatives.isEmpty())
        return;
    std::vector<QByteArray> items;
    for (const auto &alternative : alternatives)
        items.push_back(object({{"bpm", number(alternative.bpm)}, {"confidence", number(alternative.confidence)}}, 2));
    members.emplace_back("bpmAlternatives", array(items, 1));
}

void addKeyAlternatives(Members &members, const QVector<KeyCandidate> &alternatives)
{
    if (alternatives.isEmpty())
        return;
    std::vector<QByteArray> items;
    for (const auto &alternative : alternatives)
        items.push_back(object(
            {{"confidence", number(alternative.confidence)}, {"musicalKey", quoted(alternative.musicalKey)}}, 2));
    members.emplace_back("keyAlternatives", array(items, 1));
}

/// Reads optional typed members; any present member of the wrong type marks the object bad.
class Reader {
public:
    explicit Reader(const QJsonObject &object) : m_object(object) {}

    [[nodiscard]] bool ok() const { return m_ok; }

    std::optional<QString> text(const char *key)
    {
        auto value = m_object.value(QLatin1String(key));
        if (value.isUndefined())
            return std::nullopt;
        m_ok = m_ok && value.isString();
        return value.toString();
    }

    /// A number within [\a low, \a high]; one outside counts as absent, so no reader of the
    /// sidecar ever converts an impossible value.
    std::optional<double> number(const char *key, double low, double high)
    {
        auto value = m_object.value(QLatin1String(key));
        if (value.isUndefined())
            return std::nullopt;
        m_ok = m_ok && value.isDouble();
        return NumberRange::within(value.toDouble(), low, high);
    }

    std::optional<QDateTime> date(const char *key)
    {
        auto raw = text(key);
        if (!raw)
            return std::nullopt;
        auto parsed = parseDate(*raw);
        m_ok = m_ok && parsed.has_value();
        return parsed;
    }

    std::optional<QJsonObject> object(const char *key)
    {
        auto value = m_object.value(QLatin1String(key));
        if (value.isUndefined())
            return std::nullopt;
        m_ok = m_ok && value.isObject();
        return value.toObject();
    }

private:
    QJsonObject m_object;
    bool m_ok = true;
};

std::optional<RecordingSourceContext> decodeSource(const QJsonObject &json)
{
    Reader reader(json);
    RecordingSourceContext source;
    source.appName = reader.text("appName");
    source.bundleIdentifier = reader.text("bundleIdentifier");
    source.windowTitle = reader.text("windowTitle");
    source.urlString = reader.text("urlString");
    auto capturedAt = reader.date("capturedAt");
    if (!reader.ok() || !capturedAt)
        return std::nullopt;
    source.capturedAt = *capturedAt;
    return source;
}

/// Alternatives beyond these are ignored; the analysis writes at most two.
constexpr int maximumAlternatives = 4;
/// Tempi outside this range are not read as alternatives.
constexpr double fastestTempo = 1000;

std::optional<double> confidenceValue(const QJsonValue &value)
{
    if (!value.isDouble() || !(value.toDouble() >= 0 && value.toDouble() <= 1))
        return std::nullopt;
    return value.toDouble();
}

/// The precise analysis's figures. They are derived data, so a figure of the wrong type or out
/// of range is left out rather than making the sidecar unreadable.
void decodeConfidences(const QJsonObject &json, RecordingMetadata &metadata)
{
    metadata.bpmConfidence = confidenceValue(json.value(QLatin1String("bpmConfidence")));
    metadata.keyConfidence = confidenceValue(json.value(QLatin1String("keyConfidence")));
    for (const auto &entry : json.value(QLatin1String("bpmAlternatives")).toArray()) {
        const auto item = entry.toObject();
        const auto bpm = item.value(QLatin1String("bpm"));
        const auto confidence = confidenceValue(item.value(QLatin1String("confidence")));
        if (metadata.bpmAlternatives.size() < maximumAlternatives && bpm.isDouble() && bpm.toDouble() > 0
            && bpm.toDouble() <= fastestTempo && confidence)
            metadata.bpmAlternatives.append({bpm.toDouble(), *confidence});
    }
    for (const auto &entry : json.value(QLatin1String("keyAlternatives")).toArray()) {
        const auto item = entry.toObject();
        const auto key = item.value(QLatin1String("musicalKey")).toString();
        const auto confidence = confidenceValue(item.value(QLatin1String("confidence")));
        if (metadata.keyAlternatives.size() < maximumAlternatives && MusicalKeys::isKeyName(key) && confidence)
            metadata.keyAlternatives.append({key, *confidence});
    }
}

} // namespace

QString formatDate(const QDateTime &date)
{
    auto utc = date.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

std::optional<QDateTime> parseDate(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:Z|([+-])(\d{2}):?(\d{2}))$)"));
    auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    auto field = [&](int i) { return match.captured(i).toInt(); };
    QDate day(field(1), field(2), field(3));
    QTime time(field(4), field(5), field(6));
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    int offset = 0;
    if (match.capturedLength(7) > 0) {
        if (field(8) > 23 || field(9) > 59)
            return std::nullopt;
        offset = (field(8) * 3600 + field(9) * 60) * (match.captured(7) == QLatin1String("-") ? -1 : 1);
    }
    return QDateTime(day, time, Qt::OffsetFromUTC, offset).toUTC();
}

QByteArray encode(const RecordingMetadata &metadata)
{
    Members members;
    members.emplace_back("createdAt", quoted(formatDate(metadata.createdAt)));
    addNumber(members, "duration", metadata.duration);
    addNumber(members, "bpm", metadata.bpm);
    addText(members, "musicalKey", metadata.musicalKey);
    if (metadata.analyzedAt)
        members.emplace_back("analyzedAt", quoted(formatDate(*metadata.analyzedAt)));
    addNumber(members, "trimStart", metadata.trimStart);
    addNumber(members, "trimEnd", metadata.trimEnd);
    if (metadata.source)
        members.emplace_back("source", encodeSource(*metadata.source));
    addNumber(members, "bpmConfidence", metadata.bpmConfidence);
    addTempoAlternatives(members, metadata.bpmAlternatives);
    addNumber(members, "keyConfidence", metadata.keyConfidence);
    addKeyAlternatives(members, metadata.keyAlternatives);
    return object(std::move(members), 0);
}

std::optional<RecordingMetadata> decode(const QByteArray &bytes)
{
    QJsonParseError error;
    auto document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    Reader reader(document.object());
    RecordingMetadata metadata;
    auto createdAt = reader.date("createdAt");
    metadata.duration = reader.number("duration", 0, maximumSeconds);
    metadata.bpm = reader.number("bpm", 0, maximumBpm);
    metadata.musicalKey = reader.text("musicalKey");
    metadata.analyzedAt = reader.date("analyzedAt");
    metadata.trimStart = reader.number("trimStart", 0, maximumSeconds);
    metadata.trimEnd = reader.number("trimEnd", 0, maximumSeconds);
    auto source = reader.object("source");
    if (!reader.ok() || !createdAt)
        return std::nullopt;
    metadata.createdAt = *createdAt;
    if (source) {
        metadata.source = decodeSource(*source);
        if (!metadata.source)
            return std::nullopt;
    }
    decodeConfidences(document.object(), metadata);
    return metadata;
}

} // namespace SidecarCodec
