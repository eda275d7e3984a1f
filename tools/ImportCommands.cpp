#include "ToolCommand.h"

#include "base/AudioBitRate.h"
#include "library/RecordingSourceContext.h"
#include "library/SidecarCodec.h"
#include "store/RecordingLibraryStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

/// Status texts line by line on standard error; on a terminal also a bar of the download.
void showImportProgress(ToolContext &context, RecordingLibraryStore &store, QObject &guard)
{
    const bool terminal = ::isatty(STDERR_FILENO);
    QObject::connect(&store, &RecordingLibraryStore::statusMessageChanged, &guard, [&context, &store, terminal] {
        if (const auto &status = store.statusMessage(); status && !status->isEmpty())
            context.err() << (terminal ? QStringLiteral("\r\033[K") : QString()) << *status << Qt::endl;
    });
    if (!terminal)
        return;
    QObject::connect(&store, &RecordingLibraryStore::urlImportProgress, &guard,
                     [&context](qint64 received, qint64 total) {
                         constexpr int width = 30;
                         QString line = QStringLiteral("\r\033[K");
                         if (total > 0) {
                             const auto filled = int(std::clamp(received * width / total, qint64(0), qint64(width)));
                             line += u'[' + QString(filled, u'#') + QString(width - filled, u'.') + QStringLiteral("] ")
                                 + megabytes(received) + QStringLiteral(" of ") + megabytes(total)
                                 + QStringLiteral("  %1 %").arg(received * 100 / total);
                         } else {
                             line += megabytes(received);
                         }
                         context.err() << line;
                         context.err().flush();
                     });
}

QCoro::Task<int> importCommand(ToolContext &context)
{
    std::optional<AudioBitRate> bitRate;
    if (const auto rate = context.takeOption(QStringLiteral("--bitrate"))) {
        bool ok = false;
        const auto kbps = rate->toLongLong(&ok);
        bitRate = ok ? AudioBitRates::fromKilobits(kbps) : std::nullopt;
        if (!bitRate)
            co_return context.usage(QStringLiteral("--bitrate takes 128, 192, 256 or 320."));
    }
    auto arguments = context.arguments();
    const bool confirmed = arguments.removeAll(QStringLiteral("--confirm-rights")) > 0;
    if (arguments.size() != 1)
        co_return context.usage(QStringLiteral("import takes one URL."));
    context.stopWorkOnSignals();
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    if (const auto stopped = context.stopStatus())
        co_return *stopped;
    QObject guard;
    showImportProgress(context, *store, guard);
    auto import = store->importURL(arguments.first(), confirmed, bitRate);
    const auto file = co_await std::move(import);
    if (!file)
        co_return context.stopStatus().value_or(1);
    context.out() << *file << Qt::endl;
    co_return 0;
}

QJsonObject sourceJson(const RecordingSourceContext &source)
{
    QJsonObject json;
    const auto put = [&json](const char *key, const std::optional<QString> &value) {
        if (value)
            json.insert(QLatin1String(key), *value);
    };
    put("appName", source.appName);
    put("bundleIdentifier", source.bundleIdentifier);
    put("windowTitle", source.windowTitle);
    put("urlString", source.urlString);
    if (source.capturedAt.isValid())
        json.insert(QStringLiteral("capturedAt"), SidecarCodec::formatDate(source.capturedAt));
    return json;
}

QCoro::Task<int> sourceCommand(ToolContext &context)
{
    auto arguments = context.arguments();
    if (arguments == QStringList{QStringLiteral("--now")}) {
        const auto source = context.currentSource();
        if (!source)
            co_return context.fail(QStringLiteral("No source can be found now."));
        context.out() << QJsonDocument(sourceJson(*source)).toJson(QJsonDocument::Indented).trimmed() << Qt::endl;
        co_return 0;
    }
    const bool open = arguments.removeAll(QStringLiteral("--open")) > 0;
    if (arguments.size() != 1)
        co_return context.usage(QStringLiteral("source takes one TAKE, or --now."));
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    const QDir base = arguments.first().contains(u'/') ? QDir::current() : QDir(store->folderURL());
    const QFileInfo info(QDir::cleanPath(base.absoluteFilePath(arguments.first())));
    const auto path = store->folderURL() + u'/' + info.fileName();
    const auto item = std::find_if(store->recordings().begin(), store->recordings().end(), [&](const auto &item) {
        return item.url == path
            && QFileInfo(info.absolutePath()).canonicalFilePath() == QFileInfo(store->folderURL()).canonicalFilePath();
    });
    if (item == store->recordings().end())
        co_return context.fail(QStringLiteral("“%1” is not a recording in the library.").arg(arguments.first()));
    if (!open) {
        if (!item->metadata.source)
            co_return context.fail(QStringLiteral("No source was captured for this recording."));
        context.out() << QJsonDocument(sourceJson(*item->metadata.source)).toJson(QJsonDocument::Indented).trimmed()
                      << Qt::endl;
        co_return 0;
    }
    const auto recording = *item;
    auto opening = store->openSource(recording);
    co_await std::move(opening);
    const auto status = store->statusMessage().value_or(QString());
    context.err() << status << Qt::endl;
    co_return status == QLatin1String("Opened source") ? 0 : 1;
}

} // namespace

std::vector<ToolCommand> importCommands()
{
    return {
        {QStringLiteral("import"),
         QStringLiteral("import URL [--confirm-rights] [--bitrate 128|192|256|320] [--folder DIR]"),
         QStringLiteral("Imports a direct audio or video file URL as MP3; with --confirm-rights (you own the content "
                        "or have permission) also a web page through yt-dlp. Prints the new file's path."),
         importCommand},
        {QStringLiteral("source"), QStringLiteral("source TAKE [--open] | source --now [--folder DIR]"),
         QStringLiteral("Prints the recording's stored source as JSON, or opens its address with --open; --now prints "
                        "the source a system-audio take started now would record."),
         sourceCommand},
    };
}
