#include "library/LibrarySnapshot.h"

#include "platform/CacheFolder.h"

#include <QDataStream>
#include <QFileInfo>
#include <QIODevice>

namespace LibrarySnapshot {
namespace {

constexpr quint32 kind = 0x3142494c; // "LIB1"
constexpr qint64 maximumSize = qint64(256) << 20;
const QString entryName = QStringLiteral("library");

template <typename T>
void put(QDataStream &stream, const std::optional<T> &value)
{
    stream << value.has_value();
    if (value)
        stream << *value;
}

template <typename T>
void get(QDataStream &stream, std::optional<T> &value)
{
    bool present = false;
    stream >> present;
    value.reset();
    if (present) {
        T read{};
        stream >> read;
        value = std::move(read);
    }
}

void put(QDataStream &stream, const std::optional<RecordingSourceContext> &source)
{
    stream << source.has_value();
    if (!source)
        return;
    put(stream, source->appName);
    put(stream, source->bundleIdentifier);
    put(stream, source->windowTitle);
    put(stream, source->urlString);
    stream << source->capturedAt;
}

void get(QDataStream &stream, std::optional<RecordingSourceContext> &source)
{
    bool present = false;
    stream >> present;
    source.reset();
    if (!present)
        return;
    RecordingSourceContext read;
    get(stream, read.appName);
    get(stream, read.bundleIdentifier);
    get(stream, read.windowTitle);
    get(stream, read.urlString);
    stream >> read.capturedAt;
    source = std::move(read);
}

QString canonical(const QString &folder)
{
    return QFileInfo(folder).absoluteFilePath();
}

} // namespace

QByteArray encode(const QString &folder, const QVector<RecordingItem> &items)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << canonical(folder) << qint64(items.size());
    for (const auto &item : items) {
        const auto &metadata = item.metadata;
        stream << item.url << item.duration << item.createdAt << metadata.createdAt;
        put(stream, metadata.duration);
        put(stream, metadata.bpm);
        put(stream, metadata.musicalKey);
        put(stream, metadata.analyzedAt);
        put(stream, metadata.trimStart);
        put(stream, metadata.trimEnd);
        put(stream, metadata.source);
    }
    return payload;
}

std::optional<QVector<RecordingItem>> decode(const QString &folder, const QByteArray &payload)
{
    QDataStream stream(payload);
    stream.setVersion(QDataStream::Qt_6_4);
    QString storedFolder;
    qint64 count = -1;
    stream >> storedFolder >> count;
    const auto prefix = canonical(folder) + u'/';
    // Each item takes well over 16 bytes: a count beyond that is damage, not a list.
    if (stream.status() != QDataStream::Ok || storedFolder + u'/' != prefix || count < 0 || count > payload.size() / 16)
        return std::nullopt;
    QVector<RecordingItem> items;
    items.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        RecordingItem item;
        auto &metadata = item.metadata;
        stream >> item.url >> item.duration >> item.createdAt >> metadata.createdAt;
        get(stream, metadata.duration);
        get(stream, metadata.bpm);
        get(stream, metadata.musicalKey);
        get(stream, metadata.analyzedAt);
        get(stream, metadata.trimStart);
        get(stream, metadata.trimEnd);
        get(stream, metadata.source);
        if (stream.status() != QDataStream::Ok || !item.url.startsWith(prefix)
            || item.url.indexOf(u'/', prefix.size()) >= 0)
            return std::nullopt;
        items.push_back(std::move(item));
    }
    if (!stream.atEnd())
        return std::nullopt;
    return items;
}

std::optional<QVector<RecordingItem>> load(const QString &folder)
{
    const auto cache = CacheFolder::ofLibrary(folder, false);
    if (!cache)
        return std::nullopt;
    const auto payload = cache->read(entryName, kind, maximumSize);
    return payload ? decode(folder, *payload) : std::nullopt;
}

void save(const CacheFolder &cache, const QString &folder, const QVector<RecordingItem> &items)
{
    const auto payload = encode(folder, items);
    if (cache.read(entryName, kind, maximumSize) != payload)
        cache.write(entryName, kind, payload);
}

} // namespace LibrarySnapshot
