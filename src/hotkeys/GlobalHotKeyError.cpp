#include "hotkeys/GlobalHotKeyError.h"

GlobalHotKeyError::GlobalHotKeyError(qint32 status)
    : AppError(QStringLiteral("The hotkey could not be registered. OSStatus %1.").arg(status)), m_status(status)
{}
