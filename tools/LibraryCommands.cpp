#include "ToolCommand.h"

#include "library/SidecarCodec.h"
#include "store/RecordingLibraryStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject itemJson(const RecordingItem &item)
{
    QJsonObject object{{QStringLiteral("path"), item.url},
                       {QStringLiteral("createdAt"), SidecarCodec::formatDate(item.createdAt)},
                       {QStringLiteral("duration"), item.duration}};
    const auto &metadata = item.metadata;
    if (metadata.bpm)
        object.insert(QStringLiteral("bpm"), *metadata.bpm);
    if (metadata.musicalKey)
        object.insert(QStringLiteral("musicalKey"), *metadata.musicalKey);
    if (metadata.trimStart)
        object.insert(QStringLiteral("trimStart"), *metadata.trimStart);
    if (metadata.trimEnd)
        object.insert(QStringLiteral("trimEnd"), *metadata.trimEnd);
    if (const auto &source = metadata.source) {
        QJsonObject json{{QStringLiteral("capturedAt"), SidecarCodec::formatDate(source->capturedAt)}};
        auto add = [&](const char *key, const std::optional<QString> &value) {
            if (value)
                json.insert(QLatin1String(key), *value);
        };
        add("appName", source->appName);
        add("bundleIdentifier", source->bundleIdentifier);
        add("windowTitle", source->windowTitle);
        add("urlString", source->urlString);
        object.insert(QStringLiteral("source"), json);
    }
    return object;
}

QCoro::Task<int> scan(ToolContext &context)
{
    if (!context.arguments().isEmpty())
        co_return context.usage(QStringLiteral("scan takes no arguments."));
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    if (const auto &status = store->statusMessage())
        context.err() << *status << Qt::endl;
    for (const auto &name : store->unlistedNames())
        context.err() << QStringLiteral("“%1” is not listed: its name is not valid UTF-8.").arg(name) << Qt::endl;
    QJsonArray items;
    for (const auto &item : store->recordings())
        items.append(itemJson(item));
    context.out() << QJsonDocument(items).toJson(QJsonDocument::Indented);
    co_return 0;
}

QCoro::Task<int> folder(ToolContext &context)
{
    if (!context.arguments().isEmpty())
        co_return context.usage(QStringLiteral("folder takes no arguments."));
    context.out() << context.folderPath() << Qt::endl;
    co_return 0;
}

} // namespace

std::vector<ToolCommand> libraryCommands()
{
    return {
        {QStringLiteral("scan"), QStringLiteral("scan [--folder DIR]"),
         QStringLiteral("Prints the library as a JSON array, newest first."), scan},
        {QStringLiteral("folder"), QStringLiteral("folder [--folder DIR]"),
         QStringLiteral("Prints the library folder's path: DIR, else the stored save folder, else the default one."),
         folder},
    };
}
