#pragma once

#include "platform/BrowserSessions.h"

#include <QString>

/// The supported browsers' session state as they keep it under a home folder: Firefox's default
/// profile (also its Flatpak and Snap places) with sessionstore-backups/recovery.jsonlz4 or
/// sessionstore.jsonlz4, and the newest Sessions/Session_* file of each Chromium-family profile.
/// A browser runs when a live process holds its profile lock. Stateless; any thread may ask.
class BrowserSessionFiles final : public BrowserSessions {
public:
    /// Looks under \a home (empty: the user's home folder).
    explicit BrowserSessionFiles(QString home = {});

    std::optional<qint64> runningProcess(const QString &browser) override;
    BrowserSession session(const QString &browser) override;

    /// The Firefox profile folders that exist, the default profile of each installation first.
    [[nodiscard]] QStringList firefoxProfiles() const;
    /// The Chromium-family user-data folder of \a browser, empty for another name.
    [[nodiscard]] QString chromiumUserData(const QString &browser) const;
    /// The newest session file of \a browser, empty when there is none.
    [[nodiscard]] QString sessionFile(const QString &browser) const;

    /// Session files larger than this are not read.
    static constexpr qint64 maximumFileSize = qint64(64) << 20;

private:
    QString m_home;
};
