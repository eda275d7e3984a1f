#include "platform/FirefoxSessionReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <lz4.h>

#include <cstring>

namespace FirefoxSessionReader {
namespace {
constexpr char magic[] = "mozLz40"; // with its closing zero byte: 8 bytes
constexpr int headerSize = 12;

std::optional<QString> trimmedText(const QJsonValue &value)
{
    auto text = value.toString().trimmed();
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

/// The page a tab shows now: entries[index - 1], index 1-based.
std::optional<BrowserTab> currentPage(const QJsonObject &tab)
{
    const auto entries = tab.value(QStringLiteral("entries")).toArray();
    const auto index = tab.value(QStringLiteral("index")).toInteger(entries.size());
    if (index < 1 || index > entries.size())
        return std::nullopt;
    const auto entry = entries.at(index - 1).toObject();
    const auto url = trimmedText(entry.value(QStringLiteral("url")));
    if (!url)
        return std::nullopt;
    return BrowserTab{trimmedText(entry.value(QStringLiteral("title"))), *url};
}
} // namespace

QByteArray decompress(const QByteArray &mozLz4)
{
    if (mozLz4.size() < headerSize || std::memcmp(mozLz4.constData(), magic, 8) != 0)
        return {};
    quint32 size = 0;
    for (int i = 0; i < 4; ++i)
        size |= quint32(quint8(mozLz4.at(8 + i))) << (8 * i);
    if (size == 0 || qint64(size) > maximumSize)
        return {};
    QByteArray json(qsizetype(size), Qt::Uninitialized);
    const int written =
        LZ4_decompress_safe(mozLz4.constData() + headerSize, json.data(), int(mozLz4.size() - headerSize), int(size));
    if (written != int(size))
        return {};
    return json;
}

BrowserSession parse(const QByteArray &json)
{
    const auto root = QJsonDocument::fromJson(json).object();
    const auto windows = root.value(QStringLiteral("windows")).toArray();
    BrowserSession session;
    const auto frontWindow = root.value(QStringLiteral("selectedWindow")).toInteger(1);
    for (qsizetype w = 0; w < windows.size(); ++w) {
        const auto window = windows.at(w).toObject();
        const auto tabs = window.value(QStringLiteral("tabs")).toArray();
        const auto selected = window.value(QStringLiteral("selected")).toInteger(1);
        for (qsizetype t = 0; t < tabs.size(); ++t) {
            const auto page = currentPage(tabs.at(t).toObject());
            if (!page)
                continue;
            session.tabs.push_back(*page);
            if (w + 1 == frontWindow && t + 1 == selected)
                session.frontTab = page;
        }
    }
    return session;
}

} // namespace FirefoxSessionReader
