#pragma once

#include "base/AudioBitRate.h"

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class FileOperations;
class MP3EncoderService;
class QNetworkAccessManager;
class WorkFile;
struct RecordingMetadata;
class QNetworkReply;
class QProcess;

/// Turns a web address into an MP3 file in the save folder: a direct media file is downloaded,
/// a web page (with the user's confirmation of rights) is handed to yt-dlp; either is decoded to
/// 16-bit WAV and encoded by lame. Work files live in the work folder and never outlast an import.
class URLAudioImportService : public QObject {
    Q_OBJECT
public:
    /// Called on the GUI thread with each progress text.
    using Progress = std::function<void(const QString &)>;
    /// Called on the GUI thread with the complete MP3 work file just before it is published:
    /// the new file's first sidecar, which takes its name before the audio does.
    using Sidecar = std::function<RecordingMetadata(const QString &mp3)>;

    /// Looks for lame and yt-dlp in \a encodersFolder first (empty means the installed one);
    /// publishes through \a files (none: the system's), which outlives the service.
    explicit URLAudioImportService(QString encodersFolder = {}, FileOperations *files = nullptr,
                                   QObject *parent = nullptr);
    ~URLAudioImportService() override;

    [[nodiscard]] MP3EncoderService &mp3Encoder() const { return *m_mp3Encoder; }

    /// Imports \a url into \a folder as MP3 at \a bitRate and returns the new file, with the
    /// sidecar \a sidecar gives when given. Throws URLAudioImportError, MP3EncoderError or
    /// AppError; no work file stays either way, and a stopped process's are swept later.
    QCoro::Task<QString> importMP3(QUrl url, QString folder, AudioBitRate bitRate, bool allowWebExtraction,
                                   Progress progress, Sidecar sidecar = {});
    /// Stops the running import, which then throws the cancelled error after cleaning up.
    void cancel();

    /// True for the media sites' hosts and their subdomains.
    [[nodiscard]] static bool isKnownStreamingPageHost(const QString &host);
    /// True for HTML and XML types (without parameters, any case).
    [[nodiscard]] static bool isWebpageMIMEType(const QString &mimeType);
    /// The line of yt-dlp's standard error \a text worth showing; empty for an empty text.
    [[nodiscard]] static QString displayError(const QString &text);
    /// yt-dlp's arguments for writing \a url's audio to \a outputTemplate.
    [[nodiscard]] static QStringList extractorArguments(const QString &outputTemplate, const QUrl &url);
    /// The program's environment with the fixed search path for helper programs.
    [[nodiscard]] static QProcessEnvironment processEnvironment();
    /// \a name in the Encoders folder, else in /usr/local/bin or /usr/bin, when executable.
    [[nodiscard]] std::optional<QString> executableURL(const QString &name) const;
    /// The cleaned base name of the result for \a url, "Imported STAMP" when nothing is left.
    [[nodiscard]] static QString resultBaseName(const QUrl &url, const QDateTime &now);
    /// Decodes the first audio stream of \a source into a 48000 Hz stereo 16-bit WAV at
    /// \a destination; blocks. Throws URLAudioImportError (noAudioTrack, transcodeFailed, or
    /// cancelled once \a cancelled is set).
    static void transcodeToWAV(const QString &source, const QString &destination,
                               const std::atomic<bool> *cancelled = nullptr);

    /// A download that receives nothing for this long fails (30 s; tests shorten it).
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stallTimeout = timeout; }
    /// The folders searched after the Encoders folder (/usr/local/bin, /usr/bin; tests replace them).
    void setSystemFolders(QStringList folders) { m_systemFolders = std::move(folders); }
    /// The largest body accepted besides the free space of the folder's disk (4 GiB).
    void setMaximumDownloadSize(qint64 bytes) { m_maximumDownloadSize = bytes; }
    static constexpr qint64 defaultMaximumDownloadSize = qint64(4) << 30;

signals:
    /// Bytes received so far and the total when the server declared it (else -1).
    void downloadProgress(qint64 received, qint64 total);

private:
    QCoro::Task<QString> importDirect(QUrl url, QString folder, AudioBitRate bitRate, Progress progress,
                                      Sidecar sidecar);
    /// Downloads \a url into the new work file \a path and returns it.
    QCoro::Task<QString> download(QUrl url, QString path);
    QCoro::Task<QString> extractWebAudioMP3(QUrl url, QString folder, AudioBitRate bitRate, Progress progress,
                                            Sidecar sidecar);
    QCoro::Task<> runExtractor(QString program, QStringList arguments);
    /// Transcodes \a source, encodes the WAV and publishes the MP3 as \a baseName in \a folder;
    /// its work files belong to \a work.
    QCoro::Task<QString> encodeIntoLibrary(QString source, QString folder, QString baseName, WorkFile &work,
                                           AudioBitRate bitRate, Progress progress, QString convertingText,
                                           Sidecar sidecar);
    [[nodiscard]] static std::optional<QString> extractedAudioURL(const QString &folder, const QString &stem);
    static void cleanupTemporaryFiles(const QString &folder, const QString &stem);
    void throwIfCancelled() const;

    QString m_encodersFolder;
    FileOperations &m_files;
    MP3EncoderService *m_mp3Encoder;
    QNetworkAccessManager *m_network;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    QPointer<QNetworkReply> m_reply;
    QPointer<QProcess> m_process;
    QStringList m_systemFolders{QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin")};
    std::chrono::milliseconds m_stallTimeout{30000};
    qint64 m_maximumDownloadSize = defaultMaximumDownloadSize;
};
