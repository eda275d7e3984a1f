#pragma once

#include <QString>
#include <optional>

/// One playback stream of the sound server with the properties of the application behind it.
struct PlaybackStream {
    quint32 index = 0;                    ///< the server's stream index; higher is newer
    bool corked = false;                  ///< paused by its application
    bool onDefaultSink = false;           ///< plays into the default output
    std::optional<QString> appName;       ///< application.name
    std::optional<QString> applicationId; ///< application.id
    std::optional<QString> processBinary; ///< application.process.binary
    std::optional<qint64> processId;      ///< application.process.id
    std::optional<QString> mediaName;     ///< media.name, e.g. a track or tab title
    std::optional<QString> iconName;      ///< application.icon_name
};
