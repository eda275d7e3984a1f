#pragma once

#include <QString>

/// Names of pitch classes and keys as the library stores them.
namespace MusicalKeys {
/// "C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb" or "B" for \a pitchClass 0...11.
[[nodiscard]] QString noteName(int pitchClass);
/// The note name of \a root, then " major" or " minor", e.g. "F# minor".
[[nodiscard]] QString keyName(int root, bool minor);
/// The relative minor of a major key and the relative major of a minor one, e.g. "A minor"
/// for "C major"; empty for a text that is not a key name.
[[nodiscard]] QString relativeKey(const QString &key);
/// True when \a text is one of the 24 key names.
[[nodiscard]] bool isKeyName(const QString &text);
} // namespace MusicalKeys
