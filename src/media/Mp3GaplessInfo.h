#pragma once

#include <QString>
#include <optional>

/// Encoder delay and padding, in frames, that a LAME tag in an MP3's first frame declares.
struct Mp3GaplessInfo {
    int delay = 0;
    int padding = 0;

    /// The tag of the file at \a path; none when it has no Xing/Info frame with a LAME tag.
    [[nodiscard]] static std::optional<Mp3GaplessInfo> read(const QString &path);
    /// The same from the bytes of the first frame on (after any ID3v2 tag).
    [[nodiscard]] static std::optional<Mp3GaplessInfo> parse(const QByteArray &frame);
};
