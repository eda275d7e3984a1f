#pragma once

#include <QUrl>

/// Hands web addresses to the desktop's default browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    /// True when the desktop took \a url.
    virtual bool openUrl(const QUrl &url) = 0;
};
