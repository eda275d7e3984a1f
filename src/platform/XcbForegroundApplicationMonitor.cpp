#include "platform/XcbForegroundApplicationMonitor.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *value)
{
    return Reply<T>(value, &std::free);
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const auto answer = reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

/// The property's raw bytes; empty when it is missing.
QByteArray readProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t atom, xcb_atom_t type)
{
    if (atom == XCB_ATOM_NONE)
        return {};
    const auto answer = reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, atom, type, 0, 4096), nullptr));
    if (!answer || answer->format == 0)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(answer.get())),
                      xcb_get_property_value_length(answer.get()));
}

std::optional<quint32> cardinal(const QByteArray &bytes)
{
    if (bytes.size() < int(sizeof(quint32)))
        return std::nullopt;
    quint32 value = 0;
    std::memcpy(&value, bytes.constData(), sizeof value);
    return value;
}

std::optional<QString> nonEmpty(const QString &text)
{
    return text.trimmed().isEmpty() ? std::nullopt : std::optional(text.trimmed());
}
} // namespace

struct XcbForegroundApplicationMonitor::Connection {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> handle{nullptr, &xcb_disconnect};
    xcb_window_t root = 0;
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t pid = XCB_ATOM_NONE;
    xcb_atom_t name = XCB_ATOM_NONE;
    xcb_atom_t utf8 = XCB_ATOM_NONE;
};

XcbForegroundApplicationMonitor::XcbForegroundApplicationMonitor(const QByteArray &display, QObject *parent)
    : ForegroundApplicationMonitor(parent)
{
    if (display.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    auto connection = std::make_unique<Connection>();
    connection->handle.reset(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr));
    auto *c = connection->handle.get();
    if (!c || xcb_connection_has_error(c))
        return;
    const auto *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return;
    connection->root = screen->root;
    connection->activeWindow = internAtom(c, "_NET_ACTIVE_WINDOW");
    connection->pid = internAtom(c, "_NET_WM_PID");
    connection->name = internAtom(c, "_NET_WM_NAME");
    connection->utf8 = internAtom(c, "UTF8_STRING");
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, connection->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    m_connection = std::move(connection);
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XcbForegroundApplicationMonitor::readEvents);
}

XcbForegroundApplicationMonitor::~XcbForegroundApplicationMonitor() = default;

bool XcbForegroundApplicationMonitor::isConnected() const
{
    return m_connection != nullptr;
}

bool XcbForegroundApplicationMonitor::takeEvents(bool readSocket)
{
    auto *c = m_connection->handle.get();
    bool activeChanged = false;
    while (auto event = reply(readSocket ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c))) {
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto *notify = reinterpret_cast<const xcb_property_notify_event_t *>(event.get());
        activeChanged |= notify->window == m_connection->root && notify->atom == m_connection->activeWindow;
    }
    return activeChanged;
}

void XcbForegroundApplicationMonitor::readEvents()
{
    auto *c = m_connection->handle.get();
    bool activeChanged = takeEvents(true);
    if (xcb_connection_has_error(c)) {
        // The display went away: stop listening rather than spin on a dead socket.
        m_notifier->setEnabled(false);
        return;
    }
    // A round trip reads the socket empty: events that arrived with its reply wait in
    // libxcb's queue, where the socket notifier never sees them.
    while (activeChanged) {
        reportActiveWindow();
        activeChanged = takeEvents(false);
    }
}

void XcbForegroundApplicationMonitor::reportActiveWindow()
{
    auto *c = m_connection->handle.get();
    const auto window = cardinal(readProperty(c, m_connection->root, m_connection->activeWindow, XCB_ATOM_WINDOW));
    if (!window || *window == 0 || *window == m_lastWindow)
        return;
    m_lastWindow = *window;
    if (const auto application = lookUpActiveApplication())
        emit applicationActivated(*application);
}

std::optional<RunningApplication> XcbForegroundApplicationMonitor::activeApplication() const
{
    if (!m_connection)
        return std::nullopt;
    const auto application = lookUpActiveApplication();
    // Its round trips may have queued events the socket notifier will not announce.
    auto *self = const_cast<XcbForegroundApplicationMonitor *>(this);
    QMetaObject::invokeMethod(self, &XcbForegroundApplicationMonitor::readEvents, Qt::QueuedConnection);
    return application;
}

std::optional<RunningApplication> XcbForegroundApplicationMonitor::lookUpActiveApplication() const
{
    auto *c = m_connection->handle.get();
    const auto window = cardinal(readProperty(c, m_connection->root, m_connection->activeWindow, XCB_ATOM_WINDOW));
    if (!window || *window == 0)
        return std::nullopt;

    RunningApplication application;
    if (const auto pid = cardinal(readProperty(c, *window, m_connection->pid, XCB_ATOM_CARDINAL)))
        application.processIdentifier = qint64(*pid);
    if (application.processIdentifier == QCoreApplication::applicationPid())
        return std::nullopt;
    // WM_CLASS holds the instance and the class name, each ending in a zero byte.
    const auto wmClass = readProperty(c, *window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
    if (!wmClass.isEmpty())
        application.bundleIdentifier = nonEmpty(QString::fromLocal8Bit(wmClass.value(0)));
    if (wmClass.size() > 1)
        application.localizedName = nonEmpty(QString::fromLocal8Bit(wmClass.value(1)));
    if (!application.localizedName)
        application.localizedName =
            nonEmpty(QString::fromUtf8(readProperty(c, *window, m_connection->name, m_connection->utf8)));
    if (!application.processIdentifier && !application.bundleIdentifier && !application.localizedName)
        return std::nullopt;
    return application;
}
