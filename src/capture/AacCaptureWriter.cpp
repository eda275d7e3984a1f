#include "capture/AacCaptureWriter.h"

#include "capture/AudioCaptureError.h"
#include "library/UniqueFileNamer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace {
[[noreturn]] void setupFailed()
{
    throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
}
[[noreturn]] void notSaved()
{
    throw AudioCaptureError::writerFailed(AudioCaptureError::notSavedMessage());
}

/// A fragment per checkpoint; the first one also writes the header, which then knows the
/// encoder delay and so keeps an edit list.
constexpr const char *fragmentFlags = "+frag_custom+empty_moov+delay_moov+default_base_moof";

FFmpeg::OutputFormat openM4A(const QString &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "ipod", QFile::encodeName(path).constData()) < 0)
        return {};
    FFmpeg::OutputFormat output(raw);
    if (avio_open(&output->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE) < 0)
        return {};
    return output;
}

/// Copies the audio packets, each held back until the next one gives its true duration;
/// the last one ends where the stream's stated duration ends (the encoder's padding).
bool copyPackets(AVFormatContext *input, int index, AVFormatContext *output)
{
    const auto *stream = input->streams[index];
    const auto outBase = output->streams[0]->time_base;
    const bool knownEnd = stream->start_time != AV_NOPTS_VALUE && stream->duration > 0;
    const auto end = knownEnd ? stream->start_time + stream->duration : AV_NOPTS_VALUE;
    auto held = FFmpeg::makePacket();
    auto next = FFmpeg::makePacket();
    bool holding = false;
    auto writeHeld = [&](std::int64_t nextPts) {
        if (nextPts != AV_NOPTS_VALUE && nextPts > held->pts)
            held->duration = nextPts - held->pts;
        av_packet_rescale_ts(held.get(), stream->time_base, outBase);
        held->stream_index = 0;
        held->pos = -1;
        const bool written = av_write_frame(output, held.get()) >= 0;
        av_packet_unref(held.get());
        return written;
    };
    while (av_read_frame(input, next.get()) >= 0) {
        if (next->stream_index != index || next->pts == AV_NOPTS_VALUE) {
            av_packet_unref(next.get());
            continue;
        }
        if (holding && !writeHeld(next->pts))
            return false;
        av_packet_move_ref(held.get(), next.get());
        holding = true;
    }
    return !holding || writeHeld(end != AV_NOPTS_VALUE && end < held->pts + held->duration ? end : AV_NOPTS_VALUE);
}

bool remux(const QString &source, const QString &target)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(source).constData(), nullptr, nullptr) < 0)
        return false;
    const FFmpeg::InputFormat input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return false;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    auto output = openM4A(target);
    if (index < 0 || !output)
        return false;
    auto *stream = avformat_new_stream(output.get(), nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, input->streams[index]->codecpar) < 0)
        return false;
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[index]->time_base;
    return avformat_write_header(output.get(), nullptr) >= 0 && copyPackets(input.get(), index, output.get())
        && av_write_trailer(output.get()) == 0 && avio_closep(&output->pb) == 0;
}
} // namespace

AacCaptureWriter::AacCaptureWriter(const QString &path, int sampleRate, int channelCount, int bitRate) : m_path(path)
{
    av_log_set_level(AV_LOG_QUIET);
    openEncoder(sampleRate, channelCount, bitRate);
    openOutput();
}

void AacCaptureWriter::openEncoder(int sampleRate, int channelCount, int bitRate)
{
    const AVCodec *encoder = avcodec_find_encoder_by_name("aac");
    if (!encoder)
        setupFailed();
    m_codec.reset(avcodec_alloc_context3(encoder));
    if (!m_codec)
        setupFailed();
    m_codec->sample_rate = sampleRate;
    av_channel_layout_default(&m_codec->ch_layout, channelCount);
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->bit_rate = bitRate;
    m_codec->time_base = {1, sampleRate};
    m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_codec.get(), encoder, nullptr) < 0)
        setupFailed();
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = sampleRate;
    m_frame->nb_samples = m_codec->frame_size;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout) < 0
        || av_frame_get_buffer(m_frame.get(), 0) < 0)
        setupFailed();
}

void AacCaptureWriter::openOutput()
{
    m_output = openM4A(m_path);
    if (!m_output)
        setupFailed();
    m_stream = avformat_new_stream(m_output.get(), nullptr);
    if (!m_stream || avcodec_parameters_from_context(m_stream->codecpar, m_codec.get()) < 0)
        setupFailed();
    m_stream->time_base = m_codec->time_base;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", fragmentFlags, 0);
    const int written = avformat_write_header(m_output.get(), &options);
    av_dict_free(&options);
    if (written < 0) {
        m_output.reset();
        QFile::remove(m_path);
        setupFailed();
    }
}

void AacCaptureWriter::write(const float *interleaved, std::int64_t frames)
{
    const int channels = m_codec->ch_layout.nb_channels;
    const int frameSize = m_codec->frame_size;
    m_pending.insert(m_pending.end(), interleaved, interleaved + frames * channels);
    const auto whole = std::int64_t(m_pending.size()) / channels / frameSize;
    for (std::int64_t i = 0; i < whole; ++i)
        encodeFrame(m_pending.data() + i * frameSize * channels, frameSize);
    m_pending.erase(m_pending.begin(), m_pending.begin() + whole * frameSize * channels);
}

void AacCaptureWriter::encodeFrame(const float *interleaved, int frames)
{
    const int channels = m_codec->ch_layout.nb_channels;
    // The encoder may still hold the last frame's samples.
    if (av_frame_make_writable(m_frame.get()) < 0)
        notSaved();
    m_frame->nb_samples = frames;
    for (int c = 0; c < channels; ++c) {
        auto *plane = reinterpret_cast<float *>(m_frame->extended_data[c]);
        for (int i = 0; i < frames; ++i)
            plane[i] = interleaved[i * channels + c];
    }
    m_frame->pts = m_nextPts;
    m_nextPts += frames;
    send(m_frame.get());
}

void AacCaptureWriter::send(const AVFrame *frame)
{
    if (avcodec_send_frame(m_codec.get(), frame) < 0)
        notSaved();
    int received;
    while ((received = avcodec_receive_packet(m_codec.get(), m_packet.get())) == 0) {
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        const int written = av_write_frame(m_output.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (written < 0)
            notSaved();
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF)
        notSaved();
}

void AacCaptureWriter::checkpoint()
{
    // A null packet closes the fragment under way; the flush hands it to the file.
    if (av_write_frame(m_output.get(), nullptr) < 0)
        notSaved();
    avio_flush(m_output->pb);
}

void AacCaptureWriter::finish()
{
    const int channels = m_codec->ch_layout.nb_channels;
    if (!m_pending.empty())
        encodeFrame(m_pending.data(), int(m_pending.size()) / channels);
    m_pending.clear();
    send(nullptr);
    if (av_write_trailer(m_output.get()) < 0 || avio_closep(&m_output->pb) < 0)
        notSaved();
    m_output.reset();
    // A take that cannot be rewritten stays fragmented, which plays as well.
    defragment(m_path, UniqueFileNamer::workFolder(QFileInfo(m_path).absolutePath()));
}

void AacCaptureWriter::cancel()
{
    m_output.reset();
    QFile::remove(m_path);
}

bool AacCaptureWriter::defragment(const QString &path, const QString &workFolder)
{
    if (!QDir().mkpath(workFolder))
        return false;
    const auto temporary =
        UniqueFileNamer::uniqueURL(workFolder, UniqueFileNamer::baseName(path), QStringLiteral("m4a"));
    std::error_code error;
    if (remux(path, temporary))
        std::filesystem::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData(), error);
    else
        error = std::make_error_code(std::errc::io_error);
    if (error)
        QFile::remove(temporary);
    return !error;
}
