#include "media/AudioFileReader.h"

#include "media/AudioFileError.h"
#include "media/FFmpegHandles.h"
#include "media/HeaderLength.h"
#include "media/Mp3Frames.h"
#include "media/Mp3GaplessInfo.h"
#include "media/Mp4PacketReader.h"
#include "media/Pcm16FileReader.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace {
/// Room for the seek index a demuxer such as MP3's builds while it reads: the frames of about
/// 70 minutes read of a 48 kHz MP3. FFmpeg's default of 1 MiB thins the index out after about
/// 17 minutes, and every later seek then reads forward from far before its target.
constexpr const char *seekIndexBytes = "4194304";

/// The file a decoding reader opened, held by its descriptor: reopened through it, the reader
/// finds the same audio after the file is renamed or removed.
class HeldFile {
public:
    explicit HeldFile(const QString &path) : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
        // Without /proc the file is reopened by its name.
        if (m_fd >= 0 && ::access(procName().constData(), R_OK) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    ~HeldFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    /// A name that opens the held file anew; none when it is not held.
    [[nodiscard]] std::optional<QByteArray> name() const
    {
        if (m_fd < 0)
            return std::nullopt;
        return QByteArrayLiteral("file:") + procName();
    }

private:
    [[nodiscard]] QByteArray procName() const { return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_fd); }

    int m_fd;
};
} // namespace

class AudioFileReader::Impl {
public:
    /// Without \a decode only the container is read: enough for rate, channels and length.
    Impl(const QString &path, bool decode) : m_path(path)
    {
        if (decode)
            m_held.emplace(path);
        if (!m_packet || !m_frame)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        if (decode && openTrackTables()) {
            m_length = editedLength();
            m_lengthKnown = true;
            m_discard = m_track->editMediaTime;
            return;
        }
        openInput();
        openStream();
        if (decode)
            openDecoder();
        m_length = statedLength();
        m_lengthKnown = m_length > 0 || heldPcmFrames().has_value();
        m_discard = leadIn();
    }

    /// Frames decoded before a seek target, so that the decoder's overlap and bit reservoir
    /// are filled when the target frame comes out.
    qint64 seekPreroll() const
    {
        const auto *descriptor = avcodec_descriptor_get(m_codec->codec_id);
        const bool lossy = descriptor && !(descriptor->props & AV_CODEC_PROP_LOSSLESS);
        return lossy ? 8192 : 0;
    }

    double sampleRate() const { return rate(); }
    int channelCount() const
    {
        return m_codec ? m_codec->ch_layout.nb_channels : m_stream->codecpar->ch_layout.nb_channels;
    }
    qint64 length() const { return m_length; }
    qint64 position() const { return m_position; }

    bool seeksExactly() const
    {
        if (m_tables)
            return false;
        const auto codec = m_stream->codecpar->codec_id;
        const auto *descriptor = avcodec_descriptor_get(codec);
        return codec == AV_CODEC_ID_MP3 || (descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS));
    }

    std::optional<Pcm16Layout> pcm16Layout() const
    {
        if (m_tables)
            return std::nullopt;
        const auto codec = m_stream->codecpar->codec_id;
        if ((codec != AV_CODEC_ID_PCM_S16LE && codec != AV_CODEC_ID_PCM_S16BE) || !heldPcmFrames()
            || m_stream->codecpar->block_align != 2 * channelCount())
            return std::nullopt;
        return Pcm16Layout{m_dataOffset, channelCount(), codec == AV_CODEC_ID_PCM_S16BE};
    }

    void seek(qint64 frame)
    {
        // A stream of unknown length is not clamped to its start.
        frame = std::max<qint64>(0, m_lengthKnown ? std::min(frame, m_length) : frame);
        clearPending();
        m_draining = false;
        m_position = frame;
        if (frame - seekPreroll() <= 0) {
            // Near the start a fresh demuxer replays priming and gapless skips exactly.
            m_codec.reset();
            m_resampler.reset();
            if (m_tables) {
                m_tables->seek(0);
                openTrackDecoder();
                m_discard = frame + m_track->editMediaTime;
            } else {
                m_format.reset();
                openInput();
                openStream();
                openDecoder();
                m_discard = frame + leadIn();
            }
            m_alignTo.reset();
            return;
        }
        if (m_tables) {
            // The packet whose first sample is at or before the preroll's start, as the
            // demuxer's backward seek finds it.
            const qint64 packet = (frame - seekPreroll() + m_track->editMediaTime) / Mp4PacketReader::packetDuration;
            m_tables->seek(packet);
            avcodec_flush_buffers(m_codec.get());
            m_discard = 0;
            m_alignTo = frame;
            return;
        }
        const auto timestamp =
            av_rescale_q(frame - seekPreroll(), {1, m_codec->sample_rate}, m_stream->time_base) + origin();
        // A failed seek leaves the demuxer where it was: reading on would return audio from
        // the wrong place under the requested position.
        if (av_seek_frame(m_format.get(), m_stream->index, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        avcodec_flush_buffers(m_codec.get());
        m_discard = 0;
        m_alignTo = frame;
    }

    qint64 read(AudioBuffer &buffer, qint64 maxFrames)
    {
        const int channels = std::max(1, channelCount());
        buffer.channels.resize(channels);
        if (m_length > 0)
            maxFrames = std::min(maxFrames, m_length - m_position);
        qint64 filled = 0;
        while (filled < maxFrames) {
            if (m_pendingOffset >= m_pendingLength && !decodeNextFrame())
                break;
            const auto take = std::min<qint64>(maxFrames - filled, m_pendingLength - m_pendingOffset);
            for (int c = 0; c < channels; ++c) {
                auto &out = buffer.channels[c];
                if (out.size() < std::size_t(maxFrames))
                    out.resize(maxFrames);
                std::copy_n(m_planes[c] + m_pendingOffset, take, out.begin() + filled);
            }
            m_pendingOffset += take;
            filled += take;
        }
        for (auto &channel : buffer.channels)
            channel.resize(filled);
        buffer.frameLength = std::size_t(filled);
        m_position += filled;
        return filled;
    }

private:
    /// Reads an M4A's one AAC track straight from its sample tables instead of through the
    /// demuxer, whose index grows with the file; false for anything else.
    bool openTrackTables()
    {
        auto track = Mp4Boxes::audioTrack(ByteSource::ofFile(m_path));
        // Times in the media's scale are then frames, which the seek arithmetic relies on.
        if (!track || !track->editedDuration || track->mediaTimeScale != quint32(track->sampleRate))
            return false;
        auto tables = Mp4PacketReader::open(ByteSource::ofFile(m_path), *track);
        if (!tables)
            return false;
        m_track = std::move(track);
        m_tables = std::move(tables);
        openTrackDecoder();
        return true;
    }

    void openTrackDecoder()
    {
        const auto *decoder = avcodec_find_decoder(AV_CODEC_ID_AAC);
        if (!decoder)
            throw AudioFileError(AudioFileError::Code::noAudioStream, m_path);
        m_codec.reset(avcodec_alloc_context3(decoder));
        if (!m_codec)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        const auto &config = m_track->decoderConfig;
        m_codec->extradata =
            static_cast<uint8_t *>(av_mallocz(std::size_t(config.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!m_codec->extradata)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        std::memcpy(m_codec->extradata, config.constData(), std::size_t(config.size()));
        m_codec->extradata_size = int(config.size());
        m_codec->sample_rate = m_track->sampleRate;
        av_channel_layout_default(&m_codec->ch_layout, m_track->channels);
        m_codec->pkt_timebase = {1, int(m_track->mediaTimeScale)};
        if (avcodec_open2(m_codec.get(), decoder, nullptr) < 0 || m_codec->sample_rate <= 0
            || m_codec->ch_layout.nb_channels <= 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
    }

    /// The length the demuxer states for the track: its edit's duration in the media's scale.
    qint64 editedLength() const
    {
        return std::max<qint64>(0,
                                av_rescale(*m_track->editedDuration, m_track->mediaTimeScale, m_track->movieTimeScale));
    }

    void openInput()
    {
        AVFormatContext *raw = nullptr;
        // A WAV stream's codec probe runs over its first 32 packets; a seek would restart it
        // with the default 2500 (5 MB buffered and re-probed), so keep it at 32 throughout.
        const auto name = m_held ? m_held->name().value_or(QFile::encodeName(m_path)) : QFile::encodeName(m_path);
        const auto openWith = [&](const AVInputFormat *format) {
            AVDictionary *options = nullptr;
            int status = av_dict_set(&options, "max_probe_packets", "32", 0);
            if (status >= 0)
                status = av_dict_set(&options, "indexmem", seekIndexBytes, 0);
            if (status >= 0)
                status = avformat_open_input(&raw, name.constData(), format, &options);
            av_dict_free(&options);
            return status;
        };
        int opened = -1;
        // Containers with strict headers are tried by their extension first, which skips
        // probing every demuxer; a file under another extension falls back to the probe.
        if (const auto *hinted = formatForExtension())
            opened = openWith(hinted);
        if (opened < 0)
            opened = openWith(nullptr);
        if (opened < 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        m_format.reset(raw);
        // WAV and AIFF headers leave the file at the first sample.
        m_dataOffset = m_format->pb ? avio_tell(m_format->pb) : -1;
    }

    const AVInputFormat *formatForExtension() const
    {
        const auto dot = m_path.lastIndexOf(u'.');
        const auto extension = dot < 0 ? QString() : m_path.mid(dot + 1).toLower();
        if (extension == QLatin1String("wav"))
            return av_find_input_format("wav");
        if (extension == QLatin1String("aif") || extension == QLatin1String("aiff"))
            return av_find_input_format("aiff");
        if (extension == QLatin1String("m4a"))
            return av_find_input_format("mov");
        // The MP3 demuxer opens nearly anything, so it is named only for a file that starts
        // like an MP3: an ID3v2 tag or a Layer III frame.
        if (extension == QLatin1String("mp3")) {
            const auto head = ByteSource::ofFile(m_path).read(0, 4);
            if (head.startsWith("ID3")
                || (head.size() == 4 && Mp3Frames::header(qFromBigEndian<quint32>(head.constData()))))
                return av_find_input_format("mp3");
        }
        return nullptr;
    }

    void openStream()
    {
        auto needsProbe = [this] {
            const int index = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
            if (index < 0)
                return true;
            const auto *parameters = m_format->streams[index]->codecpar;
            // A fragmented MP4 states its start (and so its encoder delay) only in its packets.
            const bool unknownStart = m_format->streams[index]->start_time == AV_NOPTS_VALUE
                && std::strncmp(m_format->iformat->name, "mov,", 4) == 0;
            return parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0 || unknownStart;
        };
        if (needsProbe() && avformat_find_stream_info(m_format.get(), nullptr) < 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        const AVCodec *decoder = nullptr;
        const int index = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (index < 0 || !decoder)
            throw AudioFileError(AudioFileError::Code::noAudioStream, m_path);
        m_stream = m_format->streams[index];
        for (unsigned i = 0; i < m_format->nb_streams; ++i) {
            if (int(i) != index)
                m_format->streams[i]->discard = AVDISCARD_ALL;
        }
        if (m_stream->codecpar->sample_rate <= 0 || m_stream->codecpar->ch_layout.nb_channels <= 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
    }

    void openDecoder()
    {
        const auto *decoder = avcodec_find_decoder(m_stream->codecpar->codec_id);
        if (!decoder)
            throw AudioFileError(AudioFileError::Code::noAudioStream, m_path);
        m_codec.reset(avcodec_alloc_context3(decoder));
        if (!m_codec || avcodec_parameters_to_context(m_codec.get(), m_stream->codecpar) < 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
        m_codec->pkt_timebase = m_stream->time_base;
        if (avcodec_open2(m_codec.get(), decoder, nullptr) < 0 || m_codec->sample_rate <= 0
            || m_codec->ch_layout.nb_channels <= 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, m_path);
    }

    AVRational timeBase() const { return m_tables ? AVRational{1, int(m_track->mediaTimeScale)} : m_stream->time_base; }

    /// The decoder's sample rate, else the container's.
    int rate() const { return m_codec ? m_codec->sample_rate : m_stream->codecpar->sample_rate; }

    qint64 startTime() const { return m_stream->start_time == AV_NOPTS_VALUE ? 0 : m_stream->start_time; }

    /// Frames before time zero that the demuxer leaves in: a fragmented MP4 keeps its edit
    /// list's encoder delay as negative timestamps instead of trimming it.
    qint64 leadIn() const
    {
        if (std::strncmp(m_format->iformat->name, "mov,", 4) != 0 || startTime() >= 0)
            return 0;
        return av_rescale_q(-startTime(), m_stream->time_base, {1, rate()});
    }

    /// The timestamp of frame 0.
    qint64 origin() const { return m_tables || leadIn() > 0 ? 0 : startTime(); }

    /// The stated length, cut to the frames a PCM file really holds: a truncated file, or
    /// one whose writer never filled in the data size, states more than it has.
    qint64 statedLength() const
    {
        const auto stated = containerLength();
        const auto held = heldPcmFrames();
        if (!held)
            return stated;
        return stated > 0 ? std::min(stated, *held) : *held;
    }

    /// Whole frames between the first sample and the end of an uncompressed file; none for
    /// other codecs or when the file's size is unknown.
    std::optional<qint64> heldPcmFrames() const
    {
        const auto *parameters = m_stream->codecpar;
        const int bits = av_get_bits_per_sample(parameters->codec_id);
        const auto name = std::string_view(m_format->iformat->name);
        if (bits <= 0 || (name != "wav" && name != "aiff") || m_dataOffset < 0 || !m_format->pb)
            return std::nullopt;
        const auto size = avio_size(m_format->pb);
        const qint64 frameBytes = qint64(bits) / 8 * parameters->ch_layout.nb_channels;
        if (size <= 0 || frameBytes <= 0)
            return std::nullopt;
        return std::max<qint64>(0, (size - m_dataOffset) / frameBytes);
    }

    qint64 containerLength() const
    {
        const AVRational perFrame{1, rate()};
        if (m_stream->duration != AV_NOPTS_VALUE && m_stream->duration > 0) {
            const auto stated = av_rescale_q(m_stream->duration, m_stream->time_base, perFrame);
            if (m_stream->codecpar->codec_id == AV_CODEC_ID_MP3)
                return mp3Length(stated);
            return std::max<qint64>(0, stated - leadIn());
        }
        if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
            return std::max<qint64>(0, av_rescale_q(m_format->duration, AV_TIME_BASE_Q, perFrame) - leadIn());
        return 0;
    }

    /// MP3 durations count whole frames: take away the encoder delay and padding that a
    /// LAME tag declares, else the decoder delay FFmpeg skips at the start.
    qint64 mp3Length(qint64 allFrames) const
    {
        const auto gapless = Mp3GaplessInfo::read(m_path);
        // A frame count that the file cannot hold is counted instead.
        const auto source = ByteSource::ofFile(m_path);
        if (const auto stream = Mp3Frames::stream(source)) {
            if (const auto counted = Mp3Frames::countedLength(source, *stream, gapless))
                return *counted;
        }
        if (gapless)
            return std::max<qint64>(0, allFrames - gapless->delay - gapless->padding);
        const auto skipped = av_rescale_q(startTime(), m_stream->time_base, {1, rate()});
        return std::max<qint64>(0, allFrames - skipped);
    }

    void clearPending()
    {
        m_pendingOffset = 0;
        m_pendingLength = 0;
    }

    /// Decodes until one frame's samples are pending; false at the end of the stream.
    bool decodeNextFrame()
    {
        while (true) {
            const int received = avcodec_receive_frame(m_codec.get(), m_frame.get());
            if (received == 0) {
                if (takeFrame())
                    return true;
                continue;
            }
            if (received == AVERROR_EOF)
                return false;
            if (received != AVERROR(EAGAIN))
                throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
            if (m_draining)
                return false;
            sendNextPacket();
        }
    }

    void sendNextPacket()
    {
        if (m_tables)
            return sendNextTablePacket();
        while (true) {
            const int status = av_read_frame(m_format.get(), m_packet.get());
            if (status < 0) {
                if (status != AVERROR_EOF && status != AVERROR_INVALIDDATA)
                    throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
                m_draining = true;
                if (avcodec_send_packet(m_codec.get(), nullptr) < 0)
                    throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
                return;
            }
            const bool ours = m_packet->stream_index == m_stream->index;
            const int sent = ours ? avcodec_send_packet(m_codec.get(), m_packet.get()) : 0;
            av_packet_unref(m_packet.get());
            // A damaged packet is skipped, as players do; the next one may decode.
            if (ours && (sent == 0 || sent == AVERROR_INVALIDDATA))
                return;
            if (ours && sent < 0)
                throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        }
    }

    /// The next packet from the track's sample tables, stamped as the demuxer would stamp it.
    void sendNextTablePacket()
    {
        while (true) {
            const qint64 index = m_tables->position();
            const auto bytes = m_tables->next();
            if (!bytes) {
                m_draining = true;
                if (avcodec_send_packet(m_codec.get(), nullptr) < 0)
                    throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
                return;
            }
            if (av_new_packet(m_packet.get(), int(bytes->size())) < 0)
                throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
            std::memcpy(m_packet->data, bytes->constData(), std::size_t(bytes->size()));
            m_packet->pts = m_packet->dts = index * Mp4PacketReader::packetDuration - m_track->editMediaTime;
            m_packet->duration = Mp4PacketReader::packetDuration;
            const int sent = avcodec_send_packet(m_codec.get(), m_packet.get());
            av_packet_unref(m_packet.get());
            // A damaged packet is skipped, as players do; the next one may decode.
            if (sent == 0 || sent == AVERROR_INVALIDDATA)
                return;
            throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        }
    }

    /// Converts the received frame into pending float samples, dropping what lies before a
    /// seek target; false when nothing of it remains.
    bool takeFrame()
    {
        const int samples = m_frame->nb_samples;
        const int channels = channelCount();
        const auto timestamp = m_frame->best_effort_timestamp;
        m_planes.resize(channels);
        int converted = samples;
        if (m_frame->format == AV_SAMPLE_FMT_FLTP && m_frame->ch_layout.nb_channels == channels) {
            // Already planar float, as AAC and MP3 decode: read from the frame itself, which
            // stays referenced until the next one is received.
            for (int c = 0; c < channels; ++c)
                m_planes[c] = reinterpret_cast<const float *>(m_frame->extended_data[c]);
        } else {
            ensureResampler();
            m_pending.resize(channels);
            std::vector<uint8_t *> planes(channels);
            for (int c = 0; c < channels; ++c) {
                if (int(m_pending[c].size()) < samples + 32)
                    m_pending[c].resize(samples + 32);
                planes[c] = reinterpret_cast<uint8_t *>(m_pending[c].data());
                m_planes[c] = m_pending[c].data();
            }
            converted = swr_convert(m_resampler.get(), planes.data(), samples + 32,
                                    const_cast<const uint8_t **>(m_frame->extended_data), samples);
            av_frame_unref(m_frame.get());
        }
        if (converted < 0)
            throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        m_pendingOffset = 0;
        m_pendingLength = converted;
        if (m_discard > 0) {
            const auto dropped = std::min<qint64>(m_discard, converted);
            m_discard -= dropped;
            m_pendingOffset = dropped;
        } else if (m_alignTo && timestamp != AV_NOPTS_VALUE) {
            const auto first = av_rescale_q(timestamp - origin(), timeBase(), {1, m_codec->sample_rate});
            const auto skip = *m_alignTo - first;
            if (skip >= converted)
                return false;
            m_pendingOffset = std::max<qint64>(0, skip);
        }
        m_alignTo.reset();
        return m_pendingOffset < m_pendingLength;
    }

    void ensureResampler()
    {
        if (m_resampler && m_frame->format == m_resamplerFormat)
            return;
        SwrContext *raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP, m_codec->sample_rate,
                                &m_codec->ch_layout, AVSampleFormat(m_frame->format), m_codec->sample_rate, 0, nullptr)
                < 0
            || swr_init(raw) < 0) {
            swr_free(&raw);
            throw AudioFileError(AudioFileError::Code::decodeFailed, m_path);
        }
        m_resampler.reset(raw);
        m_resamplerFormat = m_frame->format;
    }

    QString m_path;
    std::optional<HeldFile> m_held;              ///< decoding readers reopen the file through it
    std::optional<Mp4Boxes::AudioTrack> m_track; ///< with m_tables: the track read without the demuxer
    std::unique_ptr<Mp4PacketReader> m_tables;
    FFmpeg::InputFormat m_format;
    FFmpeg::CodecContext m_codec;
    FFmpeg::Packet m_packet = FFmpeg::makePacket();
    FFmpeg::Frame m_frame = FFmpeg::makeFrame();
    FFmpeg::Resampler m_resampler;
    int m_resamplerFormat = -1;
    AVStream *m_stream = nullptr;
    qint64 m_dataOffset = -1; ///< the byte where the first sample lies in a WAV or AIFF
    qint64 m_length = 0;
    bool m_lengthKnown = false; ///< false for a stream that states no length (a pipe, say)
    qint64 m_position = 0;
    std::optional<qint64> m_alignTo; ///< the frame a seek asked for, found by timestamps
    qint64 m_discard = 0;            ///< frames still to drop after reopening
    bool m_draining = false;
    std::vector<std::vector<float>> m_pending;
    std::vector<const float *> m_planes; ///< the pending samples of each channel: m_pending's or the frame's
    qint64 m_pendingOffset = 0;
    qint64 m_pendingLength = 0;
};

AudioFileReader::AudioFileReader(const QString &path) : m_pcm(Pcm16FileReader::open(path))
{
    if (!m_pcm)
        d = std::make_unique<Impl>(path, true);
}

AudioFileInfo AudioFileReader::measure(const QString &path)
{
    if (const auto stated = HeaderLength::of(ByteSource::ofFile(path)))
        return *stated;
    const Impl container(path, false);
    return {container.sampleRate(), container.channelCount(), container.length()};
}
AudioFileReader::~AudioFileReader() = default;
AudioFileReader::AudioFileReader(AudioFileReader &&) noexcept = default;
AudioFileReader &AudioFileReader::operator=(AudioFileReader &&) noexcept = default;

double AudioFileReader::sampleRate() const
{
    return m_pcm ? m_pcm->info().sampleRate : d->sampleRate();
}
int AudioFileReader::channelCount() const
{
    return m_pcm ? m_pcm->info().channelCount : d->channelCount();
}
qint64 AudioFileReader::length() const
{
    return m_pcm ? m_pcm->info().length : d->length();
}
qint64 AudioFileReader::position() const
{
    return m_pcm ? m_pcm->position() : d->position();
}
bool AudioFileReader::seeksExactly() const
{
    return m_pcm || d->seeksExactly();
}
std::optional<Pcm16Layout> AudioFileReader::pcm16Layout() const
{
    return m_pcm ? std::optional(m_pcm->layout()) : d->pcm16Layout();
}
void AudioFileReader::seek(qint64 frame)
{
    m_pcm ? m_pcm->seek(frame) : d->seek(frame);
}
qint64 AudioFileReader::read(AudioBuffer &buffer, qint64 maxFrames)
{
    return m_pcm ? m_pcm->read(buffer, maxFrames) : d->read(buffer, maxFrames);
}
