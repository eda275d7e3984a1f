#pragma once

#include <QString>
#include <QUrl>

/// The program's version text and web site.
namespace AppInfo {
/// The version of this build: "0.1.0", or "0.1.0 (42)" with a build number.
[[nodiscard]] QString versionText();
/// "Development" without \a shortVersion, \a shortVersion alone without \a build, else "short (build)".
[[nodiscard]] QString versionText(const QString &shortVersion, const QString &build);
[[nodiscard]] QUrl websiteURL();
} // namespace AppInfo
