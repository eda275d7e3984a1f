#include "media/HeaderLength.h"

#include "media/Mp3Frames.h"
#include "media/Mp3GaplessInfo.h"
#include "media/Mp4Boxes.h"

#include <QtEndian>

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>

namespace HeaderLength {
namespace {

constexpr qint64 chunkHeader = 8;
/// Chunks before the audio are walked at most this many, so a file of tiny chunks stays cheap.
constexpr int maximumChunks = 64;

quint16 le16(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint16)) <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0;
}
quint32 le32(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint32)) <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0;
}
quint16 be16(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint16)) <= b.size() ? qFromBigEndian<quint16>(b.constData() + at) : 0;
}
quint64 be64(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + 8 <= b.size() ? qFromBigEndian<quint64>(b.constData() + at) : 0;
}
quint32 be32(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint32)) <= b.size() ? qFromBigEndian<quint32>(b.constData() + at) : 0;
}

/// The frames an uncompressed file holds between \a dataOffset and its end; the reader takes the
/// smaller of this and what the header states.
qint64 heldFrames(qint64 fileSize, qint64 dataOffset, qint64 frameBytes)
{
    return std::max<qint64>(0, (fileSize - dataOffset) / frameBytes);
}

/// Bits per sample of the PCM formats the WAV demuxer maps \a tag and \a bits to; 0 for others.
int waveSampleBits(int tag, int bits)
{
    if (tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32))
        return bits;
    if (tag == 3 && (bits == 32 || bits == 64))
        return bits;
    return 0;
}

/// The format tag a WAVE_FORMAT_EXTENSIBLE chunk carries in its subformat, when that is PCM or
/// float with all its container bits valid; 0 otherwise.
int extensibleTag(const QByteArray &format)
{
    static const QByteArray guidTail = QByteArray::fromHex("000000001000800000aa00389b71");
    if (format.size() < 40 || le16(format, 16) < 22 || le16(format, 18) != le16(format, 14)
        || format.mid(26, 14) != guidTail)
        return 0;
    return le16(format, 24);
}

/// What a WAV or AIFF header states, and where and how its samples lie.
struct PcmHeader {
    AudioFileInfo info;
    int bits = 0;
    bool integer = true;
    bool bigEndian = false;
    qint64 dataOffset = 0;
};

std::optional<PcmHeader> waveHeader(const ByteSource &source);
std::optional<PcmHeader> aiffHeader(const ByteSource &source);

} // namespace

std::optional<Pcm16Layout> pcm16(const ByteSource &source)
{
    const auto head = source.read(0, 12);
    std::optional<PcmHeader> header;
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        header = waveHeader(source);
    else if (head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC"))
        header = aiffHeader(source);
    if (!header || header->bits != 16 || !header->integer)
        return std::nullopt;
    return Pcm16Layout{header->dataOffset, header->info.channelCount, header->bigEndian};
}

std::optional<AudioFileInfo> of(const ByteSource &source)
{
    const auto head = source.read(0, 12);
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return wave(source);
    if (head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC"))
        return aiff(source);
    if (head.mid(4, 4) == "ftyp")
        return mp4(source);
    return mp3(source);
}

std::optional<AudioFileInfo> wave(const ByteSource &source)
{
    const auto header = waveHeader(source);
    return header ? std::optional(header->info) : std::nullopt;
}

std::optional<AudioFileInfo> aiff(const ByteSource &source)
{
    const auto header = aiffHeader(source);
    return header ? std::optional(header->info) : std::nullopt;
}

namespace {

std::optional<PcmHeader> waveHeader(const ByteSource &source)
{
    QByteArray format;
    qint64 at = 12;
    for (int chunk = 0; chunk < maximumChunks; ++chunk) {
        const auto header = source.read(at, chunkHeader);
        if (header.size() < chunkHeader)
            return std::nullopt;
        const qint64 size = le32(header, 4);
        const auto id = header.left(4);
        if (id == "fmt ") {
            format = source.read(at + chunkHeader, std::min<qint64>(size, 64));
        } else if (id == "data") {
            if (format.size() < 16)
                return std::nullopt;
            int tag = le16(format, 0);
            if (tag == 0xFFFE)
                tag = extensibleTag(format);
            const int channels = le16(format, 2);
            const int rate = int(le32(format, 4));
            const int bits = waveSampleBits(tag, le16(format, 14));
            const qint64 frameBytes = qint64(bits) / 8 * channels;
            const qint64 dataOffset = at + chunkHeader;
            // An unknown data size (0 or all ones, as a streaming writer leaves it) or one past
            // the file's end makes the demuxer guess: leave those to it.
            if (bits == 0 || channels <= 0 || rate <= 0 || le16(format, 12) != frameBytes || size == 0
                || size == 0xFFFFFFFF || dataOffset + size > source.size())
                return std::nullopt;
            const qint64 stated = size * 8 / (qint64(channels) * bits);
            if (stated <= 0)
                return std::nullopt;
            return PcmHeader{
                {double(rate), channels, std::min(stated, heldFrames(source.size(), dataOffset, frameBytes))},
                bits,
                tag == 1,
                false,
                dataOffset};
        } else if (size % 2 != 0) {
            // Padded or not, depending on the writer: the demuxer's reading is the one to follow.
            return std::nullopt;
        }
        at += chunkHeader + size;
    }
    return std::nullopt;
}

std::optional<PcmHeader> aiffHeader(const ByteSource &source)
{
    // AIFF-C as libsndfile writes it: uncompressed, big-endian ("twos", "NONE") or little ("sowt").
    const bool compressed = source.read(8, 4) == "AIFC";
    QByteArray common;
    qint64 soundOffset = -1;
    qint64 at = 12;
    for (int chunk = 0; chunk < maximumChunks && (common.isEmpty() || soundOffset < 0); ++chunk) {
        const auto header = source.read(at, chunkHeader);
        if (header.size() < chunkHeader)
            return std::nullopt;
        const qint64 size = be32(header, 4);
        const auto id = header.left(4);
        if (id == "COMM") {
            common = source.read(at + chunkHeader, compressed ? 22 : 18);
        } else if (id == "SSND") {
            const auto sound = source.read(at + chunkHeader, 8);
            if (sound.size() < 8)
                return std::nullopt;
            soundOffset = at + chunkHeader + 8 + be32(sound, 0);
        }
        if (size % 2 != 0)
            return std::nullopt;
        at += chunkHeader + size;
    }
    if (common.size() < (compressed ? 22 : 18) || soundOffset < 0)
        return std::nullopt;
    const auto type = compressed ? common.mid(18, 4) : QByteArray("NONE");
    if (type != "NONE" && type != "twos" && type != "sowt")
        return std::nullopt;
    const int channels = be16(common, 0);
    const qint64 stated = be32(common, 2);
    const int bits = be16(common, 6);
    // The sample rate as an 80-bit extended float, rounded to an integer as the demuxer does.
    const int exponent = int(be16(common, 8)) - 16383 - 63;
    const quint64 mantissa = be64(common, 10);
    if (exponent < -63 || exponent > 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels <= 0
        || stated <= 0)
        return std::nullopt;
    const quint64 rate = exponent == 0 ? mantissa : (mantissa + (1ULL << (-exponent - 1))) >> -exponent;
    if (rate == 0 || rate > 0x7FFFFFFF)
        return std::nullopt;
    return PcmHeader{
        {double(rate), channels, std::min(stated, heldFrames(source.size(), soundOffset, qint64(bits) / 8 * channels))},
        bits,
        true,
        type != "sowt",
        soundOffset};
}

} // namespace

std::optional<AudioFileInfo> mp3(const ByteSource &source)
{
    const auto stream = Mp3Frames::stream(source);
    if (!stream || !stream->statedFrames)
        return std::nullopt;
    const auto gapless = Mp3GaplessInfo::parse(source.read(stream->firstFrame, 512));
    if (!gapless)
        return std::nullopt;
    const auto counted = Mp3Frames::countedLength(source, *stream, gapless);
    const qint64 stated = qint64(*stream->statedFrames) * stream->first.samplesPerFrame;
    return AudioFileInfo{double(stream->first.sampleRate), stream->first.channels,
                         counted.value_or(std::max<qint64>(0, stated - gapless->delay - gapless->padding))};
}

std::optional<AudioFileInfo> mp4(const ByteSource &source)
{
    const auto track = Mp4Boxes::audioTrack(source);
    if (!track || !track->editedDuration)
        return std::nullopt;
    // The demuxer's length is the edit's duration in the media's time scale, rounded to nearest.
    const qint64 stated = av_rescale(*track->editedDuration, track->mediaTimeScale, track->movieTimeScale);
    const qint64 frames = av_rescale(stated, track->sampleRate, track->mediaTimeScale);
    return AudioFileInfo{double(track->sampleRate), track->channels, std::max<qint64>(0, frames)};
}

} // namespace HeaderLength
