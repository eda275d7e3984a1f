#include "media/Mp3GaplessInfo.h"

#include <QFile>

namespace {

quint32 bigEndian32(const QByteArray &bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16 | quint32(quint8(bytes[at + 2])) << 8
        | quint32(quint8(bytes[at + 3]));
}

/// Skips an ID3v2 tag at the start: 10-byte header with a syncsafe size, plus a footer.
qsizetype firstFrameOffset(const QByteArray &head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    qsizetype size = 0;
    for (int i = 6; i < 10; ++i)
        size = size << 7 | (quint8(head[i]) & 0x7F);
    const bool footer = quint8(head[5]) & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

} // namespace

std::optional<Mp3GaplessInfo> Mp3GaplessInfo::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (!file.seek(firstFrameOffset(file.read(10))))
        return std::nullopt;
    return parse(file.read(512));
}

std::optional<Mp3GaplessInfo> Mp3GaplessInfo::parse(const QByteArray &head)
{
    const qsizetype frame = 0;
    if (head.size() < frame + 4 || quint8(head[frame]) != 0xFF || (quint8(head[frame + 1]) & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (quint8(head[frame + 1]) >> 3) & 3; // 3: MPEG-1
    const bool mono = ((quint8(head[frame + 3]) >> 6) & 3) == 3;
    const int sideInfo = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    qsizetype at = frame + 4 + sideInfo;
    if (head.size() < at + 8)
        return std::nullopt;
    const auto tag = head.mid(at, 4);
    if (tag != "Xing" && tag != "Info")
        return std::nullopt;
    const auto flags = bigEndian32(head, at + 4);
    at += 8;
    if (flags & 1)
        at += 4; // frame count
    if (flags & 2)
        at += 4; // byte count
    if (flags & 4)
        at += 100; // seek table
    if (flags & 8)
        at += 4; // quality
    // LAME tag: encoder (9), revision (1), lowpass (1), peak (4), gains (4), flags (1),
    // bit rate (1), then 12 bits of delay and 12 bits of padding.
    if (head.size() < at + 24 || !(head.mid(at, 4) == "LAME" || head.mid(at, 4) == "Lavc" || head.mid(at, 4) == "Lavf"))
        return std::nullopt;
    const qsizetype gapless = at + 21;
    const int packed = quint8(head[gapless]) << 16 | quint8(head[gapless + 1]) << 8 | quint8(head[gapless + 2]);
    return Mp3GaplessInfo{packed >> 12, packed & 0xFFF};
}
