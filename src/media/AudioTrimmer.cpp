#include "media/AudioTrimmer.h"

#include "base/SystemErrorText.h"
#include "media/AacM4aEncoder.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/AudioTrimmerError.h"
#include "platform/BackgroundTask.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cmath>
#include <memory>

namespace {

constexpr double timescale = 600;
constexpr double shortestTrim = 0.02;
constexpr qint64 readFrames = 8192;
constexpr qint64 bitRate = 192000;

[[noreturn]] void fail(AudioTrimmerError::Code code)
{
    throw AudioTrimmerError(code);
}

/// Runs \a work, turning an encoder failure into the trimmer's error.
template <typename Work>
auto guarded(Work work) -> decltype(work())
{
    try {
        return work();
    } catch (const AacM4aEncoder::Error &error) {
        if (error.stage() == AacM4aEncoder::Error::Stage::unavailable)
            fail(AudioTrimmerError::Code::exportUnavailable);
        // A failed write names its cause, such as a full disk.
        if (error.systemError() != 0)
            throw AudioTrimmerError(AudioTrimmerError::Code::exportFailed, systemErrorText(error.systemError()));
        fail(AudioTrimmerError::Code::exportFailed);
    }
}

/// Encodes float frames to AAC in an M4A file, failing with the trimmer's errors.
class M4AWriter {
public:
    M4AWriter(const QString &path, int sampleRate, int channels)
        : m_encoder(guarded([&] {
              return std::make_unique<AacM4aEncoder>(path, sampleRate, channels, bitRate,
                                                     AacM4aEncoder::Layout::regular);
          }))
    {}

    /// Encodes \a frames frames of \a buffer.
    void write(const AudioBuffer &buffer, qint64 frames)
    {
        std::vector<const float *> planes;
        for (const auto &channel : buffer.channels)
            planes.push_back(channel.data());
        guarded([&] { m_encoder->writePlanar(planes.data(), int(frames)); });
    }

    /// Encodes what is left, writes the trailer and closes the file.
    void finish()
    {
        guarded([&] { m_encoder->finish(); });
    }

private:
    std::unique_ptr<AacM4aEncoder> m_encoder;
};

AudioFileReader openSource(const QString &url)
{
    try {
        return AudioFileReader(url);
    } catch (const AudioFileError &error) {
        if (error.code() == AudioFileError::Code::noAudioStream)
            fail(AudioTrimmerError::Code::exportUnavailable);
        throw;
    }
}

/// \a seconds in 1/600 s, rounded as the platform rounds; absurd times stay countable.
qint64 ticks(double seconds)
{
    return std::llround(std::min(seconds, 1e12) * timescale);
}

/// Frame of \a reader at a time of \a ticks 1/600 s.
qint64 frameAt(qint64 ticks, const AudioFileReader &reader)
{
    return qint64(std::llround(double(ticks) * reader.sampleRate() / timescale));
}

/// Encodes \a startTicks...+\a lengthTicks of \a url into the temporary \a path.
void encodeRange(const QString &url, const QString &path, qint64 startTicks, qint64 lengthTicks)
{
    auto reader = openSource(url);
    const auto first = frameAt(startTicks, reader);
    // An end past the media stops at its end; a range wholly past it has nothing to export.
    const auto last = std::min(frameAt(startTicks + lengthTicks, reader), reader.length());
    if (first >= last)
        fail(AudioTrimmerError::Code::exportFailed);

    M4AWriter writer(path, int(reader.sampleRate()), reader.channelCount());
    reader.seek(first);
    AudioBuffer buffer;
    auto position = first;
    while (position < last) {
        const auto got = reader.read(buffer, std::min(last - position, readFrames));
        if (got == 0)
            break;
        writer.write(buffer, got);
        position += got;
    }
    // A file whose stated length overstates its audio may hold nothing in the range.
    if (position == first)
        fail(AudioTrimmerError::Code::exportFailed);
    writer.finish();
}

/// A hidden file beside the output, created with the usual permissions (unlike a 0600
/// temporary file) and removed unless kept.
class PartialFile {
public:
    explicit PartialFile(const QString &folder)
    {
        for (int attempt = 0; attempt < 100 && m_path.isEmpty(); ++attempt) {
            // Hidden and without an audio extension, so a library scan never lists it.
            const auto candidate = QStringLiteral("%1/.trim-%2.part")
                                       .arg(folder)
                                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            QFile file(candidate);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                m_path = candidate;
            else if (!file.exists())
                break;
        }
        if (m_path.isEmpty())
            fail(AudioTrimmerError::Code::exportFailed);
    }
    ~PartialFile()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    [[nodiscard]] const QString &path() const { return m_path; }

    /// Renames the file over \a target in one step.
    void keepAs(const QString &target)
    {
        if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(target).constData()) != 0)
            throw AudioTrimmerError(AudioTrimmerError::Code::exportFailed, systemErrorText(errno));
        m_path.clear();
    }

private:
    QString m_path;
};

QString trimSync(const QString &url, double start, double end, const QString &destinationURL)
{
    start = start >= 0 ? start : 0;
    end = end >= start ? end : start;
    const double length = end - start;
    if (!(length >= shortestTrim))
        fail(AudioTrimmerError::Code::invalidRange);
    PartialFile partial(QFileInfo(destinationURL).absolutePath());
    encodeRange(url, partial.path(), ticks(start), ticks(length));
    partial.keepAs(destinationURL);
    return destinationURL;
}

} // namespace

QCoro::Task<QString> AudioTrimmer::trim(QString url, double start, double end, QString destinationURL)
{
    // The task is built in its own statement: GCC 12 destroys lambda captures twice when a
    // capturing lambda is created inside a co_await expression.
    auto work =
        BackgroundTask::run([url, start, end, destinationURL] { return trimSync(url, start, end, destinationURL); });
    co_return co_await std::move(work);
}
