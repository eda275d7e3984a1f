#include "FuzzTargets.h"

#include "hotkeys/HotKeyShortcut.h"
#include "library/SidecarCodec.h"
#include "media/HeaderLength.h"
#include "media/Mp3GaplessInfo.h"
#include "platform/ChromiumSessionReader.h"
#include "platform/FirefoxSessionReader.h"

#include <algorithm>

namespace FuzzTargets {
namespace {
bool wellFormed(const BrowserSession &session)
{
    const bool addressed = std::all_of(session.tabs.begin(), session.tabs.end(),
                                       [](const BrowserTab &tab) { return !tab.urlString.isEmpty(); });
    const bool frontListed = !session.frontTab
        || std::find(session.tabs.begin(), session.tabs.end(), *session.frontTab) != session.tabs.end();
    return addressed && frontListed;
}
} // namespace

bool chromiumSession(const QByteArray &bytes)
{
    return wellFormed(ChromiumSessionReader::parse(bytes));
}

bool firefoxSession(const QByteArray &bytes)
{
    return wellFormed(FirefoxSessionReader::parse(FirefoxSessionReader::decompress(bytes)))
        && wellFormed(FirefoxSessionReader::parse(bytes));
}

bool sidecar(const QByteArray &bytes)
{
    const auto decoded = SidecarCodec::decode(bytes);
    if (!decoded)
        return true;
    // A text that does not survive UTF-8 (a lone surrogate) settles after one round.
    const auto once = SidecarCodec::encode(*decoded);
    const auto again = SidecarCodec::decode(once);
    return again && SidecarCodec::encode(*again) == once;
}

bool hotKey(const QByteArray &bytes)
{
    const auto shortcut = HotKeyShortcut::fromJson(bytes);
    if (!shortcut)
        return true;
    [[maybe_unused]] const auto shown = shortcut->displayText();
    return HotKeyShortcut::fromJson(shortcut->toJson()) == shortcut;
}

bool mp3Gapless(const QByteArray &bytes)
{
    const auto info = Mp3GaplessInfo::parse(bytes);
    return !info || (info->delay >= 0 && info->delay < 4096 && info->padding >= 0 && info->padding < 4096);
}

bool containerHeader(const QByteArray &bytes)
{
    const auto source = ByteSource::ofBytes(bytes);
    const auto sound = [](const std::optional<AudioFileInfo> &info) {
        return !info || (info->sampleRate > 0 && info->channelCount > 0 && info->length >= 0);
    };
    // A PCM length never counts more frames than the bytes after its header could hold.
    const auto held = [&](const std::optional<AudioFileInfo> &info) {
        return !info || info->length <= bytes.size() / info->channelCount;
    };
    const auto wave = HeaderLength::wave(source);
    const auto aiff = HeaderLength::aiff(source);
    return sound(HeaderLength::of(source)) && sound(wave) && held(wave) && sound(aiff) && held(aiff)
        && sound(HeaderLength::mp3(source)) && sound(HeaderLength::mp4(source));
}

} // namespace FuzzTargets
