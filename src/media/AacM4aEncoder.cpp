#include "media/AacM4aEncoder.h"

#include <QFile>

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <vector>

namespace {
using Stage = AacM4aEncoder::Error::Stage;

void check(int status, Stage stage)
{
    if (status < 0)
        throw AacM4aEncoder::Error(stage, status);
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

/// A fragment per checkpoint; the first one also writes the header, which then knows the
/// encoder delay and so keeps an edit list.
constexpr const char *fragmentFlags = "+frag_custom+empty_moov+delay_moov+default_base_moof";
} // namespace

int AacM4aEncoder::Error::systemError() const
{
    // FFmpeg's own codes are tags far outside the errno range.
    return m_code < 0 && -m_code < 4096 ? -m_code : 0;
}

AacM4aEncoder::AacM4aEncoder(const QString &path, int sampleRate, int channelCount, int bitRate, Layout layout)
    : m_layout(layout), m_inputRate(sampleRate), m_channels(channelCount)
{
    if (sampleRate <= 0 || channelCount <= 0)
        throw Error(Stage::unavailable, AVERROR(EINVAL));
    const AVCodec *codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        throw Error(Stage::unavailable, AVERROR_ENCODER_NOT_FOUND);
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        throw Error(Stage::setup, AVERROR(ENOMEM));
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = encoderRate(codec, sampleRate);
    m_codec->bit_rate = bitRate;
    m_codec->time_base = {1, m_codec->sample_rate};
    av_channel_layout_default(&m_codec->ch_layout, channelCount);

    const auto name = QFile::encodeName(path);
    AVFormatContext *raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, "ipod", name.constData()), Stage::unavailable);
    m_format.reset(raw);
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(m_codec.get(), codec, nullptr), Stage::unavailable);

    m_stream = avformat_new_stream(m_format.get(), nullptr);
    if (!m_stream)
        throw Error(Stage::setup, AVERROR(ENOMEM));
    check(avcodec_parameters_from_context(m_stream->codecpar, m_codec.get()), Stage::setup);
    m_stream->time_base = m_codec->time_base;
    // The default millisecond movie clock would round the stated length off the frame.
    check(av_opt_set_int(m_format->priv_data, "movie_timescale", m_codec->sample_rate, 0), Stage::setup);
    check(avio_open(&m_format->pb, name.constData(), AVIO_FLAG_WRITE), Stage::setup);
    AVDictionary *options = nullptr;
    if (layout == Layout::fragmented)
        av_dict_set(&options, "movflags", fragmentFlags, 0);
    const int header = avformat_write_header(m_format.get(), &options);
    av_dict_free(&options);
    check(header, Stage::setup);

    if (m_codec->sample_rate != sampleRate) {
        SwrContext *resampler = nullptr;
        check(swr_alloc_set_opts2(&resampler, &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, m_codec->sample_rate,
                                  &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, sampleRate, 0, nullptr),
              Stage::setup);
        m_resampler.reset(resampler);
        check(swr_init(m_resampler.get()), Stage::setup);
    }
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channelCount, 8192));
    if (!m_fifo || !m_packet)
        throw Error(Stage::setup, AVERROR(ENOMEM));
}

void AacM4aEncoder::writePlanar(const float *const *planes, int frames)
{
    queue(reinterpret_cast<const uint8_t *const *>(planes), frames);
    encodeQueued(false);
}

void AacM4aEncoder::writeInterleaved(const float *samples, std::int64_t frames)
{
    m_planes.resize(std::size_t(frames * m_channels));
    std::vector<const float *> planes;
    for (int c = 0; c < m_channels; ++c) {
        auto *plane = m_planes.data() + c * frames;
        for (std::int64_t i = 0; i < frames; ++i)
            plane[i] = samples[i * m_channels + c];
        planes.push_back(plane);
    }
    writePlanar(planes.data(), int(frames));
}

std::int64_t AacM4aEncoder::checkpoint()
{
    // A null packet closes the fragment under way; the flush hands it to the file.
    check(av_write_frame(m_format.get(), nullptr), Stage::write);
    avio_flush(m_format->pb);
    check(m_format->pb->error, Stage::write);
    return avio_tell(m_format->pb);
}

void AacM4aEncoder::finish()
{
    if (m_resampler)
        queue(nullptr, 0);
    encodeQueued(true);
    check(avcodec_send_frame(m_codec.get(), nullptr), Stage::write);
    drainPackets();
    check(av_write_trailer(m_format.get()), Stage::write);
    check(avio_closep(&m_format->pb), Stage::write);
    m_format.reset();
}

void AacM4aEncoder::abandon() noexcept
{
    // Whatever the muxer still holds is dropped; the buffered bytes are tried once.
    m_format.reset();
}

void AacM4aEncoder::queue(const uint8_t *const *planes, int frames)
{
    auto **data = reinterpret_cast<void **>(const_cast<uint8_t **>(planes));
    if (!m_resampler) {
        check(av_audio_fifo_write(m_fifo.get(), data, frames), Stage::write);
        return;
    }
    const int capacity = swr_get_out_samples(m_resampler.get(), frames);
    check(capacity, Stage::write);
    std::vector<std::vector<float>> converted(std::size_t(m_channels), std::vector<float>(std::size_t(capacity) + 1));
    std::vector<uint8_t *> out;
    for (auto &channel : converted)
        out.push_back(reinterpret_cast<uint8_t *>(channel.data()));
    const int produced =
        swr_convert(m_resampler.get(), out.data(), capacity, const_cast<const uint8_t **>(planes), frames);
    check(produced, Stage::write);
    check(av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(out.data()), produced), Stage::write);
}

void AacM4aEncoder::encodeQueued(bool flush)
{
    const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (flush && av_audio_fifo_size(m_fifo.get()) > 0)) {
        const int frames = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
        auto frame = FFmpeg::makeFrame();
        if (!frame)
            throw Error(Stage::write, AVERROR(ENOMEM));
        frame->nb_samples = frames;
        frame->format = m_codec->sample_fmt;
        frame->sample_rate = m_codec->sample_rate;
        check(av_channel_layout_copy(&frame->ch_layout, &m_codec->ch_layout), Stage::write);
        check(av_frame_get_buffer(frame.get(), 0), Stage::write);
        check(av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), frames), Stage::write);
        frame->pts = m_nextPts;
        m_nextPts += frames;
        check(avcodec_send_frame(m_codec.get(), frame.get()), Stage::write);
        drainPackets();
    }
}

void AacM4aEncoder::drainPackets()
{
    while (true) {
        const int status = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return;
        check(status, Stage::write);
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        // One stream: packets arrive in order, and a fragment must hold all of them at a checkpoint.
        const int written = m_layout == Layout::fragmented ? av_write_frame(m_format.get(), m_packet.get())
                                                           : av_interleaved_write_frame(m_format.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        check(written, Stage::write);
        ++m_packets;
    }
}
