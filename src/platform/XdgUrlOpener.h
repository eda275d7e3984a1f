#pragma once

#include "platform/UrlOpener.h"

/// Opens addresses with xdg-open, the freedesktop way to reach the default browser.
class XdgUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl &url) override;
};
