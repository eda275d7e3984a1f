#include "media/AudioTrimmer.h"

#include "base/SystemErrorText.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/AudioTrimmerError.h"
#include "media/FFmpegHandles.h"
#include "platform/BackgroundTask.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

#include <cmath>

namespace {

constexpr double timescale = 600;
constexpr double shortestTrim = 0.02;
constexpr qint64 readFrames = 8192;
constexpr qint64 bitRate = 192000;

[[noreturn]] void fail(AudioTrimmerError::Code code)
{
    throw AudioTrimmerError(code);
}

void check(int status, AudioTrimmerError::Code code = AudioTrimmerError::Code::exportFailed)
{
    if (status < 0)
        fail(code);
}

/// Like check() for a step that writes the file: a system error names its cause.
void checkWrite(int status)
{
    if (status >= 0)
        return;
    // AVERROR(e) is -e for the system's error numbers; FFmpeg's own codes lie far below.
    if (status > -4096)
        throw AudioTrimmerError(AudioTrimmerError::Code::exportFailed, systemErrorText(-status));
    fail(AudioTrimmerError::Code::exportFailed);
}

/// The rate the encoder takes: the source's own, else the nearest supported one above it,
/// else its highest.
int encoderRate(const AVCodec *codec, int sourceRate)
{
    if (!codec->supported_samplerates)
        return sourceRate;
    int above = 0, highest = 0;
    for (const int *rate = codec->supported_samplerates; *rate; ++rate) {
        if (*rate == sourceRate)
            return sourceRate;
        highest = std::max(highest, *rate);
        if (*rate > sourceRate && (above == 0 || *rate < above))
            above = *rate;
    }
    return above ? above : highest;
}

/// Encodes float frames to AAC and muxes them into an M4A file.
class M4AWriter {
public:
    M4AWriter(const QString &path, int sampleRate, int channels)
    {
        const AVCodec *codec = avcodec_find_encoder_by_name("aac");
        if (!codec)
            fail(AudioTrimmerError::Code::exportUnavailable);
        m_codec.reset(avcodec_alloc_context3(codec));
        if (!m_codec || !m_packet)
            fail(AudioTrimmerError::Code::exportFailed);
        m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_codec->sample_rate = encoderRate(codec, sampleRate);
        m_codec->bit_rate = bitRate;
        m_codec->time_base = {1, m_codec->sample_rate};
        av_channel_layout_default(&m_codec->ch_layout, channels);

        AVFormatContext *raw = nullptr;
        check(avformat_alloc_output_context2(&raw, nullptr, "ipod", QFile::encodeName(path).constData()),
              AudioTrimmerError::Code::exportUnavailable);
        m_format.reset(raw);
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
            m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(m_codec.get(), codec, nullptr), AudioTrimmerError::Code::exportUnavailable);

        m_stream = avformat_new_stream(m_format.get(), nullptr);
        if (!m_stream)
            fail(AudioTrimmerError::Code::exportFailed);
        check(avcodec_parameters_from_context(m_stream->codecpar, m_codec.get()));
        m_stream->time_base = m_codec->time_base;
        // The default millisecond movie clock would round the stated length off the frame.
        check(av_opt_set_int(m_format->priv_data, "movie_timescale", m_codec->sample_rate, 0));
        checkWrite(avio_open(&m_format->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE));
        checkWrite(avformat_write_header(m_format.get(), nullptr));

        if (m_codec->sample_rate != sampleRate) {
            SwrContext *resampler = nullptr;
            check(swr_alloc_set_opts2(&resampler, &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, m_codec->sample_rate,
                                      &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, sampleRate, 0, nullptr));
            m_resampler.reset(resampler);
            check(swr_init(m_resampler.get()));
        }
        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, int(readFrames)));
        if (!m_fifo)
            fail(AudioTrimmerError::Code::exportFailed);
    }

    /// Queues \a frames frames of \a buffer and encodes every whole encoder frame.
    void write(const AudioBuffer &buffer, qint64 frames)
    {
        std::vector<const uint8_t *> planes;
        for (const auto &channel : buffer.channels)
            planes.push_back(reinterpret_cast<const uint8_t *>(channel.data()));
        queue(planes.data(), int(frames));
        encodeQueued(false);
    }

    /// Encodes what is left, writes the trailer and closes the file.
    void finish()
    {
        if (m_resampler)
            queue(nullptr, 0);
        encodeQueued(true);
        check(avcodec_send_frame(m_codec.get(), nullptr));
        drainPackets();
        // The trailer reports any write error of the buffered output, the close the last ones.
        checkWrite(av_write_trailer(m_format.get()));
        checkWrite(avio_closep(&m_format->pb));
    }

private:
    void queue(const uint8_t **planes, int frames)
    {
        if (!m_resampler) {
            check(av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(const_cast<uint8_t **>(planes)), frames));
            return;
        }
        const int capacity = swr_get_out_samples(m_resampler.get(), frames);
        check(capacity);
        std::vector<std::vector<float>> converted(std::size_t(m_codec->ch_layout.nb_channels),
                                                  std::vector<float>(std::size_t(capacity) + 1));
        std::vector<uint8_t *> out;
        for (auto &channel : converted)
            out.push_back(reinterpret_cast<uint8_t *>(channel.data()));
        const int produced = swr_convert(m_resampler.get(), out.data(), capacity, planes, frames);
        check(produced);
        check(av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(out.data()), produced));
    }

    void encodeQueued(bool flush)
    {
        const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (flush && av_audio_fifo_size(m_fifo.get()) > 0)) {
            const int frames = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
            auto frame = FFmpeg::makeFrame();
            if (!frame)
                fail(AudioTrimmerError::Code::exportFailed);
            frame->nb_samples = frames;
            frame->format = m_codec->sample_fmt;
            frame->sample_rate = m_codec->sample_rate;
            check(av_channel_layout_copy(&frame->ch_layout, &m_codec->ch_layout));
            check(av_frame_get_buffer(frame.get(), 0));
            check(av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), frames));
            frame->pts = m_nextPts;
            m_nextPts += frames;
            check(avcodec_send_frame(m_codec.get(), frame.get()));
            drainPackets();
        }
    }

    void drainPackets()
    {
        while (true) {
            const int status = avcodec_receive_packet(m_codec.get(), m_packet.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return;
            check(status);
            av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            checkWrite(av_interleaved_write_frame(m_format.get(), m_packet.get()));
        }
    }

    FFmpeg::CodecContext m_codec;
    FFmpeg::OutputFormat m_format;
    FFmpeg::Resampler m_resampler;
    FFmpeg::AudioFifo m_fifo;
    FFmpeg::Packet m_packet = FFmpeg::makePacket();
    AVStream *m_stream = nullptr;
    qint64 m_nextPts = 0;
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
