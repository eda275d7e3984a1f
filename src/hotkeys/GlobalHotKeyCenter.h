#pragma once

#include "hotkeys/HotKeyShortcut.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class HotKeyGrabber;

/// Registers named shortcuts with the desktop's grabber and runs a shortcut's action on the
/// GUI thread when it is pressed. A name keeps its id for the life of the center.
class GlobalHotKeyCenter : public QObject {
    Q_OBJECT
public:
    /// "VSPT", first character in the highest byte.
    static constexpr quint32 signature = 0x56535054;

    /// \a grabber outlives the center.
    explicit GlobalHotKeyCenter(HotKeyGrabber &grabber, QObject *parent = nullptr);

    /// Registers or replaces the shortcut of \a name; throws GlobalHotKeyError when refused,
    /// leaving nothing registered for \a name.
    void registerHotKey(const QString &name, const HotKeyShortcut &shortcut, std::function<void()> action);
    /// Removes every registration; ids stay reserved for their names.
    void unregisterAll();

    /// The id given to \a name, if it ever was registered.
    [[nodiscard]] std::optional<quint32> idOf(const QString &name) const;
    [[nodiscard]] quint32 nextID() const { return m_nextID; }
    [[nodiscard]] bool isRegistered(const QString &name) const { return m_registered.contains(name); }
    /// The X modifier bits of \a flags: command → Super, option → Alt, control → Control, shift → Shift.
    [[nodiscard]] static quint32 platformModifiers(quint64 flags);

private:
    void dispatch(quint32 id);

    HotKeyGrabber &m_grabber;
    QHash<QString, quint32> m_registered; ///< live registrations: name → id
    QHash<QString, quint32> m_idsByName;
    QHash<quint32, std::function<void()>> m_actions;
    quint32 m_nextID = 1;
};
