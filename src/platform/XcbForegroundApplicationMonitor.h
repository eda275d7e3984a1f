#pragma once

#include "platform/ForegroundApplicationMonitor.h"

#include <memory>
#include <optional>

class QSocketNotifier;

/// Follows _NET_ACTIVE_WINDOW on the X11 root window through PropertyNotify events and reports
/// the window's application (_NET_WM_PID, WM_CLASS, _NET_WM_NAME). Without a display it does
/// nothing.
class XcbForegroundApplicationMonitor final : public ForegroundApplicationMonitor {
    Q_OBJECT
public:
    /// Connects to \a display (empty: $DISPLAY).
    explicit XcbForegroundApplicationMonitor(const QByteArray &display = {}, QObject *parent = nullptr);
    ~XcbForegroundApplicationMonitor() override;

    /// True when a display answered and the root window is watched.
    [[nodiscard]] bool isConnected() const;
    /// The application of the window now active, if any (also reports nothing for ourselves).
    [[nodiscard]] std::optional<RunningApplication> activeApplication() const;

private:
    struct Connection;
    /// Takes the events from the socket (else only those libxcb already queued); true when
    /// the active window changed among them.
    bool takeEvents(bool readSocket);
    void readEvents();
    void reportActiveWindow();
    [[nodiscard]] std::optional<RunningApplication> lookUpActiveApplication() const;

    std::unique_ptr<Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    quint32 m_lastWindow = 0;
};
