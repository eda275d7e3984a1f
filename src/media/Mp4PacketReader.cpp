#include "media/Mp4PacketReader.h"

#include <QtEndian>

#include <algorithm>

namespace {
constexpr qint64 blockEntries = 4096;
/// More time-to-sample entries than an AAC encoder writes (one, or two for a shorter last
/// packet) means durations this reader does not follow.
constexpr qint64 mostDurations = 16;
/// Far more than any packet of an AAC frame holds.
constexpr qint64 largestPacket = 1 << 16;
} // namespace

Mp4PacketReader::Table::Table(const ByteSource *source, Mp4Boxes::Span span, qint64 header, int width)
    : m_source(source), m_offset(span.offset + header), m_width(width)
{
    const auto counted = source->read(span.offset + header - 4, 4);
    const qint64 stated = counted.size() == 4 ? qFromBigEndian<quint32>(counted.constData()) : 0;
    m_count = std::min(stated, std::max<qint64>(0, span.size - header) / width);
}

QByteArray Mp4PacketReader::Table::entry(qint64 index)
{
    if (index < 0 || index >= m_count)
        return {};
    if (m_blockStart < 0 || index < m_blockStart || (index - m_blockStart + 1) * m_width > m_block.size()) {
        m_blockStart = index;
        m_block = m_source->read(m_offset + index * m_width, std::min(blockEntries, m_count - index) * m_width);
    }
    return m_block.mid((index - m_blockStart) * m_width, m_width);
}

quint64 Mp4PacketReader::Table::word(qint64 index, int word)
{
    const auto bytes = entry(index);
    return bytes.size() >= (word + 1) * 4 ? qFromBigEndian<quint32>(bytes.constData() + word * 4) : 0;
}

quint64 Mp4PacketReader::Table::whole(qint64 index)
{
    const auto bytes = entry(index);
    if (bytes.size() != m_width)
        return 0;
    return m_width == 8 ? qFromBigEndian<quint64>(bytes.constData()) : qFromBigEndian<quint32>(bytes.constData());
}

Mp4PacketReader::Mp4PacketReader(Key, ByteSource source, const Mp4Boxes::AudioTrack &track)
    : m_source(std::move(source))
{
    const auto sizes = m_source.read(track.sampleSizes.offset, 12);
    m_constantSize = sizes.size() == 12 ? qFromBigEndian<quint32>(sizes.constData() + 4) : 0;
    m_sizes = Table(&m_source, track.sampleSizes, 12, 4);
    m_packets = sizes.size() == 12 ? qFromBigEndian<quint32>(sizes.constData() + 8) : 0;
    m_chunkOffsets = Table(&m_source, track.chunkOffsets, 8, track.wideChunkOffsets ? 8 : 4);
    m_chunkRuns = Table(&m_source, track.sampleToChunk, 8, 12);
}

std::unique_ptr<Mp4PacketReader> Mp4PacketReader::open(ByteSource source, const Mp4Boxes::AudioTrack &track)
{
    auto reader = std::make_unique<Mp4PacketReader>(Key{}, std::move(source), track);
    auto &r = *reader;
    if (r.m_packets <= 0 || (r.m_constantSize == 0 && r.m_sizes.count() != r.m_packets) || r.m_chunkOffsets.count() < 1
        || r.m_chunkRuns.count() < 1 || r.m_chunkRuns.word(0, 0) != 1)
        return nullptr;
    // Every packet one frame long, the last perhaps shorter.
    Table durations(&r.m_source, track.timeToSample, 8, 8);
    if (durations.count() < 1 || durations.count() > mostDurations)
        return nullptr;
    qint64 timed = 0;
    for (qint64 i = 0; i < durations.count(); ++i) {
        const auto count = qint64(durations.word(i, 0)), duration = qint64(durations.word(i, 1));
        const bool last = i + 1 == durations.count();
        if (count < 1 || duration < 1 || duration > packetDuration
            || (duration != packetDuration && !(last && count == 1)))
            return nullptr;
        timed += count;
    }
    // The chunks' runs hold exactly the packets.
    qint64 packets = 0;
    const qint64 chunks = r.m_chunkOffsets.count();
    for (qint64 run = 0; run < r.m_chunkRuns.count(); ++run) {
        const auto first = qint64(r.m_chunkRuns.word(run, 0));
        const auto next = run + 1 < r.m_chunkRuns.count() ? qint64(r.m_chunkRuns.word(run + 1, 0)) : chunks + 1;
        const auto perChunk = qint64(r.m_chunkRuns.word(run, 1));
        if (first < 1 || next <= first || next > chunks + 1 || perChunk < 1 || r.m_chunkRuns.word(run, 2) != 1)
            return nullptr;
        packets += (next - first) * perChunk;
    }
    if (timed != r.m_packets || packets != r.m_packets)
        return nullptr;
    r.seek(0);
    return reader;
}

qint64 Mp4PacketReader::sizeOf(qint64 packet)
{
    return m_constantSize ? qint64(m_constantSize) : qint64(m_sizes.whole(packet));
}

void Mp4PacketReader::enterChunk(qint64 chunk)
{
    m_chunk = chunk;
    while (m_run + 1 < m_chunkRuns.count() && qint64(m_chunkRuns.word(m_run + 1, 0)) - 1 <= chunk)
        ++m_run;
    m_chunkPackets = qint64(m_chunkRuns.word(m_run, 1));
    m_inChunk = 0;
    m_byte = qint64(m_chunkOffsets.whole(chunk));
}

std::optional<QByteArray> Mp4PacketReader::next()
{
    if (m_packet >= m_packets)
        return std::nullopt;
    const auto size = sizeOf(m_packet);
    if (size <= 0 || size > largestPacket)
        return std::nullopt;
    auto bytes = m_source.read(m_byte, size);
    if (bytes.size() != size)
        return std::nullopt;
    m_byte += size;
    ++m_packet;
    if (++m_inChunk == m_chunkPackets && m_packet < m_packets)
        enterChunk(m_chunk + 1);
    return bytes;
}

void Mp4PacketReader::seek(qint64 packet)
{
    packet = std::clamp<qint64>(packet, 0, m_packets);
    if (packet == m_packets) {
        m_packet = packet;
        return;
    }
    qint64 before = 0;
    const qint64 chunks = m_chunkOffsets.count();
    for (m_run = 0; m_run < m_chunkRuns.count(); ++m_run) {
        const auto first = qint64(m_chunkRuns.word(m_run, 0));
        const auto next = m_run + 1 < m_chunkRuns.count() ? qint64(m_chunkRuns.word(m_run + 1, 0)) : chunks + 1;
        const auto perChunk = qint64(m_chunkRuns.word(m_run, 1));
        const qint64 runPackets = (next - first) * perChunk;
        if (packet < before + runPackets) {
            const qint64 into = packet - before;
            const auto run = m_run;
            enterChunk(first - 1 + into / perChunk);
            m_run = run;
            m_inChunk = into % perChunk;
            for (qint64 p = packet - m_inChunk; p < packet; ++p)
                m_byte += sizeOf(p);
            m_packet = packet;
            return;
        }
        before += runPackets;
    }
}
