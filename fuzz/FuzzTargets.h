#pragma once

#include <QByteArray>

/// The readers of outside data, each driven with arbitrary bytes. A target returns false when
/// what the reader made breaks one of its promises; a crash or a sanitizer report fails too.
/// Shared by the libFuzzer programs and the test suite that replays every input kept.
namespace FuzzTargets {

/// A Chromium SNSS session file: every tab has an address; the front tab is one of the tabs.
bool chromiumSession(const QByteArray &bytes);
/// A Firefox mozLz4 session store, and the same bytes as its JSON.
bool firefoxSession(const QByteArray &bytes);
/// A metadata sidecar: what decodes encodes to a text that decodes to the same again.
bool sidecar(const QByteArray &bytes);
/// A stored hotkey: what reads writes back to what reads the same.
bool hotKey(const QByteArray &bytes);
/// An MP3's first frame: the delay and padding fit their 12 bits.
bool mp3Gapless(const QByteArray &bytes);
/// A WAV, AIFF, MP3 or M4A header: a length it states has a rate, channels and no more frames
/// than a PCM file's bytes hold.
bool containerHeader(const QByteArray &bytes);

} // namespace FuzzTargets
