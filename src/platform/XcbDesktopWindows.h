#pragma once

#include "platform/DesktopWindows.h"

#include <QByteArray>

/// The X11 window list: _NET_CLIENT_LIST_STACKING (else _NET_CLIENT_LIST) with each window's
/// _NET_WM_PID and _NET_WM_NAME, and the application of _NET_ACTIVE_WINDOW. Each call opens its
/// own connection, so any thread may ask; without a display every answer is empty.
class XcbDesktopWindows final : public DesktopWindows {
public:
    /// Connects to \a display (empty: $DISPLAY) on each call.
    explicit XcbDesktopWindows(QByteArray display = {}) : m_display(std::move(display)) {}

    std::vector<DesktopWindow> windows() override;
    std::optional<RunningApplication> frontmostApplication() override;

private:
    QByteArray m_display;
};
