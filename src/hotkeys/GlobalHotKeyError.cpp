#include "hotkeys/GlobalHotKeyError.h"

#include "platform/HotKeyGrabber.h"

namespace {
QString reason(qint32 status)
{
    switch (status) {
    case HotKeyGrabber::takenStatus: return QStringLiteral("another program already uses this key combination");
    case HotKeyGrabber::invalidKeyStatus: return QStringLiteral("this keyboard has no such key");
    case HotKeyGrabber::unavailableStatus:
        return QStringLiteral("this desktop offers neither X11 key grabs nor a global shortcuts portal");
    case HotKeyGrabber::declinedStatus: return QStringLiteral("the desktop declined the shortcut");
    default: return QStringLiteral("the desktop refused it (error %1)").arg(status);
    }
}
} // namespace

GlobalHotKeyError::GlobalHotKeyError(qint32 status)
    : AppError(QStringLiteral("The hotkey could not be registered: %1.").arg(reason(status))), m_status(status)
{}
