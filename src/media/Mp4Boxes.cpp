#include "media/Mp4Boxes.h"

#include <QtEndian>

namespace Mp4Boxes {
namespace {

constexpr int maximumChildren = 256;
constexpr int aacSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};

struct Box {
    QByteArray type;
    Span payload;
};

quint32 be32(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint32)) <= b.size() ? qFromBigEndian<quint32>(b.constData() + at) : 0;
}
quint64 be64(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(quint64)) <= b.size() ? qFromBigEndian<quint64>(b.constData() + at) : 0;
}

/// The boxes directly inside \a parent, in order; empty when one of them does not fit.
std::vector<Box> children(const ByteSource &source, Span parent)
{
    std::vector<Box> boxes;
    const qint64 end = parent.offset + parent.size;
    for (qint64 at = parent.offset; at + 8 <= end;) {
        if (boxes.size() >= maximumChildren)
            return {};
        const auto header = source.read(at, 16);
        if (header.size() < 8)
            return {};
        qint64 size = be32(header, 0);
        qint64 headerSize = 8;
        if (size == 1) {
            if (header.size() < 16)
                return {};
            size = qint64(be64(header, 8));
            headerSize = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < headerSize || size > end - at)
            return {};
        boxes.push_back({header.mid(4, 4), {at + headerSize, size - headerSize}});
        at += size;
    }
    return boxes;
}

std::optional<Box> child(const std::vector<Box> &boxes, const char *type)
{
    std::optional<Box> found;
    for (const auto &box : boxes) {
        if (box.type != type)
            continue;
        if (found)
            return std::nullopt; // two of a kind that should be one: not ours to guess
        found = box;
    }
    return found;
}

QByteArray payloadOf(const ByteSource &source, const Box &box, qint64 limit)
{
    return box.payload.size > limit ? QByteArray() : source.read(box.payload.offset, box.payload.size);
}

/// A descriptor's tag and payload at \a at in \a bytes; \a at moves past it.
std::optional<std::pair<int, QByteArray>> descriptor(const QByteArray &bytes, qsizetype &at)
{
    if (at >= bytes.size())
        return std::nullopt;
    const int tag = quint8(bytes[at++]);
    qsizetype length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= bytes.size())
            return std::nullopt;
        const auto byte = quint8(bytes[at++]);
        length = length << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            break;
    }
    if (length > bytes.size() - at)
        return std::nullopt;
    auto payload = bytes.mid(at, length);
    at += length;
    return std::pair{tag, payload};
}

/// The AudioSpecificConfig of an elementary stream descriptor ('esds' payload after its flags).
std::optional<QByteArray> audioSpecificConfig(const QByteArray &esds)
{
    qsizetype at = 4;
    const auto stream = descriptor(esds, at);
    if (!stream || stream->first != 3 || stream->second.size() < 3)
        return std::nullopt;
    const auto &es = stream->second;
    const int flags = quint8(es[2]);
    qsizetype inner = 3 + (flags & 0x80 ? 2 : 0) + (flags & 0x20 ? 2 : 0);
    if (flags & 0x40) {
        if (inner >= es.size())
            return std::nullopt;
        inner += 1 + quint8(es[inner]);
    }
    const auto config = descriptor(es, inner);
    if (!config || config->first != 4 || config->second.size() < 13 || quint8(config->second[0]) != 0x40)
        return std::nullopt;
    qsizetype specific = 13;
    const auto info = descriptor(config->second, specific);
    if (!info || info->first != 5)
        return std::nullopt;
    return info->second;
}

/// True for the three bytes of a sync extension that states no SBR, as FFmpeg's encoder writes.
bool statesNoSpectralBandReplication(const QByteArray &extension)
{
    const quint32 bits = be32(QByteArray(1, 0) + extension, 0);
    return (bits >> 13) == 0x2b7 && ((bits >> 8) & 31) == 5 && (bits & 0xFF) == 0;
}

/// Rate and channels of a plain AAC-LC configuration of 1024-sample frames; one that might
/// carry an extension other than a sync extension stating no SBR is refused.
bool readLowComplexity(const QByteArray &config, AudioTrack &track)
{
    if (config.size() != 2 && !(config.size() == 5 && statesNoSpectralBandReplication(config.mid(2))))
        return false;
    const quint32 bits = be32(config + QByteArray(2, 0), 0) >> 16;
    const int objectType = bits >> 11;
    const int rateIndex = (bits >> 7) & 15;
    const int channels = (bits >> 3) & 15;
    const int frameLengthAndCore = bits & 7;
    if (objectType != 2 || rateIndex >= 13 || channels < 1 || channels > 6 || frameLengthAndCore != 0)
        return false;
    track.sampleRate = aacSampleRates[rateIndex];
    track.channels = channels;
    track.decoderConfig = config;
    return true;
}

bool readSampleDescription(const ByteSource &source, const Box &stsd, AudioTrack &track)
{
    const auto entries = children(source, {stsd.payload.offset + 8, stsd.payload.size - 8});
    const auto head = source.read(stsd.payload.offset, 8);
    if (head.size() < 8 || be32(head, 4) != 1 || entries.size() != 1 || entries[0].type != "mp4a")
        return false;
    const auto &entry = entries[0].payload;
    // Sample entry (8), then a version 0 audio entry (20): version, revision, vendor, channels,
    // sample size, compression, packet size, rate; its boxes follow.
    const auto fields = source.read(entry.offset, 28);
    if (fields.size() < 28 || be32(fields, 8) >> 16 != 0)
        return false;
    const auto esds = child(children(source, {entry.offset + 28, entry.size - 28}), "esds");
    if (!esds)
        return false;
    const auto config = audioSpecificConfig(payloadOf(source, *esds, 4096));
    return config && readLowComplexity(*config, track);
}

bool readEdits(const ByteSource &source, const std::vector<Box> &trak, AudioTrack &track)
{
    const auto edts = child(trak, "edts");
    if (!edts)
        return true;
    const auto elst = child(children(source, edts->payload), "elst");
    if (!elst)
        return false;
    const auto list = payloadOf(source, *elst, 64);
    if (list.size() < 8 || be32(list, 4) != 1)
        return false;
    const bool wide = list[0] == 1;
    if (list.size() < (wide ? 28 : 20))
        return false;
    const qint64 duration = wide ? qint64(be64(list, 8)) : be32(list, 8);
    const qint64 mediaTime = wide ? qint64(be64(list, 16)) : qint32(be32(list, 12));
    const quint32 rate = be32(list, wide ? 24 : 16);
    if (mediaTime < 0 || rate != 0x00010000 || duration <= 0)
        return false;
    track.editedDuration = duration;
    track.editMediaTime = mediaTime;
    return true;
}

bool readMediaHeader(const QByteArray &mdhd, quint32 &timeScale, qint64 &duration)
{
    const bool wide = !mdhd.isEmpty() && mdhd[0] == 1;
    if (mdhd.size() < (wide ? 32 : 20))
        return false;
    timeScale = be32(mdhd, wide ? 20 : 12);
    duration = wide ? qint64(be64(mdhd, 24)) : be32(mdhd, 16);
    return timeScale > 0 && duration >= 0;
}

/// The track when \a trak is an AAC-LC audio track; none for other tracks, \a foreign when it is
/// audio of another kind.
std::optional<AudioTrack> readTrack(const ByteSource &source, const Box &trak, bool &foreign)
{
    const auto boxes = children(source, trak.payload);
    const auto mdia = child(boxes, "mdia");
    if (!mdia)
        return std::nullopt;
    const auto media = children(source, mdia->payload);
    const auto hdlr = child(media, "hdlr");
    if (!hdlr || payloadOf(source, *hdlr, 4096).mid(8, 4) != "soun")
        return std::nullopt;
    foreign = true;
    AudioTrack track;
    const auto mdhd = child(media, "mdhd");
    const auto minf = child(media, "minf");
    if (!mdhd || !minf || !readMediaHeader(payloadOf(source, *mdhd, 64), track.mediaTimeScale, track.mediaDuration))
        return std::nullopt;
    const auto stblBox = child(children(source, minf->payload), "stbl");
    if (!stblBox)
        return std::nullopt;
    const auto stbl = children(source, stblBox->payload);
    const auto stsd = child(stbl, "stsd");
    const auto stts = child(stbl, "stts");
    const auto stsc = child(stbl, "stsc");
    const auto stsz = child(stbl, "stsz");
    const auto stco = child(stbl, "stco");
    const auto co64 = child(stbl, "co64");
    if (!stsd || !stts || !stsc || !stsz || bool(stco) == bool(co64) || !readSampleDescription(source, *stsd, track)
        || !readEdits(source, boxes, track))
        return std::nullopt;
    track.timeToSample = stts->payload;
    track.sampleToChunk = stsc->payload;
    track.sampleSizes = stsz->payload;
    track.chunkOffsets = stco ? stco->payload : co64->payload;
    track.wideChunkOffsets = bool(co64);
    foreign = false;
    return track;
}

} // namespace

std::optional<AudioTrack> audioTrack(const ByteSource &source)
{
    const auto top = children(source, {0, source.size()});
    const auto moov = child(top, "moov");
    if (!moov || child(top, "moof"))
        return std::nullopt;
    const auto movie = children(source, moov->payload);
    const auto mvhd = child(movie, "mvhd");
    if (!mvhd || child(movie, "mvex"))
        return std::nullopt;
    quint32 movieTimeScale = 0;
    qint64 movieDuration = 0;
    if (!readMediaHeader(payloadOf(source, *mvhd, 256), movieTimeScale, movieDuration))
        return std::nullopt;
    std::optional<AudioTrack> found;
    for (const auto &box : movie) {
        if (box.type != "trak")
            continue;
        bool foreign = false;
        auto track = readTrack(source, box, foreign);
        // A second audio track, or audio this reader does not know: the demuxer decides.
        if (foreign || (track && found))
            return std::nullopt;
        if (track)
            found = std::move(track);
    }
    if (found)
        found->movieTimeScale = movieTimeScale;
    return found;
}

} // namespace Mp4Boxes
