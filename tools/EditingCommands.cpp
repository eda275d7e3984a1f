#include "ToolCommand.h"

#include "AnalysisJson.h"
#include "library/MetadataStore.h"
#include "library/SidecarCodec.h"
#include "media/MP3EncoderError.h"
#include "platform/FileOperations.h"
#include "store/RecordingLibraryStore.h"
#include "store/TakeFinalizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <cmath>

namespace {

/// \a argument as an absolute path in the store's folder, where a bare name names a file; none
/// (after reporting) elsewhere.
std::optional<QString> libraryPath(ToolContext &context, const RecordingLibraryStore &store, const QString &argument)
{
    const QDir base = argument.contains(u'/') ? QDir::current() : QDir(store.folderURL());
    const QFileInfo info(QDir::cleanPath(base.absoluteFilePath(argument)));
    const auto folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty() || folder != QFileInfo(store.folderURL()).canonicalFilePath() || info.fileName().isEmpty()) {
        context.fail(QStringLiteral("“%1” is not in the library folder “%2”.").arg(argument, store.folderURL()));
        return std::nullopt;
    }
    return store.folderURL() + u'/' + info.fileName();
}

/// The listed recording \a argument names; none (after reporting) when it is not one.
std::optional<RecordingItem> libraryItem(ToolContext &context, const RecordingLibraryStore &store,
                                         const QString &argument)
{
    const auto path = libraryPath(context, store, argument);
    if (!path)
        return std::nullopt;
    for (const auto &item : store.recordings()) {
        if (item.id() == *path)
            return item;
    }
    context.fail(QStringLiteral("“%1” is not a recording in the library.").arg(argument));
    return std::nullopt;
}

/// The store's status, without its closing \a offer of what a terminal run cannot do.
void printStatus(ToolContext &context, const RecordingLibraryStore &store, const QString &offer = {})
{
    auto status = store.statusMessage().value_or(QString());
    if (!offer.isEmpty() && status.endsWith(offer))
        status.chop(offer.size());
    if (!status.isEmpty())
        context.err() << status << Qt::endl;
}

std::optional<double> seconds(ToolContext &context, const QString &text)
{
    bool ok = false;
    const auto value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        context.usage(QStringLiteral("“%1” is not a number of seconds.").arg(text));
        return std::nullopt;
    }
    return value;
}

QCoro::Task<int> analyzeCommand(ToolContext &context)
{
    std::optional<AnalysisMode> mode;
    if (context.takeFlag(QStringLiteral("--precise")))
        mode = AnalysisMode::precise;
    if (context.takeFlag(QStringLiteral("--standard"))) {
        if (mode)
            co_return context.usage(QStringLiteral("analyze takes either --standard or --precise."));
        mode = AnalysisMode::standard;
    }
    if (context.arguments().size() != 1)
        co_return context.usage(QStringLiteral("analyze takes one TAKE."));
    context.stopWorkOnSignals();
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    if (const auto stopped = context.stopStatus())
        co_return *stopped;
    const auto path = libraryPath(context, *store, context.arguments().first());
    if (!path)
        co_return 1;
    const auto final = co_await store->analyze(*path, mode);
    printStatus(context, *store);
    if (!final)
        co_return context.stopStatus().value_or(1);
    QJsonObject object{{QStringLiteral("path"), *final}};
    if (const auto metadata = MetadataStore::load(*final)) {
        if (metadata->duration)
            object.insert(QStringLiteral("duration"), *metadata->duration);
        if (metadata->bpm)
            object.insert(QStringLiteral("bpm"), *metadata->bpm);
        if (metadata->musicalKey)
            object.insert(QStringLiteral("musicalKey"), *metadata->musicalKey);
        if (metadata->analyzedAt)
            object.insert(QStringLiteral("analyzedAt"), SidecarCodec::formatDate(*metadata->analyzedAt));
        insertConfidences(object, metadata->bpmConfidence, metadata->bpmAlternatives, metadata->keyConfidence,
                          metadata->keyAlternatives);
    }
    context.out() << QJsonDocument(object).toJson(QJsonDocument::Indented);
    co_return 0;
}

QCoro::Task<int> trimCommand(ToolContext &context)
{
    const auto &arguments = context.arguments();
    if (arguments.size() != 3)
        co_return context.usage(QStringLiteral("trim takes TAKE START END (seconds)."));
    const auto start = seconds(context, arguments.at(1));
    const auto end = seconds(context, arguments.at(2));
    if (!start || !end)
        co_return 2;
    context.stopWorkOnSignals();
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    if (const auto stopped = context.stopStatus())
        co_return *stopped;
    const auto item = libraryItem(context, *store, arguments.first());
    if (!item)
        co_return 1;
    const auto trimmed = co_await store->trim(*item, *start, *end);
    printStatus(context, *store, QStringLiteral(" Undo available.")); // the tool keeps no undo
    if (!trimmed)
        co_return context.stopStatus().value_or(1);
    context.out() << *trimmed << Qt::endl;
    co_return 0;
}

QCoro::Task<int> renameCommand(ToolContext &context)
{
    if (context.arguments().size() != 2)
        co_return context.usage(QStringLiteral("rename takes TAKE NEWNAME."));
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    const auto item = libraryItem(context, *store, context.arguments().first());
    if (!item)
        co_return 1;
    const auto renamed = co_await store->rename(*item, context.arguments().at(1));
    printStatus(context, *store);
    if (!renamed)
        co_return 1;
    context.out() << *renamed << Qt::endl;
    co_return 0;
}

QCoro::Task<int> removeCommand(ToolContext &context)
{
    if (context.arguments().isEmpty())
        co_return context.usage(QStringLiteral("delete takes one or more TAKEs."));
    auto *store = co_await context.library();
    if (!store)
        co_return 1;
    QVector<RecordingItem> items;
    for (const auto &argument : context.arguments()) {
        const auto item = libraryItem(context, *store, argument);
        if (!item)
            co_return 1;
        if (!items.contains(*item))
            items.push_back(*item);
    }
    const bool trashed = co_await store->deleteRecordings(items);
    printStatus(context, *store);
    co_return trashed ? 0 : 1;
}

QCoro::Task<int> encodeMP3Command(ToolContext &context)
{
    auto rate = AudioBitRate::kbps192;
    if (const auto text = context.takeOption(QStringLiteral("--bitrate"))) {
        const auto parsed = AudioBitRates::fromKilobits(text->toLongLong());
        if (!parsed)
            co_return context.usage(QStringLiteral("--bitrate is one of 128, 192, 256 or 320, not “%1”.").arg(*text));
        rate = *parsed;
    }
    if (context.arguments().size() != 2)
        co_return context.usage(QStringLiteral("encode-mp3 takes WAV MP3 [--bitrate 128|192|256|320]."));
    const auto wav = QFileInfo(context.arguments().at(0)).absoluteFilePath();
    const auto mp3 = QFileInfo(context.arguments().at(1)).absoluteFilePath();
    if (!QFileInfo(wav).isFile())
        co_return context.fail(QStringLiteral("“%1” does not exist.").arg(context.arguments().at(0)));
    if (QFileInfo::exists(mp3) || QFileInfo(mp3).isSymLink())
        co_return context.fail(QStringLiteral("“%1” already exists.").arg(context.arguments().at(1)));

    // The library is not needed here, so it is not scanned.
    TakeFinalizer finalizer(QString(), FileOperations::system());
    context.stopWorkOnSignals([finalizer = QPointer(&finalizer)] {
        if (finalizer)
            finalizer->cancelEncoding();
    });
    try {
        auto encode = finalizer.encodeMP3(wav, mp3, rate);
        co_await std::move(encode);
    } catch (const std::exception &error) {
        context.fail(errorText(error));
        co_return context.stopStatus().value_or(1);
    }
    context.out() << mp3 << Qt::endl;
    co_return 0;
}

} // namespace

std::vector<ToolCommand> editingCommands()
{
    return {
        {QStringLiteral("analyze"), QStringLiteral("analyze TAKE [--standard|--precise] [--folder DIR]"),
         QStringLiteral("Analyses a recording into its sidecar and tempo name, with the analysis chosen in the "
                        "settings or the one named; prints its path and the result as JSON."),
         analyzeCommand},
        {QStringLiteral("trim"), QStringLiteral("trim TAKE START END [--folder DIR]"),
         QStringLiteral("Saves START...END seconds of a recording as a new M4A file and prints its path."),
         trimCommand},
        {QStringLiteral("rename"), QStringLiteral("rename TAKE NEWNAME [--folder DIR]"),
         QStringLiteral("Renames a recording (the extension stays) and prints its new path."), renameCommand},
        {QStringLiteral("delete"), QStringLiteral("delete TAKE... [--folder DIR]"),
         QStringLiteral("Moves recordings and their sidecars to the Trash, without asking."), removeCommand},
        {QStringLiteral("encode-mp3"), QStringLiteral("encode-mp3 WAV MP3 [--bitrate 128|192|256|320]"),
         QStringLiteral("Encodes a WAV file to a new MP3 file with the bundled LAME encoder (default 192 kbps)."),
         encodeMP3Command},
    };
}
