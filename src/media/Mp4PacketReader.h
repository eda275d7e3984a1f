#pragma once

#include "media/ByteSource.h"
#include "media/Mp4Boxes.h"

#include <QByteArray>
#include <memory>
#include <optional>

/// The AAC packets of an M4A track read straight from its sample tables, a block of entries at a
/// time, so that what it holds does not grow with the file's length (a demuxer keeps an index
/// entry per packet). Reads in order and seeks to any packet.
class Mp4PacketReader {
public:
    /// A reader of \a track in \a source; none unless every packet lasts one frame of 1024
    /// samples (the last may be shorter) and the tables agree on the packet count.
    [[nodiscard]] static std::unique_ptr<Mp4PacketReader> open(ByteSource source, const Mp4Boxes::AudioTrack &track);

    [[nodiscard]] qint64 packetCount() const { return m_packets; }
    /// Samples per packet, in the media's time scale.
    static constexpr qint64 packetDuration = 1024;

    /// The next packet's bytes; none at the end or where the file ends before it.
    std::optional<QByteArray> next();
    /// The packet next() returns next.
    [[nodiscard]] qint64 position() const { return m_packet; }
    /// Moves to packet \a packet (0 up to packetCount()).
    void seek(qint64 packet);

private:
    /// One of the sample tables: its entries of \a width bytes after \a header bytes, read in blocks.
    class Table {
    public:
        Table() = default;
        Table(const ByteSource *source, Mp4Boxes::Span span, qint64 header, int width);
        [[nodiscard]] qint64 count() const { return m_count; }
        /// The \a word-th 32-bit word of entry \a index; 0 outside the table.
        [[nodiscard]] quint64 word(qint64 index, int word = 0);
        /// Entry \a index as one number of the table's width.
        [[nodiscard]] quint64 whole(qint64 index);

    private:
        /// The bytes of entry \a index; empty outside the table.
        QByteArray entry(qint64 index);

        const ByteSource *m_source = nullptr;
        qint64 m_offset = 0;
        qint64 m_count = 0;
        int m_width = 4;
        qint64 m_blockStart = -1;
        QByteArray m_block;
    };

    struct Key {};

public:
    Mp4PacketReader(Key, ByteSource source, const Mp4Boxes::AudioTrack &track);

private:
    [[nodiscard]] qint64 sizeOf(qint64 packet);
    /// Moves to the first packet of chunk \a chunk.
    void enterChunk(qint64 chunk);

    ByteSource m_source;
    Table m_sizes, m_chunkOffsets, m_chunkRuns;
    quint32 m_constantSize = 0; ///< stsz's single size, 0 when it lists them
    qint64 m_packets = 0;

    qint64 m_packet = 0;       ///< the next packet
    qint64 m_chunk = 0;        ///< its chunk
    qint64 m_run = 0;          ///< the stsc run that chunk belongs to
    qint64 m_chunkPackets = 0; ///< packets in that chunk
    qint64 m_inChunk = 0;      ///< the next packet's place in its chunk
    qint64 m_byte = 0;         ///< where the next packet starts
};
