#pragma once

#include "hotkeys/GlobalHotKeyCenter.h"
#include "platform/HotKeyGrabber.h"

#include <QHash>
#include <QList>

/// Grabs that succeed unless their keysym is listed in refusedKeysyms; press() plays a key press.
class ScriptedHotKeyGrabber final : public HotKeyGrabber {
public:
    QHash<quint32, Binding> live; ///< by id
    QList<quint32> refusedKeysyms;
    int grabs = 0;

    qint32 grab(const Binding &binding) override
    {
        ++grabs;
        if (refusedKeysyms.contains(binding.keysym))
            return takenStatus;
        live.insert(binding.id, binding);
        return 0;
    }
    void release(quint32 id) override { live.remove(id); }
    void press(quint32 id) { emit pressed(GlobalHotKeyCenter::signature, id); }
};
