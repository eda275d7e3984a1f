#include "media/MP3EncoderService.h"

#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegHandles.h"
#include "media/HeaderLength.h"
#include "media/MP3EncoderError.h"
#include "platform/BackgroundTask.h"
#include "platform/HelperProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

/// The encoder's standard error as one trimmed text; undecodable bytes give an empty text.
QString diagnostics(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return {};
    return text.trimmed();
}

/// Throws unless \a path is a WAV file holding uncompressed integer or float samples: the
/// encoder would turn anything else it can read into noise without complaint.
void checkPcmWav(const QString &path)
{
    // A header read directly that states PCM or float samples settles it without the demuxer.
    if (HeaderLength::wave(ByteSource::ofFile(path)))
        return;
    AVFormatContext *raw = nullptr;
    const bool opened =
        avformat_open_input(&raw, QFile::encodeName(path).constData(), av_find_input_format("wav"), nullptr) == 0;
    const FFmpeg::InputFormat format(raw);
    const auto *stream = opened && format->nb_streams == 1 ? format->streams[0] : nullptr;
    const bool pcm = stream && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
        && av_get_bits_per_sample(stream->codecpar->codec_id) > 0 && stream->codecpar->sample_rate > 0
        && stream->codecpar->ch_layout.nb_channels > 0
        && QByteArray(avcodec_get_name(stream->codecpar->codec_id)).startsWith("pcm_");
    if (!pcm)
        throw MP3EncoderError(MP3EncoderError::Code::notPcmWav, QFileInfo(path).fileName());
}

/// True when \a path holds at least one decodable frame of audio.
bool holdsAudio(const QString &path)
{
    // The encoder's Info frame counts the frames it wrote; without one, decode a frame.
    if (const auto stated = HeaderLength::mp3(ByteSource::ofFile(path)); stated && stated->length > 0)
        return true;
    try {
        AudioFileReader reader(path);
        AudioBuffer buffer;
        return reader.read(buffer, 1) > 0;
    } catch (const AudioFileError &) {
        return false;
    }
}

} // namespace

/// The encodings running now, so cancel() can stop them from any thread.
struct MP3EncoderService::Runs {
    std::mutex mutex;
    std::vector<std::shared_ptr<std::atomic<bool>>> running; ///< each run's cancel flag

    std::shared_ptr<std::atomic<bool>> begin()
    {
        const std::lock_guard lock(mutex);
        return running.emplace_back(std::make_shared<std::atomic<bool>>(false));
    }
    void end(const std::shared_ptr<std::atomic<bool>> &run)
    {
        const std::lock_guard lock(mutex);
        running.erase(std::remove(running.begin(), running.end(), run), running.end());
    }
    void cancelAll()
    {
        const std::lock_guard lock(mutex);
        for (const auto &run : running)
            run->store(true);
    }

    /// Runs the encoder to completion on the calling thread; throws on any failure.
    void encode(const QString &program, const QStringList &arguments, const QString &destinationURL)
    {
        const auto cancelled = begin();
        const auto ended = qScopeGuard([&] { end(cancelled); });
        HelperProcess helper;
        QProcess process;
        helper.prepare(process, HelperProcess::encoderEnvironment());
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, arguments, QIODevice::ReadOnly);
        if (!process.waitForStarted(-1)) {
            throw AppError(QStringLiteral("The encoder “%1” could not be started: %2")
                               .arg(QFileInfo(program).fileName(), process.errorString()));
        }
        // The encoder is killed here, by its owner, never by a process number that may be reused.
        while (process.state() != QProcess::NotRunning && !process.waitForFinished(100)) {
            if (cancelled->load())
                process.kill();
        }
        if (cancelled->load())
            throw MP3EncoderError(MP3EncoderError::Code::cancelled);
        const bool succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!succeeded)
            throw MP3EncoderError(MP3EncoderError::Code::encodingFailed, diagnostics(process.readAllStandardError()));
        // A clean exit without audio would otherwise be reported as a saved recording.
        if (!QFileInfo(destinationURL).isFile() || !holdsAudio(destinationURL))
            throw MP3EncoderError(MP3EncoderError::Code::encodingFailed,
                                  QStringLiteral("MP3 encoding failed: the encoder wrote no audio."));
    }
};

MP3EncoderService::MP3EncoderService(QString encodersFolder, QObject *parent)
    : QObject(parent), m_encodersFolder(std::move(encodersFolder)), m_runs(std::make_shared<Runs>())
{}

QString MP3EncoderService::defaultEncodersFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vespertone/Encoders"));
}

std::optional<QString> MP3EncoderService::encoderLocation() const
{
    const auto folder = m_encodersFolder.isEmpty() ? defaultEncodersFolder() : m_encodersFolder;
    const auto path = QDir(folder).filePath(QStringLiteral("lame"));
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

bool MP3EncoderService::isAvailable() const
{
    const auto path = encoderLocation();
    if (!path)
        return false;
    const QFileInfo info(*path);
    return info.isFile() && info.isExecutable();
}

QStringList MP3EncoderService::arguments(const QString &wavURL, const QString &destinationURL, AudioBitRate bitRate)
{
    return {QStringLiteral("--silent"),
            QStringLiteral("--cbr"),
            QStringLiteral("-b"),
            QString::number(AudioBitRates::rawValue(bitRate) / 1000),
            wavURL,
            destinationURL};
}

QCoro::Task<QString> MP3EncoderService::encode(QString wavURL, QString destinationURL, AudioBitRate bitRate)
{
    const auto encoder = encoderLocation();
    if (!encoder)
        throw MP3EncoderError(MP3EncoderError::Code::missingEncoder);
    auto work = [program = *encoder, arguments = arguments(wavURL, destinationURL, bitRate), wavURL, destinationURL,
                 runs = m_runs] {
        checkPcmWav(wavURL);
        const bool existed = QFileInfo::exists(destinationURL) || QFileInfo(destinationURL).isSymLink();
        try {
            runs->encode(program, arguments, destinationURL);
        } catch (...) {
            // Whatever the encoder left of its output is no MP3; a file that was there stays.
            if (!existed)
                QFile::remove(destinationURL);
            throw;
        }
    };
    auto running = BackgroundTask::run(std::move(work));
    co_await std::move(running);
    co_return destinationURL;
}

void MP3EncoderService::cancel()
{
    m_runs->cancelAll();
}
