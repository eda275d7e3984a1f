#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

/// One key combination of a global hotkey. The key code and modifier bits keep the portable
/// layout of stored shortcuts (see MacKeyCodes), whatever keyboard this desktop has.
struct HotKeyShortcut {
    static constexpr quint64 shiftFlag = 0x20000;
    static constexpr quint64 controlFlag = 0x40000;
    static constexpr quint64 optionFlag = 0x80000;   ///< shown and grabbed as Alt
    static constexpr quint64 commandFlag = 0x100000; ///< shown and grabbed as Super
    static constexpr quint64 modifierMask = 0x1E0000;

    quint32 keyCode = 0;
    quint64 modifierFlags = 0;
    QString keyEquivalent; ///< display name of the key

    /// The modifiers present in the order Ctrl, Alt, Shift, Super, then the key in upper case, joined by "+".
    [[nodiscard]] QString displayText() const;
    /// The JSON object with "keyCode", "modifierFlags" and "keyEquivalent".
    [[nodiscard]] QByteArray toJson() const;
    /// The shortcut of \a json; none unless all three keys are present with the right types.
    [[nodiscard]] static std::optional<HotKeyShortcut> fromJson(const QByteArray &json);
    /// The display name of a key: fixed names for Return, Tab, Space, Delete, Esc and the
    /// arrows, else \a characters (the key's text ignoring modifiers) upper-cased.
    [[nodiscard]] static QString keyName(quint32 keyCode, const QString &characters);

    bool operator==(const HotKeyShortcut &) const = default;
};
