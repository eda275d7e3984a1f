#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

/// The portable key codes of stored shortcuts (the US-layout virtual key codes of the
/// original keyboard model) and their counterparts here: Qt keys and X keysyms.
namespace MacKeyCodes {

/// One key of the table.
struct Key {
    quint32 code;     ///< the stored key code
    int qtKey;        ///< the Qt::Key it is typed as, unshifted
    quint32 keysym;   ///< the X keysym grabbed for it
    const char *name; ///< the keysym's name, as shortcut triggers spell it
    const char *text; ///< the key's characters ignoring modifiers
};

inline constexpr quint32 escape = 53;

/// The key typed as \a qtKey (shifted symbols count as their unshifted key); none when not in the table.
[[nodiscard]] std::optional<Key> fromQtKey(int qtKey);
/// The key with the stored \a code; none when not in the table.
[[nodiscard]] std::optional<Key> fromCode(quint32 code);
} // namespace MacKeyCodes
