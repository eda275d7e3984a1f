#pragma once

#include <QString>

/// The media sites whose pages play audio: the video site with its short-link domain, the
/// audio-sharing site and the music-streaming site. Shared by the import and the source context.
namespace MediaHosts {

/// True when \a host, lower-cased, is one of the sites or a subdomain of one (a label and a dot
/// before it); the short-link domain counts only as itself.
[[nodiscard]] bool isMediaHost(const QString &host);

} // namespace MediaHosts
