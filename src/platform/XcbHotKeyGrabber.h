#pragma once

#include "platform/HotKeyGrabber.h"

#include <QHash>
#include <QVector>
#include <memory>

class QSocketNotifier;

/// Global hotkeys as passive key grabs on the X11 root window, in every Caps Lock and Num Lock
/// state. Without a display every grab is refused.
class XcbHotKeyGrabber final : public HotKeyGrabber {
    Q_OBJECT
public:
    /// Connects to \a display (empty: $DISPLAY).
    explicit XcbHotKeyGrabber(const QByteArray &display = {}, QObject *parent = nullptr);
    ~XcbHotKeyGrabber() override;

    /// True when a display answered.
    [[nodiscard]] bool isConnected() const;
    qint32 grab(const Binding &binding) override;
    void release(quint32 id) override;

private:
    struct Connection;
    struct Grab {
        quint8 keycode;
        quint16 modifiers;
    };
    void ungrab(const QVector<Grab> &grabs);
    void readEvents();

    std::unique_ptr<Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    QHash<quint32, QVector<Grab>> m_grabs; ///< per id, one entry per keycode and lock state
    QHash<quint32, quint32> m_signatures;
};
