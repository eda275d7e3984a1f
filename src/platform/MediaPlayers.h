#pragma once

#include <QString>
#include <optional>
#include <vector>

/// A media player that is playing, as it publishes itself on the session bus.
struct MediaPlayerState {
    std::optional<QString> desktopEntry; ///< the player's desktop-entry name
    std::optional<qint64> processIdentifier;
    std::optional<QString> title; ///< the playing item's title
    std::optional<QString> url;   ///< the playing item's address, where published
};

/// The desktop's media players.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;

    /// The players whose playback status is playing; empty when none answers.
    [[nodiscard]] virtual std::vector<MediaPlayerState> playingPlayers() = 0;
};
