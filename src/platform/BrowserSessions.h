#pragma once

#include <QString>
#include <optional>
#include <vector>

/// One tab as a browser's saved session lists it.
struct BrowserTab {
    std::optional<QString> title; ///< trimmed; none when empty
    QString urlString;            ///< trimmed; never empty
    bool operator==(const BrowserTab &) const = default;
};

/// What a browser's session state tells: its open tabs and the selected tab of its front window.
struct BrowserSession {
    std::vector<BrowserTab> tabs; ///< window by window, each window's tabs in order
    std::optional<BrowserTab> frontTab;
};

/// The session state of the supported browsers, identified by desktop-entry name.
class BrowserSessions {
public:
    virtual ~BrowserSessions() = default;

    /// The live process that holds \a browser's profile; none when it does not run.
    [[nodiscard]] virtual std::optional<qint64> runningProcess(const QString &browser) = 0;
    /// \a browser's session as last saved; empty when there is none or it cannot be read.
    [[nodiscard]] virtual BrowserSession session(const QString &browser) = 0;
};
