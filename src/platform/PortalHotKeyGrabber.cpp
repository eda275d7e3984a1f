#include "platform/PortalHotKeyGrabber.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QTimer>
#include <algorithm>

namespace {
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

/// One entry of BindShortcuts: the shortcut's id and its options.
struct PortalShortcut {
    QString id;
    QVariantMap options;
};
} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {
QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.options;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.options;
    argument.endStructure();
    return argument;
}

QString description(const QString &name)
{
    if (name == QLatin1String("toggleRecording"))
        return QStringLiteral("Toggle recording");
    if (name == QLatin1String("openLibrary"))
        return QStringLiteral("Open library");
    return name;
}
} // namespace

PortalHotKeyGrabber::PortalHotKeyGrabber(QDBusConnection bus, QString service, QObject *parent)
    : HotKeyGrabber(parent), m_bus(std::move(bus)), m_service(std::move(service))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_bus.connect(m_service, desktopPath, shortcutsInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
}

PortalHotKeyGrabber::~PortalHotKeyGrabber()
{
    closeSession();
}

qint32 PortalHotKeyGrabber::grab(const Binding &binding)
{
    if (m_unavailable)
        return unavailableStatus;
    m_bindings.insert(binding.id, binding);
    schedule();
    return 0;
}

void PortalHotKeyGrabber::release(quint32 id)
{
    if (m_bindings.remove(id))
        schedule();
}

QString PortalHotKeyGrabber::trigger(const Binding &binding)
{
    QStringList parts;
    if (binding.modifiers & controlMask)
        parts << QStringLiteral("CTRL");
    if (binding.modifiers & altMask)
        parts << QStringLiteral("ALT");
    if (binding.modifiers & shiftMask)
        parts << QStringLiteral("SHIFT");
    if (binding.modifiers & superMask)
        parts << QStringLiteral("LOGO");
    parts << binding.keysymName;
    return parts.join(u'+');
}

QString PortalHotKeyGrabber::key() const
{
    QStringList entries;
    for (const auto &binding : m_bindings)
        entries << binding.name + u'=' + trigger(binding);
    entries.sort();
    return entries.join(u';');
}

void PortalHotKeyGrabber::schedule()
{
    // The hotkey store releases and grabs everything in one go; the portal sees only the result.
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        flush();
    });
}

void PortalHotKeyGrabber::flush()
{
    if (m_step != Step::idle || m_unavailable)
        return;
    // A set the portal refused is not asked for again until it changes.
    if (key() == m_boundKey || key() == m_refusedKey)
        return;
    closeSession();
    m_boundKey.clear();
    if (m_bindings.isEmpty())
        return;
    if (m_registered) {
        createSession();
        return;
    }
    // Portals that ask for the application's id get it first; older ones do not know the call.
    m_step = Step::registering;
    auto call = QDBusMessage::createMethodCall(
        m_service, desktopPath, QStringLiteral("org.freedesktop.host.portal.Registry"), QStringLiteral("Register"));
    call << QString::fromLatin1(appID) << QVariantMap();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        m_registered = true;
        createSession();
    });
}

void PortalHotKeyGrabber::createSession()
{
    m_step = Step::creatingSession;
    const auto token = QStringLiteral("vespertone%1").arg(++m_tokens);
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), QStringLiteral("vespertone_session%1").arg(m_tokens)}};
    request(QStringLiteral("CreateSession"), {options}, token);
}

void PortalHotKeyGrabber::bindShortcuts()
{
    m_step = Step::binding;
    QList<PortalShortcut> shortcuts;
    auto bindings = m_bindings.values();
    std::sort(bindings.begin(), bindings.end(), [](const Binding &a, const Binding &b) { return a.id < b.id; });
    for (const auto &binding : bindings)
        shortcuts.append({binding.name,
                          {{QStringLiteral("description"), description(binding.name)},
                           {QStringLiteral("preferred_trigger"), trigger(binding)}}});
    const auto token = QStringLiteral("vespertone%1").arg(++m_tokens);
    m_boundKey = key();
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
             QVariantMap{{QStringLiteral("handle_token"), token}}},
            token);
}

void PortalHotKeyGrabber::request(const QString &method, const QVariantList &arguments, const QString &token)
{
    // Listening before the call, on the path the portal will use, so no answer is missed.
    m_pendingRequest = requestPath(token);
    m_bus.connect(m_service, m_pendingRequest, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    auto call = QDBusMessage::createMethodCall(m_service, desktopPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *done;
        if (reply.isError()) {
            fail();
            return;
        }
        // A portal that does not predict its request paths names the one it made.
        const auto path = reply.value().path();
        if (path != m_pendingRequest) {
            m_bus.disconnect(m_service, m_pendingRequest, requestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
            m_pendingRequest = path;
            m_bus.connect(m_service, path, requestInterface, QStringLiteral("Response"), this,
                          SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        }
    });
}

QString PortalHotKeyGrabber::requestPath(const QString &token) const
{
    auto sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return desktopPath + QStringLiteral("/request/") + sender + u'/' + token;
}

void PortalHotKeyGrabber::onResponse(uint response, const QVariantMap &results, const QDBusMessage &message)
{
    if (message.path() != m_pendingRequest)
        return;
    m_bus.disconnect(m_service, m_pendingRequest, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    m_pendingRequest.clear();
    if (response != 0) {
        if (m_step == Step::binding) {
            m_refusedKey = m_boundKey;
            m_boundKey.clear();
        }
        m_step = Step::idle;
        emit refused(declinedStatus);
        return;
    }
    if (m_step == Step::creatingSession) {
        const auto handle = results.value(QStringLiteral("session_handle"));
        m_session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
        if (m_session.isEmpty()) {
            fail();
            return;
        }
        bindShortcuts();
        return;
    }
    m_step = Step::idle;
    if (key() != m_boundKey) {
        schedule();
        return;
    }
    emit bound();
}

void PortalHotKeyGrabber::onActivated(const QDBusMessage &message)
{
    const auto arguments = message.arguments();
    if (arguments.size() < 2 || m_session.isEmpty())
        return;
    const auto session = arguments.at(0).value<QDBusObjectPath>().path();
    if (session != m_session)
        return;
    const auto name = arguments.at(1).toString();
    for (const auto &binding : std::as_const(m_bindings)) {
        if (binding.name == name) {
            emit pressed(binding.signature, binding.id);
            return;
        }
    }
}

void PortalHotKeyGrabber::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(
        m_service, m_session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    m_session.clear();
}

void PortalHotKeyGrabber::fail()
{
    // No portal, or one without GlobalShortcuts: the desktop offers no global grabs.
    m_step = Step::idle;
    m_unavailable = true;
    m_boundKey.clear();
    m_bindings.clear();
    emit refused(unavailableStatus);
}
