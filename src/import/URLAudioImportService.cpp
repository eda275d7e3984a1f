#include "import/URLAudioImportService.h"

#include "import/MediaHosts.h"
#include "import/URLAudioImportError.h"
#include "library/Formatters.h"
#include "library/LibraryFileMoves.h"
#include "library/RecordingMetadata.h"
#include "library/UniqueFileNamer.h"
#include "library/WorkFile.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegHandles.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "platform/BackgroundTask.h"
#include "platform/HelperProcess.h"
#include "platform/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QTimer>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorosignal.h>

#include <sndfile.h>

namespace {

using Code = URLAudioImportError::Code;

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};

/// The last path component of \a url as written (still percent-encoded).
QString lastComponent(const QUrl &url)
{
    const auto path = url.path(QUrl::FullyEncoded);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

/// The path extension of \a url when it is a plain one, else "media".
QString downloadExtension(const QUrl &url)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
    const auto name = lastComponent(url);
    const auto dot = name.lastIndexOf(u'.');
    const auto extension = dot > 0 ? name.mid(dot + 1) : QString();
    return plain.match(extension).hasMatch() ? extension : QStringLiteral("media");
}

QString hostText(const QUrl &url)
{
    const auto host = url.host();
    return host.isEmpty() ? QStringLiteral("That URL") : host;
}

/// Why the redirect policy stopped \a reply, when it did.
std::optional<URLAudioImportError> refusedRedirect(const QNetworkReply &reply)
{
    const auto refused = [](const QString &text) { return URLAudioImportError(Code::downloadFailed, text); };
    switch (reply.error()) {
    case QNetworkReply::InsecureRedirectError:
        return refused(QStringLiteral("The server redirected to an unencrypted http address, which is not followed."));
    case QNetworkReply::TooManyRedirectsError:
        return refused(QStringLiteral("The server redirected too many times, probably in a loop."));
    case QNetworkReply::ProtocolUnknownError: {
        const auto scheme = QUrl(QString::fromUtf8(reply.rawHeader("Location"))).scheme().toLower();
        if (scheme.isEmpty() || scheme.size() > 20)
            return refused(QStringLiteral("The server redirected to an address that is not a web address, which is "
                                          "not followed."));
        return refused(
            QStringLiteral("The server redirected to a non-web address (“%1:”), which is not followed.").arg(scheme));
    }
    default: return std::nullopt;
    }
}

using Flag = std::shared_ptr<std::atomic<bool>>;

/// After a suspension: throws the cancelled error when the import was cancelled meanwhile or
/// its service is gone (nothing of it may be touched then).
void checkResumed(const QPointer<URLAudioImportService> &self, const Flag &cancelled)
{
    if (!self || cancelled->load())
        throw URLAudioImportError(Code::cancelled);
}

/// The intermediate WAV, "Import STAMP.wav" in \a folder's work folder, made empty under its own
/// lock so that neither another import nor a sweep takes it.
std::pair<QString, WorkLock> importWAV(const QString &folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto wav =
            UniqueFileNamer::temporaryImportURL(folder, QDateTime::currentDateTime(), QStringLiteral("wav"));
        auto lock = WorkLock::acquire(wav);
        QFile file(wav);
        if (lock && file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return {wav, std::move(*lock)};
    }
    throw URLAudioImportError(Code::transcodeFailed, QStringLiteral("No work file could be made for the audio."));
}

} // namespace

URLAudioImportService::URLAudioImportService(QString encodersFolder, FileOperations *files, QObject *parent)
    : QObject(parent), m_encodersFolder(std::move(encodersFolder)), m_files(files ? *files : FileOperations::system()),
      m_mp3Encoder(new MP3EncoderService(m_encodersFolder, this)), m_network(new QNetworkAccessManager(this)),
      m_cancelled(std::make_shared<std::atomic<bool>>(false))
{}

URLAudioImportService::~URLAudioImportService() = default;

bool URLAudioImportService::isKnownStreamingPageHost(const QString &host)
{
    return MediaHosts::isMediaHost(host);
}

bool URLAudioImportService::isWebpageMIMEType(const QString &mimeType)
{
    const auto type = mimeType.section(u';', 0, 0).trimmed().toLower();
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml")
        || type == QLatin1String("text/xml") || type == QLatin1String("application/xml");
}

QString URLAudioImportService::displayError(const QString &text)
{
    const auto trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.contains(QLatin1String("[PYI-"))
        && trimmed.contains(QLatin1String("Failed to load Python shared library")))
        return QStringLiteral("The web extractor could not load its Python runtime. Reinstall yt-dlp with “sudo apt "
                              "install --reinstall yt-dlp”, then try again.");
    QStringList lines;
    for (const auto &line : trimmed.split(QRegularExpression(QStringLiteral("[\\r\\n]")))) {
        if (const auto clean = line.trimmed(); !clean.isEmpty())
            lines << clean;
    }
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->contains(QLatin1String("ERROR:"), Qt::CaseInsensitive))
            return *line;
    }
    return lines.last();
}

QStringList URLAudioImportService::extractorArguments(const QString &outputTemplate, const QUrl &url)
{
    // No configuration file is read (one in the working folder could run commands), and the
    // address can never be taken for an option.
    return {QStringLiteral("--ignore-config"),
            QStringLiteral("--no-playlist"),
            QStringLiteral("--format"),
            QStringLiteral("bestaudio[ext=m4a]/bestaudio[acodec^=mp4a]"),
            QStringLiteral("-o"),
            outputTemplate,
            QStringLiteral("--"),
            url.toString(QUrl::FullyEncoded)};
}

QProcessEnvironment URLAudioImportService::processEnvironment()
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
    return environment;
}

std::optional<QString> URLAudioImportService::executableURL(const QString &name) const
{
    const auto encoders = m_encodersFolder.isEmpty() ? MP3EncoderService::defaultEncodersFolder() : m_encodersFolder;
    QStringList candidates{QDir(encoders).filePath(name)};
    for (const auto &folder : m_systemFolders)
        candidates << QDir(folder).filePath(name);
    for (const auto &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return std::nullopt;
}

QString URLAudioImportService::resultBaseName(const QUrl &url, const QDateTime &now)
{
    auto component = lastComponent(url);
    if (const auto dot = component.lastIndexOf(u'.'); dot > 0)
        component.truncate(dot);
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder(QByteArray::fromPercentEncoding(component.toUtf8()));
    if (decoder.hasError())
        decoded.clear();
    auto name = UniqueFileNamer::sanitizedBaseName(decoded);
    // A leading dot would hide the file from the library.
    while (name.startsWith(u'.'))
        name = name.mid(1).trimmed();
    // Room for a counter and the sidecar's suffix within the usual 255-byte name limit.
    while (name.toUtf8().size() > 200)
        name.chop(1);
    name = name.trimmed();
    if (name.isEmpty())
        return QStringLiteral("Imported ") + AppDateFormatters::fileStamp(now);
    return name;
}

void URLAudioImportService::cancel()
{
    m_cancelled->store(true);
    if (m_reply)
        m_reply->abort();
    if (m_process)
        m_process->kill();
    m_mp3Encoder->cancel();
}

void URLAudioImportService::throwIfCancelled() const
{
    if (m_cancelled->load())
        throw URLAudioImportError(Code::cancelled);
}

QCoro::Task<QString> URLAudioImportService::importMP3(QUrl url, QString folder, AudioBitRate bitRate,
                                                      bool allowWebExtraction, Progress progress, Sidecar sidecar)
{
    // Each import starts with its own flag, so a cancel of a finished import cannot reach it.
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
    const auto scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        throw URLAudioImportError(Code::unsupportedURL);
    if (!url.host().isEmpty() && isKnownStreamingPageHost(url.host())) {
        if (!allowWebExtraction)
            throw URLAudioImportError(Code::streamingPage, url.host());
        progress(QStringLiteral("Extracting web audio"));
        auto extract = extractWebAudioMP3(url, folder, bitRate, progress, sidecar);
        co_return co_await std::move(extract);
    }
    if (!m_mp3Encoder->isAvailable())
        throw MP3EncoderError(MP3EncoderError::Code::missingEncoder);
    QPointer self(this);
    const auto cancelled = m_cancelled;
    bool webpage = false;
    try {
        auto direct = importDirect(url, folder, bitRate, progress, sidecar);
        co_return co_await std::move(direct);
    } catch (const URLAudioImportError &error) {
        if (error.code() != Code::webpageURL || !allowWebExtraction)
            throw;
        webpage = true;
    }
    Q_ASSERT(webpage);
    checkResumed(self, cancelled);
    progress(QStringLiteral("Extracting web audio"));
    auto extract = extractWebAudioMP3(url, folder, bitRate, progress, sidecar);
    co_return co_await std::move(extract);
}

QCoro::Task<QString> URLAudioImportService::importDirect(QUrl url, QString folder, AudioBitRate bitRate,
                                                         Progress progress, Sidecar sidecar)
{
    QPointer self(this);
    const auto cancelled = m_cancelled;
    auto work = WorkFile::create(folder);
    progress(QStringLiteral("Downloading URL"));
    auto fetch = download(url, work.sibling(u'.' + downloadExtension(url)));
    const auto downloaded = co_await std::move(fetch);
    checkResumed(self, cancelled);
    const auto base = resultBaseName(url, QDateTime::currentDateTime());
    auto encode = encodeIntoLibrary(downloaded, folder, base, work, bitRate, progress,
                                    QStringLiteral("Extracting audio"), sidecar);
    co_return co_await std::move(encode);
}

QCoro::Task<QString> URLAudioImportService::download(QUrl url, QString path)
{
    throwIfCancelled();
    const auto workFolder = QFileInfo(path).absolutePath();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw URLAudioImportError(Code::downloadFailed, file.errorString());

    QStorageInfo storage(workFolder);
    const qint64 freeSpace = storage.isValid() ? storage.bytesAvailable() : -1;
    const bool diskLimits = freeSpace >= 0 && freeSpace < m_maximumDownloadSize;
    const qint64 limit = diskLimits ? freeSpace : m_maximumDownloadSize;
    const auto tooLarge = diskLimits
        ? QStringLiteral("The download is larger than the free space on the save folder’s disk.")
        : QStringLiteral("The download is larger than the %1 limit.")
              .arg(QLocale::c().formattedDataSize(m_maximumDownloadSize, 0, QLocale::DataSizeIecFormat));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // Media files gain nothing from compression, and a compressed body could unpack to far more
    // than it is: the body is asked for, and taken, as it is stored.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    // Never more than this much of the body waits in memory.
    reply->setReadBufferSize(1 << 20);
    std::optional<URLAudioImportError> failure;
    bool checked = false;
    qint64 received = 0;
    std::optional<qint64> declared; // the accepted response's length, when stated
    QTimer stall;
    stall.setSingleShot(true);
    // The abort runs from the event loop: it finishes the reply, which ends this coroutine.
    const auto fail = [&failure, reply](URLAudioImportError error) {
        if (!failure)
            failure = std::move(error);
        QMetaObject::invokeMethod(
            reply,
            [reply] {
                if (!reply->isFinished())
                    reply->abort();
            },
            Qt::QueuedConnection);
    };
    const auto check = [&]() -> bool {
        if (checked)
            return !failure;
        const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            return true;
        const int code = status.toInt();
        // A redirect is followed, or refused by the redirect policy, whose error tells why.
        if (code >= 300 && code <= 399 && (!reply->isFinished() || reply->error() != QNetworkReply::NoError))
            return true;
        checked = true;
        if (const auto length = reply->header(QNetworkRequest::ContentLengthHeader); length.isValid())
            declared = length.toLongLong();
        if (code < 200 || code > 299) {
            fail(URLAudioImportError(Code::downloadFailed, QStringLiteral("The server returned HTTP %1.").arg(code)));
            return false;
        }
        if (isWebpageMIMEType(reply->header(QNetworkRequest::ContentTypeHeader).toString())) {
            fail(URLAudioImportError(Code::webpageURL, hostText(url)));
            return false;
        }
        if (const auto encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
            !encoding.isEmpty() && encoding != "identity") {
            fail(URLAudioImportError(Code::downloadFailed,
                                     QStringLiteral("The server sent the download compressed (%1), although it was "
                                                    "asked not to; compressed downloads are not imported.")
                                         .arg(QString::fromLatin1(encoding.left(40)))));
            return false;
        }
        if (declared.value_or(0) > limit) {
            fail(URLAudioImportError(Code::downloadFailed, tooLarge));
            return false;
        }
        return true;
    };
    QObject::connect(&stall, &QTimer::timeout, reply, [&] {
        fail(URLAudioImportError(Code::downloadFailed,
                                 QStringLiteral("The download stalled: nothing arrived for %1 seconds.")
                                     .arg(m_stallTimeout.count() / 1000.0)));
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] { check(); });
    const auto drain = [&] {
        while (reply->bytesAvailable() > 0 && !failure) {
            const auto chunk = reply->read(1 << 16);
            received += chunk.size();
            if (received > limit) {
                fail(URLAudioImportError(Code::downloadFailed, tooLarge));
                return;
            }
            if (file.write(chunk) != chunk.size()) {
                fail(URLAudioImportError(Code::downloadFailed, file.errorString()));
                return;
            }
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        stall.start(m_stallTimeout);
        if (failure || !check())
            return;
        drain();
        emit downloadProgress(received, declared.value_or(-1));
    });
    stall.start(m_stallTimeout);
    if (!reply->isFinished())
        co_await qCoro(reply, &QNetworkReply::finished);
    stall.stop();
    const auto error = reply->error();
    if (!failure)
        failure = refusedRedirect(*reply);
    if (!failure && error != QNetworkReply::OperationCanceledError && check())
        drain();
    const auto errorString = reply->errorString();
    reply->disconnect();
    reply->deleteLater();
    if (!file.flush() && !failure)
        failure = URLAudioImportError(Code::downloadFailed, file.errorString());
    file.close();
    if (!failure && m_cancelled->load())
        failure = URLAudioImportError(Code::cancelled);
    if (!failure && error != QNetworkReply::NoError)
        failure = URLAudioImportError(Code::downloadFailed, errorString);
    else if (!failure && declared && received < *declared)
        failure = URLAudioImportError(Code::downloadFailed,
                                      QStringLiteral("The connection closed before the download was complete."));
    if (failure) {
        QFile::remove(path);
        throw *failure;
    }
    co_return path;
}

QCoro::Task<QString> URLAudioImportService::encodeIntoLibrary(QString source, QString folder, QString baseName,
                                                              WorkFile &work, AudioBitRate bitRate, Progress progress,
                                                              QString convertingText, Sidecar sidecar)
{
    QPointer self(this);
    auto [wav, wavLock] = importWAV(folder);
    const auto removeWAV = qScopeGuard([wav = wav] { QFile::remove(wav); });
    const auto partial = work.sibling(QStringLiteral("-encoded.mp3"));
    progress(convertingText);
    const auto cancelled = m_cancelled;
    auto transcode = BackgroundTask::run(
        [source, wav = wav, cancelled] { URLAudioImportService::transcodeToWAV(source, wav, cancelled.get()); });
    co_await std::move(transcode);
    checkResumed(self, cancelled);
    progress(QStringLiteral("Encoding MP3"));
    auto encode = m_mp3Encoder->encode(wav, partial, bitRate);
    co_await std::move(encode);
    checkResumed(self, cancelled);
    const auto metadata = sidecar ? std::optional(sidecar(partial)) : std::nullopt;
    auto publish = BackgroundTask::run([partial, folder, baseName, metadata, files = &m_files] {
        const auto mp3 = QStringLiteral("mp3");
        return metadata ? LibraryFileMoves::publishWithSidecar(partial, folder, baseName, mp3, *metadata, *files)
                        : LibraryFileMoves::publish(partial, folder, baseName, mp3, false, *files);
    });
    co_return co_await std::move(publish);
}

QCoro::Task<QString> URLAudioImportService::extractWebAudioMP3(QUrl url, QString folder, AudioBitRate bitRate,
                                                               Progress progress, Sidecar sidecar)
{
    const auto program = executableURL(QStringLiteral("yt-dlp"));
    if (!program)
        throw URLAudioImportError(Code::missingWebExtractor);
    QPointer self(this);
    const auto cancelled = m_cancelled;
    auto work = WorkFile::create(folder);
    const auto workFolder = QFileInfo(work.path()).absolutePath();
    const auto stem = QFileInfo(work.path()).fileName();
    // Whatever yt-dlp leaves goes with the import: STEM.m4a.part, STEM.temp.m4a, STEM.f140.m4a, ...
    const auto cleanup = qScopeGuard([workFolder, stem] { cleanupTemporaryFiles(workFolder, stem); });
    const auto outputTemplate = work.path() + QStringLiteral(".%(ext)s");
    const auto base = resultBaseName(url, QDateTime::currentDateTime());
    auto run = runExtractor(*program, extractorArguments(outputTemplate, url));
    co_await std::move(run);
    checkResumed(self, cancelled);
    const auto output = extractedAudioURL(workFolder, stem);
    if (!output)
        throw URLAudioImportError(Code::downloadFailed,
                                  QStringLiteral("The web extractor did not produce an audio file."));
    auto encode =
        encodeIntoLibrary(*output, folder, base, work, bitRate, progress, QStringLiteral("Converting audio"), sidecar);
    co_return co_await std::move(encode);
}

QCoro::Task<> URLAudioImportService::runExtractor(QString program, QStringList arguments)
{
    throwIfCancelled();
    QPointer self(this);
    const auto cancelled = m_cancelled;
    HelperProcess helper;
    QProcess process;
    m_process = &process;
    helper.prepare(process, processEnvironment());
    process.setStandardInputFile(QProcess::nullDevice());
    // Its progress lines are never read; a pipe nobody reads would stop it once full.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProgram(program);
    process.setArguments(arguments);
    auto start = qCoro(process).start(QIODevice::ReadOnly, std::chrono::milliseconds(-1));
    const bool started = co_await std::move(start);
    if (!started) {
        const auto error = process.errorString();
        throw AppError(QStringLiteral("The web extractor could not be started: %1").arg(error));
    }
    auto finish = qCoro(process).waitForFinished(std::chrono::milliseconds(-1));
    co_await std::move(finish);
    checkResumed(self, cancelled);
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        co_return;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(process.readAllStandardError());
    if (decoder.hasError())
        text.clear();
    throw URLAudioImportError(Code::downloadFailed, displayError(text));
}

std::optional<QString> URLAudioImportService::extractedAudioURL(const QString &folder, const QString &stem)
{
    const QDir dir(folder);
    for (const auto &info : dir.entryInfoList(QDir::Files, QDir::Name)) {
        const auto extension = info.suffix().toLower();
        if (info.completeBaseName() == stem && (extension == QLatin1String("m4a") || extension == QLatin1String("mp4")))
            return info.absoluteFilePath();
    }
    return std::nullopt;
}

void URLAudioImportService::cleanupTemporaryFiles(const QString &folder, const QString &stem)
{
    const QDir dir(folder);
    for (const auto &name : dir.entryList({stem + QStringLiteral(".*"), stem + QStringLiteral("-*")}, QDir::Files))
        QFile::remove(dir.filePath(name));
}

void URLAudioImportService::transcodeToWAV(const QString &source, const QString &destination,
                                           const std::atomic<bool> *cancelled)
{
    std::optional<AudioFileReader> reader;
    try {
        reader.emplace(source);
    } catch (const AudioFileError &error) {
        if (error.code() == AudioFileError::Code::decodeFailed)
            throw URLAudioImportError(Code::transcodeFailed, error.text());
        throw URLAudioImportError(Code::noAudioTrack);
    }
    const int channels = reader->channelCount();
    const int rate = int(std::lround(reader->sampleRate()));
    if (channels <= 0 || rate <= 0)
        throw URLAudioImportError(Code::noAudioTrack);

    AVChannelLayout inLayout{}, outLayout{};
    av_channel_layout_default(&inLayout, channels);
    av_channel_layout_default(&outLayout, 2);
    SwrContext *raw = nullptr;
    const int configured = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, 48000, &inLayout,
                                               AV_SAMPLE_FMT_FLTP, rate, 0, nullptr);
    const FFmpeg::Resampler resampler(raw);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (configured < 0 || swr_init(resampler.get()) < 0)
        throw URLAudioImportError(Code::transcodeFailed, QStringLiteral("The audio could not be resampled."));

    SF_INFO format{};
    format.samplerate = 48000;
    format.channels = 2;
    format.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    const std::unique_ptr<SNDFILE, SndfileCloser> wav(
        sf_open(QFile::encodeName(destination).constData(), SFM_WRITE, &format));
    if (!wav)
        throw URLAudioImportError(Code::transcodeFailed, QString::fromUtf8(sf_strerror(nullptr)));

    constexpr qint64 chunk = 8192;
    AudioBuffer buffer;
    std::vector<qint16> out;
    std::vector<const uint8_t *> planes(std::size_t(channels), nullptr);
    const auto writeConverted = [&](const uint8_t **input, int frames) {
        const int capacity = swr_get_out_samples(resampler.get(), frames);
        if (capacity < 0)
            throw URLAudioImportError(Code::transcodeFailed);
        out.resize(std::size_t(capacity) * 2 + 2);
        auto *output = reinterpret_cast<uint8_t *>(out.data());
        const int converted = swr_convert(resampler.get(), &output, capacity, input, frames);
        if (converted < 0)
            throw URLAudioImportError(Code::transcodeFailed, QStringLiteral("The audio could not be resampled."));
        if (sf_writef_short(wav.get(), out.data(), converted) != converted)
            throw URLAudioImportError(Code::transcodeFailed, QString::fromUtf8(sf_strerror(wav.get())));
    };
    for (;;) {
        if (cancelled && cancelled->load())
            throw URLAudioImportError(Code::cancelled);
        qint64 frames = 0;
        try {
            frames = reader->read(buffer, chunk);
        } catch (const AudioFileError &error) {
            throw URLAudioImportError(Code::transcodeFailed, error.text());
        }
        if (frames <= 0)
            break;
        for (int c = 0; c < channels; ++c)
            planes[std::size_t(c)] = reinterpret_cast<const uint8_t *>(buffer.channels[std::size_t(c)].data());
        writeConverted(planes.data(), int(frames));
    }
    writeConverted(nullptr, 0);
    if (sf_error(wav.get()) != SF_ERR_NO_ERROR)
        throw URLAudioImportError(Code::transcodeFailed, QString::fromUtf8(sf_strerror(wav.get())));
}
