#pragma once

#include "base/AudioBitRate.h"
#include "import/SourceContextService.h"
#include "library/RecordingItem.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>
#include <qcoro/qcorotask.h>

class Dialogs;
class EditingCommands;
class SoundServer;
class StoreContext;
class StoreSettings;
class URLAudioImportService;
class UrlOpener;

/// The store's commands for bringing audio in from a web address and for going back to where a
/// recording came from. Each reports its outcome as the status.
class ImportCommands : public QObject {
    Q_OBJECT
public:
    struct Services {
        StoreContext &context;
        StoreSettings &settings;
        Dialogs &dialogs;
        EditingCommands &editing;
        UrlOpener &opener;
        SoundServer &soundServer;
        SourceContextService::Sources sources;
        QString encodersFolder; ///< where lame and yt-dlp are looked up first; empty: installed
    };

    explicit ImportCommands(Services services, QObject *parent = nullptr);
    ~ImportCommands() override;

    [[nodiscard]] bool isImportingURL() const { return m_isImportingURL; }
    [[nodiscard]] URLAudioImportService &urlImporter() const { return *m_urlImporter; }

    /// Asks for an address (and, for a media site, the rights confirmation) and imports it.
    QCoro::Task<> promptImportURL();
    /// Imports the typed \a text as MP3 at \a bitRate (none: the stored rate), selects and
    /// analyses the new file; returns its final path, or none (the status says why). Ignored
    /// while another import runs.
    QCoro::Task<std::optional<QString>> importURL(QString text, bool allowWebExtraction,
                                                  std::optional<AudioBitRate> bitRate = std::nullopt);
    /// Stops the running import; it ends with the cancelled status and leaves no work files.
    void cancelImport();
    /// Opens the web address \a item came from, finding a fresh one in its browser when none was
    /// stored.
    QCoro::Task<> openSource(RecordingItem item);

    /// The http or https address with a host that \a text names, trimmed; else none.
    [[nodiscard]] static std::optional<QUrl> remoteURL(const QString &text);
    /// The first sidecar of \a file, imported from \a url: made when the file was, its source the
    /// address, captured at \a now.
    [[nodiscard]] static RecordingMetadata importMetadata(const QUrl &url, const QString &file, const QDateTime &now);

signals:
    void isImportingURLChanged();

private:
    QCoro::Task<bool> confirmRightsForWebExtraction(QUrl url);
    void setImportingURL(bool importing);

    StoreContext &m_context;
    StoreSettings &m_settings;
    Dialogs &m_dialogs;
    EditingCommands &m_editing;
    UrlOpener &m_opener;
    SoundServer &m_soundServer;
    SourceContextService::Sources m_sources;
    URLAudioImportService *m_urlImporter;
    bool m_isImportingURL = false;
};
