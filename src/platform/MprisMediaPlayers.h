#pragma once

#include "platform/MediaPlayers.h"

/// The MPRIS players on the session bus (org.mpris.MediaPlayer2.*): each playing one's
/// DesktopEntry, process, xesam:title and xesam:url. Any thread may ask; each call waits at most
/// half a second per player.
class MprisMediaPlayers final : public MediaPlayers {
public:
    std::vector<MediaPlayerState> playingPlayers() override;
};
