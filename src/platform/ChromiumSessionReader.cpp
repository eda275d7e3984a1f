#include "platform/ChromiumSessionReader.h"

#include <QtEndian>

#include <algorithm>
#include <map>
#include <optional>

namespace ChromiumSessionReader {
namespace {

/// Reads little-endian values from a payload; every read past its end fails.
class Reader {
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    std::optional<qint32> int32()
    {
        if (m_position + 4 > m_bytes.size())
            return std::nullopt;
        const auto value = qFromLittleEndian<qint32>(m_bytes.data() + m_position);
        m_position += 4;
        return value;
    }
    /// A pickled string: a 32-bit length, the bytes, padding to four.
    std::optional<QByteArray> bytes(qint64 unitSize)
    {
        const auto length = int32();
        if (!length || *length < 0 || qint64(*length) * unitSize > m_bytes.size() - m_position)
            return std::nullopt;
        const auto size = qint64(*length) * unitSize;
        QByteArray value(m_bytes.data() + m_position, qsizetype(size));
        m_position += (size + 3) & ~qint64(3);
        return value;
    }

private:
    QByteArrayView m_bytes;
    qint64 m_position = 0;
};

struct Tab {
    std::optional<qint32> window;
    qint32 index = 0;
    std::optional<qint32> selectedNavigation;
    std::map<qint32, BrowserTab> navigations;
};

struct Window {
    int order = 0;
    std::optional<qint32> selectedTab;
};

std::optional<QString> trimmed(const QString &text)
{
    auto value = text.trimmed();
    return value.isEmpty() ? std::nullopt : std::optional(value);
}

/// A tab navigation pickle: payload size, tab id, navigation index, URL, UTF-16 title, ...
std::optional<std::pair<qint32, std::pair<qint32, BrowserTab>>> navigation(QByteArrayView payload)
{
    Reader reader(payload);
    const auto pickleSize = reader.int32();
    const auto tab = reader.int32();
    const auto index = reader.int32();
    const auto url = reader.bytes(1);
    if (!pickleSize || !tab || !index || !url)
        return std::nullopt;
    const auto title = reader.bytes(2);
    QString titleText;
    if (title)
        titleText = QString::fromUtf16(reinterpret_cast<const char16_t *>(title->constData()), title->size() / 2);
    const auto urlText = trimmed(QString::fromUtf8(*url));
    if (!urlText)
        return std::nullopt;
    return std::pair(*tab, std::pair(*index, BrowserTab{trimmed(titleText), *urlText}));
}
} // namespace

BrowserSession parse(const QByteArray &snss)
{
    std::map<qint32, Tab> tabs;
    std::map<qint32, Window> windows;
    std::optional<qint32> activeWindow;
    const auto windowEntry = [&](qint32 id) -> Window & {
        auto found = windows.find(id);
        if (found == windows.end())
            found = windows.emplace(id, Window{int(windows.size()), std::nullopt}).first;
        return found->second;
    };

    if (snss.size() >= 8 && snss.startsWith("SNSS")) {
        qsizetype position = 8;
        while (position + 2 <= snss.size()) {
            const auto size = qFromLittleEndian<quint16>(snss.constData() + position);
            position += 2;
            if (size == 0 || position + size > snss.size())
                break; // a record the browser was still writing
            const auto command = quint8(snss.at(position));
            const QByteArrayView payload(snss.constData() + position + 1, size - 1);
            position += size;
            Reader reader(payload);
            switch (command) {
            case setTabWindow: {
                const auto window = reader.int32(), tab = reader.int32();
                if (window && tab) {
                    windowEntry(*window);
                    tabs[*tab].window = *window;
                }
                break;
            }
            case setTabIndexInWindow: {
                const auto tab = reader.int32(), index = reader.int32();
                if (tab && index)
                    tabs[*tab].index = *index;
                break;
            }
            case updateTabNavigation:
                if (auto entry = navigation(payload))
                    tabs[entry->first].navigations.insert_or_assign(entry->second.first, entry->second.second);
                break;
            case setSelectedNavigationIndex: {
                const auto tab = reader.int32(), index = reader.int32();
                if (tab && index)
                    tabs[*tab].selectedNavigation = *index;
                break;
            }
            case setSelectedTabInIndex: {
                const auto window = reader.int32(), index = reader.int32();
                if (window && index)
                    windowEntry(*window).selectedTab = *index;
                break;
            }
            case tabClosed:
                if (const auto tab = reader.int32())
                    tabs.erase(*tab);
                break;
            case windowClosed:
                if (const auto window = reader.int32()) {
                    windows.erase(*window);
                    std::erase_if(tabs, [&](const auto &entry) { return entry.second.window == window; });
                }
                break;
            case setActiveWindow:
                if (const auto window = reader.int32())
                    activeWindow = *window;
                break;
            case tabNavigationPathPruned: {
                const auto tab = reader.int32(), index = reader.int32(), count = reader.int32();
                if (!tab || !index || !count || *count <= 0 || !tabs.contains(*tab))
                    break;
                std::map<qint32, BrowserTab> kept;
                for (auto &[at, page] : tabs[*tab].navigations) {
                    if (at < *index)
                        kept.insert_or_assign(at, page);
                    else if (qint64(at) >= qint64(*index) + *count)
                        kept.insert_or_assign(qint32(at - *count), page);
                }
                tabs[*tab].navigations = std::move(kept);
                break;
            }
            default: break;
            }
        }
    }

    // Windows in the order they appeared, tabs by their index; tabs of no known window last.
    struct Placed {
        int window;
        qint32 index;
        qint32 id;
    };
    std::vector<Placed> order;
    for (const auto &[id, tab] : tabs) {
        const auto window = tab.window ? windows.find(*tab.window) : windows.end();
        order.push_back({window != windows.end() ? window->second.order : int(windows.size()), tab.index, id});
    }
    std::sort(order.begin(), order.end(), [](const Placed &a, const Placed &b) {
        return std::tie(a.window, a.index, a.id) < std::tie(b.window, b.index, b.id);
    });
    BrowserSession session;
    for (const auto &placed : order) {
        const auto &tab = tabs[placed.id];
        if (tab.navigations.empty())
            continue;
        // The selected navigation, else the newest one read.
        auto page = tab.navigations.rbegin()->second;
        if (tab.selectedNavigation) {
            const auto selected = tab.navigations.find(*tab.selectedNavigation);
            if (selected == tab.navigations.end())
                continue;
            page = selected->second;
        }
        session.tabs.push_back(page);
        const auto window = tab.window ? windows.find(*tab.window) : windows.end();
        if (window != windows.end() && activeWindow == window->first && window->second.selectedTab == tab.index)
            session.frontTab = page;
    }
    if (!session.frontTab && !session.tabs.empty() && !activeWindow) {
        // Without an active-window record the first window counts as the front one.
        for (const auto &placed : order) {
            const auto &tab = tabs[placed.id];
            const auto window = tab.window ? windows.find(*tab.window) : windows.end();
            if (window != windows.end() && window->second.order == 0 && window->second.selectedTab == tab.index
                && !tab.navigations.empty()) {
                const auto selected = tab.selectedNavigation ? tab.navigations.find(*tab.selectedNavigation)
                                                             : std::prev(tab.navigations.end());
                if (selected != tab.navigations.end())
                    session.frontTab = selected->second;
            }
        }
    }
    return session;
}

} // namespace ChromiumSessionReader
