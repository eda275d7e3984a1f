#include "media/AudioTrimmer.h"

#include "base/SystemErrorText.h"
#include "media/AacM4aEncoder.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/AudioTrimmerError.h"
#include "platform/BackgroundTask.h"

#include <QFile>

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

    /// Encodes what is left, writes the trailer and closes the file; fails when it holds no audio.
    void finish()
    {
        guarded([&] { m_encoder->finish(); });
        // Rates the encoder must resample from, such as 1 Hz, can give no packet at all.
        if (m_encoder->packetCount() == 0)
            throw AudioTrimmerError(AudioTrimmerError::Code::exportFailed,
                                    QStringLiteral("No audio could be encoded from this range."));
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

/// Encodes \a startTicks...+\a lengthTicks of \a url into \a path.
void encodeRange(const QString &url, const QString &path, qint64 startTicks, qint64 lengthTicks,
                 const std::atomic<bool> &cancelled)
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
        if (cancelled.load())
            fail(AudioTrimmerError::Code::cancelled);
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

QString trimSync(const QString &url, double start, double end, const QString &destinationURL,
                 const std::atomic<bool> &cancelled)
{
    start = start >= 0 ? start : 0;
    end = end >= start ? end : start;
    const double length = end - start;
    if (!(length >= shortestTrim))
        fail(AudioTrimmerError::Code::invalidRange);
    try {
        encodeRange(url, destinationURL, ticks(start), ticks(length), cancelled);
    } catch (...) {
        QFile::remove(destinationURL);
        throw;
    }
    return destinationURL;
}

} // namespace

QCoro::Task<QString> AudioTrimmer::trim(QString url, double start, double end, QString destinationURL)
{
    // The task is built in its own statement: GCC 12 destroys lambda captures twice when a
    // capturing lambda is created inside a co_await expression.
    auto work = BackgroundTask::run([url, start, end, destinationURL, cancelled = m_cancelled] {
        return trimSync(url, start, end, destinationURL, *cancelled);
    });
    co_return co_await std::move(work);
}

void AudioTrimmer::cancel()
{
    // The trims running now keep the flag they started with; the next one gets a fresh one.
    m_cancelled->store(true);
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
}
