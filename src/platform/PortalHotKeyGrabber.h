#pragma once

#include "platform/HotKeyGrabber.h"

#include <QDBusConnection>
#include <QHash>
#include <QVariantMap>

class QDBusMessage;

/// Global hotkeys through the desktop portal's GlobalShortcuts interface, for Wayland sessions.
/// Grabs are collected and bound together, once per portal session; a changed set opens a new
/// session. The portal answers later, so a refusal arrives as refused().
class PortalHotKeyGrabber final : public HotKeyGrabber {
    Q_OBJECT
public:
    static constexpr auto portalService = "org.freedesktop.portal.Desktop";
    static constexpr auto appID = "vespertone";

    /// Talks to \a service on \a bus.
    explicit PortalHotKeyGrabber(QDBusConnection bus, QString service = QString::fromLatin1(portalService),
                                 QObject *parent = nullptr);
    ~PortalHotKeyGrabber() override;

    qint32 grab(const Binding &binding) override;
    void release(quint32 id) override;
    /// The trigger the portal is offered for \a binding, e.g. "SHIFT+LOGO+r".
    [[nodiscard]] static QString trigger(const Binding &binding);
    /// True once a session is bound with the current grabs.
    [[nodiscard]] bool isBound() const { return m_boundKey == key() && !m_boundKey.isEmpty(); }

signals:
    /// The portal bound the current grabs.
    void bound();

private slots:
    void onResponse(uint response, const QVariantMap &results, const QDBusMessage &message);
    void onActivated(const QDBusMessage &message);

private:
    enum class Step { idle, registering, creatingSession, binding };
    [[nodiscard]] QString key() const;
    void schedule();
    void flush();
    void createSession();
    void bindShortcuts();
    void closeSession();
    void fail();
    /// Calls \a method of the portal and expects a Response on the request it names.
    void request(const QString &method, const QVariantList &arguments, const QString &token);
    [[nodiscard]] QString requestPath(const QString &token) const;

    QDBusConnection m_bus;
    QString m_service;
    QHash<quint32, Binding> m_bindings;
    QString m_boundKey;
    QString m_refusedKey;
    QString m_session;
    QString m_pendingRequest;
    Step m_step = Step::idle;
    bool m_registered = false;
    bool m_unavailable = false;
    bool m_scheduled = false;
    quint32 m_tokens = 0;
};
