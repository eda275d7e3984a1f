#pragma once

#include "platform/PlaybackStream.h"

#include <QString>
#include <optional>

/// What a capture records: everything an output plays (its monitor), an input, or the playback
/// of one application alone.
struct CaptureTarget {
    enum class Kind {
        outputMonitor, ///< everything the output plays
        input,         ///< an input, usually the microphone
        application,   ///< every stream one application plays, mixed
    };

    Kind kind = Kind::outputMonitor;
    /// The output's or input's name on the sound server; empty means the server's default.
    QString device;
    /// The application.name its streams carry, compared without regard to case.
    QString applicationName;
    /// Only the streams of this process, when set.
    std::optional<qint64> processId;

    [[nodiscard]] static CaptureTarget defaultOutput() { return {}; }
    [[nodiscard]] static CaptureTarget defaultInput() { return {Kind::input, {}, {}, {}}; }
    [[nodiscard]] static CaptureTarget application(const QString &name, std::optional<qint64> processId = {})
    {
        return {Kind::application, {}, name, processId};
    }

    /// True when this is an application target and \a stream is one of its streams.
    [[nodiscard]] bool plays(const PlaybackStream &stream) const;

    bool operator==(const CaptureTarget &) const = default;
};
