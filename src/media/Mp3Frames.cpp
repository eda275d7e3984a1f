#include "media/Mp3Frames.h"

#include <QtEndian>

#include <algorithm>

namespace Mp3Frames {
namespace {

constexpr int mpeg1BitRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int mpeg2BitRates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int mpeg1Rates[3] = {44100, 48000, 32000};
constexpr qint64 id3v1Size = 128;

quint32 bigEndian32(const QByteArray &bytes, qsizetype at)
{
    return at >= 0 && at + 4 <= bytes.size() ? qFromBigEndian<quint32>(bytes.constData() + at) : 0;
}

/// The bytes of an ID3v2 tag at the start of \a head (10-byte header, syncsafe size, footer).
qint64 id3v2Size(const QByteArray &head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = size << 7 | (quint8(head[i]) & 0x7F);
    const bool footer = quint8(head[5]) & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

int frameLength(bool mpeg1, int bitRate, int sampleRate, bool padding)
{
    return (mpeg1 ? 144 : 72) * bitRate / sampleRate + (padding ? 1 : 0);
}

} // namespace

int Header::shortestLength() const
{
    return frameLength(mpeg1, (mpeg1 ? mpeg1BitRates[1] : mpeg2BitRates[1]) * 1000, sampleRate, false);
}

int Header::longestLength() const
{
    return frameLength(mpeg1, (mpeg1 ? mpeg1BitRates[14] : mpeg2BitRates[14]) * 1000, sampleRate, true);
}

bool Header::sameStream(const Header &other) const
{
    return mpeg1 == other.mpeg1 && sampleRate == other.sampleRate && channels == other.channels;
}

std::optional<Header> header(quint32 bytes)
{
    const int version = (bytes >> 19) & 3; // 0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1
    const int layer = (bytes >> 17) & 3;   // 1: Layer III
    const int bitRateIndex = (bytes >> 12) & 15;
    const int rateIndex = (bytes >> 10) & 3;
    if ((bytes >> 21) != 0x7FF || version == 1 || layer != 1 || bitRateIndex == 0 || bitRateIndex == 15
        || rateIndex == 3)
        return std::nullopt;
    Header header;
    header.mpeg1 = version == 3;
    header.sampleRate = mpeg1Rates[rateIndex] >> (header.mpeg1 ? 0 : version == 2 ? 1 : 2);
    header.channels = ((bytes >> 6) & 3) == 3 ? 1 : 2;
    header.samplesPerFrame = header.mpeg1 ? 1152 : 576;
    header.bitRate = (header.mpeg1 ? mpeg1BitRates : mpeg2BitRates)[bitRateIndex] * 1000;
    header.length = frameLength(header.mpeg1, header.bitRate, header.sampleRate, (bytes >> 9) & 1);
    return header;
}

std::optional<Stream> stream(const ByteSource &source)
{
    Stream stream;
    stream.firstFrame = id3v2Size(source.read(0, 10));
    const auto frame = source.read(stream.firstFrame, 512);
    if (frame.size() < 4)
        return std::nullopt;
    const auto first = header(bigEndian32(frame, 0));
    if (!first)
        return std::nullopt;
    stream.first = *first;
    stream.audioEnd = source.size();
    if (source.size() - id3v1Size >= stream.firstFrame && source.read(source.size() - id3v1Size, 3) == "TAG")
        stream.audioEnd -= id3v1Size;
    const int sideInfo = first->mpeg1 ? (first->channels == 1 ? 17 : 32) : (first->channels == 1 ? 9 : 17);
    qsizetype at = 4 + sideInfo;
    if (frame.size() < at + 8)
        return stream;
    const auto tag = frame.mid(at, 4);
    if (tag != "Xing" && tag != "Info")
        return stream;
    stream.constantBitRate = tag == "Info";
    const auto flags = bigEndian32(frame, at + 4);
    at += 8;
    if (flags & 1 && frame.size() >= at + 4) {
        stream.statedFrames = bigEndian32(frame, at);
        at += 4;
    }
    if (flags & 2 && frame.size() >= at + 4)
        stream.statedBytes = bigEndian32(frame, at);
    return stream;
}

bool statedCountFits(const Stream &stream)
{
    if (!stream.statedFrames)
        return true;
    const qint64 frames = *stream.statedFrames;
    const qint64 held = stream.audioEnd - stream.firstFrame - stream.first.length;
    // Frames are whole, but a final one may be cut short: allow two of the longest.
    const qint64 slack = 2 * qint64(stream.first.longestLength());
    if (frames * stream.first.shortestLength() > held + slack)
        return false;
    // The stated bytes count the tag frame too.
    if (stream.statedBytes && *stream.statedBytes > 0 && held + stream.first.length + slack < *stream.statedBytes)
        return false;
    if (stream.constantBitRate && frames * (stream.first.length - 1) > held + slack)
        return false;
    return true;
}

qint64 countFrames(const ByteSource &source, const Stream &stream)
{
    constexpr qint64 chunk = 1 << 16;
    qint64 frames = 0;
    qint64 at = stream.firstFrame + stream.first.length;
    QByteArray buffer;
    qint64 bufferStart = at;
    while (at + 4 <= stream.audioEnd) {
        if (at + 4 > bufferStart + buffer.size()) {
            bufferStart = at;
            buffer = source.read(at, std::min(chunk, stream.audioEnd - at));
            if (buffer.size() < 4)
                break;
        }
        const auto next = header(bigEndian32(buffer, at - bufferStart));
        if (!next || !next->sameStream(stream.first) || at + next->length > stream.audioEnd)
            break;
        ++frames;
        at += next->length;
    }
    return frames;
}

std::optional<qint64> countedLength(const ByteSource &source, const Stream &stream,
                                    const std::optional<Mp3GaplessInfo> &gapless)
{
    constexpr qint64 decoderDelay = 529;
    if (statedCountFits(stream))
        return std::nullopt;
    const qint64 dropped = gapless ? gapless->delay + decoderDelay : 0;
    return std::max<qint64>(0, countFrames(source, stream) * stream.first.samplesPerFrame - dropped);
}

} // namespace Mp3Frames
