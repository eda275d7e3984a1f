#include "store/ImportCommands.h"

#include "base/AppError.h"
#include "import/URLAudioImportError.h"
#include "import/URLAudioImportService.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/UrlOpener.h"
#include "store/EditingCommands.h"
#include "store/RecordingWorkflow.h"
#include "store/StoreContext.h"
#include "store/StoreSettings.h"

#include <QFileInfo>
#include <QPointer>

namespace {
const auto ownIdentifier = QString::fromLatin1(RecordingWorkflow::ownBundleIdentifier);

/// Only web addresses go to the browser: a sidecar naming a local file or another scheme could
/// otherwise start any program.
std::optional<QUrl> openableURL(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    const auto scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}
} // namespace

ImportCommands::ImportCommands(Services services, QObject *parent)
    : QObject(parent), m_context(services.context), m_settings(services.settings), m_dialogs(services.dialogs),
      m_editing(services.editing), m_opener(services.opener), m_soundServer(services.soundServer),
      m_sources(services.sources),
      m_urlImporter(new URLAudioImportService(services.encodersFolder, &services.context.files(), this))
{}

ImportCommands::~ImportCommands() = default;

std::optional<QUrl> ImportCommands::remoteURL(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const auto scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    return url;
}

QCoro::Task<> ImportCommands::promptImportURL()
{
    QPointer self(this);
    auto ask = m_dialogs.askText(QStringLiteral("Import URL to MP3"),
                                 QStringLiteral("Paste a direct audio/video file URL or a supported web page URL. For "
                                                "web pages, only continue if you own the content or have permission."),
                                 QString());
    const auto text = co_await std::move(ask);
    if (!self || !text)
        co_return;
    bool allowWebExtraction = false;
    const auto url = remoteURL(*text);
    if (url && URLAudioImportService::isKnownStreamingPageHost(url->host())) {
        auto confirm = confirmRightsForWebExtraction(*url);
        const bool confirmed = co_await std::move(confirm);
        if (!self || !confirmed)
            co_return;
        allowWebExtraction = true;
    }
    auto import = importURL(*text, allowWebExtraction);
    co_await std::move(import);
}

QCoro::Task<bool> ImportCommands::confirmRightsForWebExtraction(QUrl url)
{
    auto confirm = m_dialogs.confirm(QStringLiteral("Confirm Rights to Extract"),
                                     QStringLiteral("Only extract audio from web pages when you own the content or "
                                                    "have permission from the rights holder. This may also be "
                                                    "restricted by the source service.\n\nURL: ")
                                         + url.toString(QUrl::FullyEncoded),
                                     QStringLiteral("I Have Rights, Extract"));
    co_return co_await std::move(confirm);
}

QCoro::Task<std::optional<QString>> ImportCommands::importURL(QString text, bool allowWebExtraction,
                                                              std::optional<AudioBitRate> bitRate)
{
    if (m_isImportingURL)
        co_return std::nullopt;
    const auto url = remoteURL(text);
    if (!url) {
        m_context.showFailure(lcImport(), URLAudioImportError(URLAudioImportError::Code::unsupportedURL));
        co_return std::nullopt;
    }
    if (!m_urlImporter->mp3Encoder().isAvailable()) {
        m_context.showFailure(lcImport(), MP3EncoderError(MP3EncoderError::Code::missingEncoder));
        co_return std::nullopt;
    }
    QPointer self(this);
    setImportingURL(true);
    m_context.setStatus(QStringLiteral("Importing URL"));
    QString file;
    try {
        auto progress = [self](const QString &text) {
            if (self)
                self->m_context.setStatus(text);
        };
        // The new file takes its sidecar, with the address as its source, along into the library.
        auto sidecar = [address = *url, clock = &m_context.clock()](const QString &mp3) {
            return importMetadata(address, mp3, clock->now());
        };
        auto import = m_urlImporter->importMP3(*url, m_context.folder(), bitRate.value_or(m_settings.aacBitRate()),
                                               allowWebExtraction, progress, sidecar);
        file = co_await std::move(import);
        if (!self)
            co_return std::nullopt;
    } catch (const std::exception &error) {
        if (self) {
            m_context.showFailure(lcImport(), error);
            setImportingURL(false);
        }
        co_return std::nullopt;
    }
    m_context.setStatus(QStringLiteral("Imported ") + QFileInfo(file).fileName());
    m_context.prepareWaveform(file);
    co_await m_context.refresh(file);
    if (!self)
        co_return file;
    m_context.setStatus(QStringLiteral("Analyzing imported audio"));
    auto analyze = m_editing.analyze(file);
    const auto analyzed = co_await std::move(analyze);
    if (self)
        setImportingURL(false);
    co_return analyzed.value_or(file);
}

void ImportCommands::cancelImport()
{
    if (m_isImportingURL)
        m_urlImporter->cancel();
}

RecordingMetadata ImportCommands::importMetadata(const QUrl &url, const QString &file, const QDateTime &now)
{
    auto metadata = RecordingMetadata::fresh(RecordingScanner::fileCreationDate(file));
    RecordingSourceContext source;
    source.appName = QStringLiteral("URL Import");
    if (!url.host().isEmpty())
        source.windowTitle = url.host();
    source.urlString = url.toString(QUrl::FullyEncoded);
    source.capturedAt = now;
    metadata.source = source;
    return metadata;
}

QCoro::Task<> ImportCommands::openSource(RecordingItem item)
{
    const auto &source = item.metadata.source;
    if (!source) {
        m_context.setStatus(QStringLiteral("No source was captured for this recording."));
        co_return;
    }
    if (source->urlString && QUrl(*source->urlString, QUrl::StrictMode).isValid()
        && !QUrl(*source->urlString).scheme().isEmpty()) {
        const auto url = openableURL(source->urlString);
        m_context.setStatus(url && m_opener.openUrl(*url) ? QStringLiteral("Opened source")
                                                          : QStringLiteral("Could not open source URL."));
        co_return;
    }
    if (!SourceContextService::browserIdentifier(source->bundleIdentifier)) {
        m_context.setStatus(QStringLiteral("No URL was captured for this source."));
        co_return;
    }
    QPointer self(this);
    m_context.setStatus(QStringLiteral("Finding source URL"));
    // The session files and the bus are read off the GUI thread.
    auto *server = &m_soundServer;
    auto *clock = &m_context.clock();
    const auto sources = m_sources;
    const auto stored = *source;
    auto lookup = BackgroundTask::run([server, clock, sources, stored] {
        return SourceContextService(*server, *clock, sources).refreshedURLContext(stored, ownIdentifier);
    });
    const auto fresh = co_await std::move(lookup);
    if (!self)
        co_return;
    const auto url = fresh ? openableURL(fresh->urlString) : std::nullopt;
    if (!url) {
        m_context.setStatus(QStringLiteral("Source URL was not available. The browser saves its session every few seconds; "
                                            "try again in a moment."));
        co_return;
    }
    try {
        auto metadata = MetadataStore::load(item.url).value_or(item.metadata);
        metadata.source = fresh;
        MetadataStore::save(metadata, item.url);
    } catch (const std::exception &error) {
        m_context.showFailure(lcImport(), error);
        co_return;
    }
    m_context.setStatus(m_opener.openUrl(*url) ? QStringLiteral("Opened source")
                                               : QStringLiteral("Saved source URL, but could not open it."));
    co_await m_context.refresh(item.url);
}

void ImportCommands::setImportingURL(bool importing)
{
    if (importing == m_isImportingURL)
        return;
    m_isImportingURL = importing;
    emit isImportingURLChanged();
}
