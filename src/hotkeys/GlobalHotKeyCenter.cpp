#include "hotkeys/GlobalHotKeyCenter.h"

#include "hotkeys/GlobalHotKeyError.h"
#include "hotkeys/MacKeyCodes.h"
#include "platform/HotKeyGrabber.h"

GlobalHotKeyCenter::GlobalHotKeyCenter(HotKeyGrabber &grabber, QObject *parent) : QObject(parent), m_grabber(grabber)
{
    // The grabber may report from wherever it reads the desktop; the action always runs later, here.
    connect(
        &m_grabber, &HotKeyGrabber::pressed, this, [this](quint32, quint32 id) { dispatch(id); }, Qt::QueuedConnection);
}

void GlobalHotKeyCenter::registerHotKey(const QString &name, const HotKeyShortcut &shortcut,
                                        std::function<void()> action)
{
    if (const auto live = m_registered.find(name); live != m_registered.end()) {
        m_grabber.release(*live);
        m_registered.erase(live);
    }
    if (const auto id = idOf(name))
        m_actions.remove(*id);
    auto id = idOf(name);
    if (!id) {
        id = m_nextID++;
        m_idsByName.insert(name, *id);
    }
    const auto key = MacKeyCodes::fromCode(shortcut.keyCode);
    if (!key)
        throw GlobalHotKeyError(HotKeyGrabber::invalidKeyStatus);
    HotKeyGrabber::Binding binding{
        signature, *id, key->keysym, QString::fromLatin1(key->name), platformModifiers(shortcut.modifierFlags), name};
    if (const auto status = m_grabber.grab(binding); status != 0)
        throw GlobalHotKeyError(status);
    m_registered.insert(name, *id);
    m_actions.insert(*id, std::move(action));
}

void GlobalHotKeyCenter::unregisterAll()
{
    const auto names = m_registered.keys();
    for (const auto &name : names) {
        const auto id = m_registered.take(name);
        m_grabber.release(id);
        m_actions.remove(id);
    }
}

std::optional<quint32> GlobalHotKeyCenter::idOf(const QString &name) const
{
    if (const auto found = m_idsByName.find(name); found != m_idsByName.end())
        return *found;
    return std::nullopt;
}

quint32 GlobalHotKeyCenter::platformModifiers(quint64 flags)
{
    quint32 modifiers = 0;
    if (flags & HotKeyShortcut::commandFlag)
        modifiers |= HotKeyGrabber::superMask;
    if (flags & HotKeyShortcut::shiftFlag)
        modifiers |= HotKeyGrabber::shiftMask;
    if (flags & HotKeyShortcut::optionFlag)
        modifiers |= HotKeyGrabber::altMask;
    if (flags & HotKeyShortcut::controlFlag)
        modifiers |= HotKeyGrabber::controlMask;
    return modifiers;
}

void GlobalHotKeyCenter::dispatch(quint32 id)
{
    // Copied: the action may re-register and so replace itself.
    if (const auto action = m_actions.value(id))
        action();
}
