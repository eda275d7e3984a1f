#include "platform/ChromiumSessionReader.h"

#include <QtEndian>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

// The browser keeps a few navigations around the selected one and far fewer tabs; the bounds
// keep every record's work small, so a hostile file is read in time linear in its size.
constexpr std::size_t maximumNavigations = 64;
constexpr std::size_t maximumTabs = 100000;
constexpr std::size_t maximumWindows = 10000;

/// A tab's navigations by index, at most maximumNavigations of them, in a sorted array.
class Navigations {
public:
    [[nodiscard]] bool empty() const { return m_pages.empty(); }
    /// The page at \a index, if kept.
    [[nodiscard]] const BrowserTab *find(qint32 index) const
    {
        const auto found = lowerBound(index);
        return found != m_pages.end() && found->first == index ? &found->second : nullptr;
    }
    /// The page of the highest index.
    [[nodiscard]] const BrowserTab &last() const { return m_pages.back().second; }

    /// Keeps \a page as navigation \a index; the lowest index gives way beyond the bound.
    void put(qint32 index, BrowserTab page)
    {
        const auto found = lowerBound(index);
        if (found != m_pages.end() && found->first == index) {
            found->second = std::move(page);
            return;
        }
        m_pages.emplace(found, index, std::move(page));
        if (m_pages.size() > maximumNavigations)
            m_pages.erase(m_pages.begin());
    }
    /// Removes navigations [index, index + count) and moves the later ones down by \a count.
    void prune(qint32 index, qint32 count)
    {
        const auto first = lowerBound(index);
        const auto end = std::lower_bound(first, m_pages.end(), qint64(index) + count,
                                          [](const auto &page, qint64 at) { return page.first < at; });
        for (auto later = end; later != m_pages.end(); ++later)
            later->first -= count;
        m_pages.erase(first, end);
    }

private:
    using Pages = std::vector<std::pair<qint32, BrowserTab>>;
    Pages::iterator lowerBound(qint32 index)
    {
        return std::lower_bound(m_pages.begin(), m_pages.end(), index,
                                [](const auto &page, qint32 at) { return page.first < at; });
    }
    [[nodiscard]] Pages::const_iterator lowerBound(qint32 index) const
    {
        return std::lower_bound(m_pages.begin(), m_pages.end(), index,
                                [](const auto &page, qint32 at) { return page.first < at; });
    }

    Pages m_pages;
};

struct Tab {
    std::optional<qint32> window;
    qint32 index = 0;
    std::optional<qint32> selectedNavigation;
    Navigations navigations;
};

struct Window {
    int order = 0;
    std::optional<qint32> selectedTab;
    std::unordered_set<qint32> tabs;
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
    std::unordered_map<qint32, Tab> tabs;
    std::unordered_map<qint32, Window> windows;
    std::optional<qint32> activeWindow;
    int windowsSeen = 0;
    // Beyond the bounds new windows and tabs are ignored: none is returned.
    const auto windowEntry = [&](qint32 id) -> Window * {
        auto found = windows.find(id);
        if (found == windows.end()) {
            if (windows.size() >= maximumWindows)
                return nullptr;
            found = windows.emplace(id, Window{windowsSeen++, std::nullopt, {}}).first;
        }
        return &found->second;
    };
    const auto tabEntry = [&](qint32 id) -> Tab * {
        auto found = tabs.find(id);
        if (found == tabs.end()) {
            if (tabs.size() >= maximumTabs)
                return nullptr;
            found = tabs.emplace(id, Tab{}).first;
        }
        return &found->second;
    };
    const auto leaveWindow = [&](qint32 tabId, const Tab &tab) {
        if (const auto window = tab.window ? windows.find(*tab.window) : windows.end(); window != windows.end())
            window->second.tabs.erase(tabId);
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
                const auto window = reader.int32(), tabId = reader.int32();
                if (!window || !tabId)
                    break;
                auto *entry = windowEntry(*window);
                auto *tab = tabEntry(*tabId);
                if (!entry || !tab)
                    break;
                leaveWindow(*tabId, *tab);
                tab->window = *window;
                entry->tabs.insert(*tabId);
                break;
            }
            case setTabIndexInWindow: {
                const auto tabId = reader.int32(), index = reader.int32();
                if (!tabId || !index)
                    break;
                if (auto *tab = tabEntry(*tabId))
                    tab->index = *index;
                break;
            }
            case updateTabNavigation:
                if (auto entry = navigation(payload)) {
                    if (auto *tab = tabEntry(entry->first))
                        tab->navigations.put(entry->second.first, std::move(entry->second.second));
                }
                break;
            case setSelectedNavigationIndex: {
                const auto tabId = reader.int32(), index = reader.int32();
                if (!tabId || !index)
                    break;
                if (auto *tab = tabEntry(*tabId))
                    tab->selectedNavigation = *index;
                break;
            }
            case setSelectedTabInIndex: {
                const auto window = reader.int32(), index = reader.int32();
                if (!window || !index)
                    break;
                if (auto *entry = windowEntry(*window))
                    entry->selectedTab = *index;
                break;
            }
            case tabClosed:
                if (const auto tabId = reader.int32()) {
                    if (const auto tab = tabs.find(*tabId); tab != tabs.end()) {
                        leaveWindow(*tabId, tab->second);
                        tabs.erase(tab);
                    }
                }
                break;
            case windowClosed:
                if (const auto window = reader.int32()) {
                    if (const auto found = windows.find(*window); found != windows.end()) {
                        for (const auto tabId : found->second.tabs)
                            tabs.erase(tabId);
                        windows.erase(found);
                    }
                }
                break;
            case setActiveWindow:
                if (const auto window = reader.int32())
                    activeWindow = *window;
                break;
            case tabNavigationPathPruned: {
                const auto tabId = reader.int32(), index = reader.int32(), count = reader.int32();
                if (!tabId || !index || !count || *count <= 0)
                    break;
                if (const auto tab = tabs.find(*tabId); tab != tabs.end())
                    tab->second.navigations.prune(*index, *count);
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
        order.push_back({window != windows.end() ? window->second.order : windowsSeen, tab.index, id});
    }
    std::sort(order.begin(), order.end(), [](const Placed &a, const Placed &b) {
        return std::tie(a.window, a.index, a.id) < std::tie(b.window, b.index, b.id);
    });
    BrowserSession session;
    // The selected navigation, else the one of the highest index; none when the selected one is gone.
    const auto shown = [](const Tab &tab) -> const BrowserTab * {
        if (tab.navigations.empty())
            return nullptr;
        return tab.selectedNavigation ? tab.navigations.find(*tab.selectedNavigation) : &tab.navigations.last();
    };
    for (const auto &placed : order) {
        const auto &tab = tabs[placed.id];
        const auto *page = shown(tab);
        if (!page)
            continue;
        session.tabs.push_back(*page);
        const auto window = tab.window ? windows.find(*tab.window) : windows.end();
        if (window != windows.end() && activeWindow == window->first && window->second.selectedTab == tab.index)
            session.frontTab = *page;
    }
    if (!session.frontTab && !session.tabs.empty() && !activeWindow) {
        // Without an active-window record the first window counts as the front one.
        const auto first = std::min_element(windows.begin(), windows.end(), [](const auto &a, const auto &b) {
            return a.second.order < b.second.order;
        });
        for (const auto &placed : order) {
            const auto &tab = tabs[placed.id];
            const auto window = tab.window ? windows.find(*tab.window) : windows.end();
            if (window != windows.end() && window == first && window->second.selectedTab == tab.index) {
                if (const auto *page = shown(tab))
                    session.frontTab = *page;
            }
        }
    }
    return session;
}

} // namespace ChromiumSessionReader
