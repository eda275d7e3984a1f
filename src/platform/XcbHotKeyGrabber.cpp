#include "platform/XcbHotKeyGrabber.h"

#include <QSocketNotifier>
#include <algorithm>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {
constexpr quint16 lockMask = XCB_MOD_MASK_LOCK;
constexpr quint16 numLockMask = XCB_MOD_MASK_2;
constexpr quint16 chordMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr quint16 lockStates[] = {0, lockMask, numLockMask, lockMask | numLockMask};
} // namespace

struct XcbHotKeyGrabber::Connection {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> handle{nullptr, &xcb_disconnect};
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols{nullptr, &xcb_key_symbols_free};
    xcb_window_t root = 0;
};

XcbHotKeyGrabber::XcbHotKeyGrabber(const QByteArray &display, QObject *parent)
    : HotKeyGrabber(parent), m_connection(std::make_unique<Connection>())
{
    m_connection->handle.reset(xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr));
    auto *c = m_connection->handle.get();
    if (!c || xcb_connection_has_error(c)) {
        m_connection.reset();
        return;
    }
    m_connection->root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    m_connection->symbols.reset(xcb_key_symbols_alloc(c));
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XcbHotKeyGrabber::readEvents);
}

XcbHotKeyGrabber::~XcbHotKeyGrabber()
{
    const auto ids = m_grabs.keys();
    for (const auto id : ids)
        release(id);
}

bool XcbHotKeyGrabber::isConnected() const
{
    return m_connection != nullptr;
}

qint32 XcbHotKeyGrabber::grab(const Binding &binding)
{
    release(binding.id);
    if (!m_connection)
        return unavailableStatus;
    auto *c = m_connection->handle.get();
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> keycodes(
        xcb_key_symbols_get_keycode(m_connection->symbols.get(), binding.keysym), &std::free);
    if (!keycodes || *keycodes == XCB_NO_SYMBOL)
        return invalidKeyStatus;
    const auto modifiers = quint16(binding.modifiers & chordMask);
    QVector<Grab> grabs;
    qint32 status = 0;
    for (const auto *keycode = keycodes.get(); *keycode != XCB_NO_SYMBOL && status == 0; ++keycode) {
        for (const auto lock : lockStates) {
            const auto cookie = xcb_grab_key_checked(c, 1, m_connection->root, modifiers | lock, *keycode,
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(xcb_request_check(c, cookie), &std::free);
            if (error) {
                status = error->error_code == XCB_ACCESS ? takenStatus : invalidKeyStatus;
                break;
            }
            grabs.append({*keycode, quint16(modifiers | lock)});
        }
    }
    if (status != 0) {
        ungrab(grabs);
        return status;
    }
    m_grabs.insert(binding.id, grabs);
    m_signatures.insert(binding.id, binding.signature);
    // Replies read above may have brought events along.
    readEvents();
    return 0;
}

void XcbHotKeyGrabber::release(quint32 id)
{
    if (const auto grabs = m_grabs.take(id); !grabs.isEmpty())
        ungrab(grabs);
    m_signatures.remove(id);
}

void XcbHotKeyGrabber::ungrab(const QVector<Grab> &grabs)
{
    if (!m_connection)
        return;
    auto *c = m_connection->handle.get();
    for (const auto &grab : grabs)
        xcb_ungrab_key(c, grab.keycode, m_connection->root, grab.modifiers);
    xcb_flush(c);
}

void XcbHotKeyGrabber::readEvents()
{
    if (!m_connection)
        return;
    auto *c = m_connection->handle.get();
    while (auto *raw = xcb_poll_for_event(c)) {
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(raw, &std::free);
        const auto type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            xcb_refresh_keyboard_mapping(m_connection->symbols.get(),
                                         reinterpret_cast<xcb_mapping_notify_event_t *>(raw));
            continue;
        }
        if (type != XCB_KEY_PRESS)
            continue;
        const auto *press = reinterpret_cast<xcb_key_press_event_t *>(raw);
        const auto chord = quint16(press->state & chordMask);
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
            const bool matches = std::any_of(it->cbegin(), it->cend(), [&](const Grab &grab) {
                return grab.keycode == press->detail && (grab.modifiers & chordMask) == chord;
            });
            if (matches) {
                emit pressed(m_signatures.value(it.key()), it.key());
                break;
            }
        }
    }
    // A display that went away leaves the socket readable for ever; stop watching it.
    if (xcb_connection_has_error(c) && m_notifier)
        m_notifier->setEnabled(false);
}
