#include "platform/XcbDesktopWindows.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *value)
{
    return Reply<T>(value, &std::free);
}

/// One connection with the atoms the window list needs.
class Session {
public:
    explicit Session(const QByteArray &display)
    {
        if (display.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        m_handle.reset(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr));
        if (!m_handle || xcb_connection_has_error(m_handle.get())) {
            m_handle.reset();
            return;
        }
        const auto *screen = xcb_setup_roots_iterator(xcb_get_setup(m_handle.get())).data;
        if (!screen) {
            m_handle.reset();
            return;
        }
        root = screen->root;
    }

    [[nodiscard]] bool isOpen() const { return bool(m_handle); }

    xcb_atom_t atom(const char *name)
    {
        const auto answer = reply(xcb_intern_atom_reply(
            m_handle.get(), xcb_intern_atom(m_handle.get(), 1, std::uint16_t(std::strlen(name)), name), nullptr));
        return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    /// The property's raw bytes (at most 1 MiB); empty when it is missing.
    QByteArray property(xcb_window_t window, xcb_atom_t atom, xcb_atom_t type)
    {
        if (atom == XCB_ATOM_NONE)
            return {};
        const auto answer = reply(xcb_get_property_reply(
            m_handle.get(), xcb_get_property(m_handle.get(), 0, window, atom, type, 0, 1 << 18), nullptr));
        if (!answer || answer->format == 0)
            return {};
        return QByteArray(static_cast<const char *>(xcb_get_property_value(answer.get())),
                          xcb_get_property_value_length(answer.get()));
    }

    std::vector<quint32> cardinals(xcb_window_t window, xcb_atom_t atom, xcb_atom_t type)
    {
        const auto bytes = property(window, atom, type);
        std::vector<quint32> values(std::size_t(bytes.size()) / sizeof(quint32));
        if (!values.empty())
            std::memcpy(values.data(), bytes.constData(), values.size() * sizeof(quint32));
        return values;
    }

    std::optional<qint64> pid(xcb_window_t window)
    {
        const auto values = cardinals(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        return values.empty() || values.front() == 0 ? std::nullopt : std::optional(qint64(values.front()));
    }

    QString title(xcb_window_t window)
    {
        const auto utf8 = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
        if (!utf8.isEmpty())
            return QString::fromUtf8(utf8).trimmed();
        return QString::fromLatin1(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING)).trimmed();
    }

    xcb_window_t root = 0;

private:
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> m_handle{nullptr, &xcb_disconnect};
};

std::optional<QString> nonEmpty(const QString &text)
{
    return text.trimmed().isEmpty() ? std::nullopt : std::optional(text.trimmed());
}
} // namespace

std::vector<DesktopWindow> XcbDesktopWindows::windows()
{
    Session session(m_display);
    if (!session.isOpen())
        return {};
    // The stacking list runs bottom to top.
    auto clients = session.cardinals(session.root, session.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (clients.empty())
        clients = session.cardinals(session.root, session.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    else
        std::reverse(clients.begin(), clients.end());
    std::vector<DesktopWindow> windows;
    for (const auto window : clients)
        windows.push_back({session.pid(window), session.title(window)});
    return windows;
}

std::optional<RunningApplication> XcbDesktopWindows::frontmostApplication()
{
    Session session(m_display);
    if (!session.isOpen())
        return std::nullopt;
    const auto active = session.cardinals(session.root, session.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active.empty() || active.front() == 0)
        return std::nullopt;
    const auto window = active.front();
    RunningApplication application;
    application.processIdentifier = session.pid(window);
    if (application.processIdentifier == QCoreApplication::applicationPid())
        return std::nullopt;
    // WM_CLASS holds the instance and the class name, each ending in a zero byte.
    const auto wmClass = session.property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
    application.bundleIdentifier = nonEmpty(QString::fromLocal8Bit(wmClass.value(0)));
    application.localizedName = nonEmpty(QString::fromLocal8Bit(wmClass.value(1)));
    if (!application.localizedName)
        application.localizedName = nonEmpty(session.title(window));
    if (!application.processIdentifier && !application.bundleIdentifier && !application.localizedName)
        return std::nullopt;
    return application;
}
