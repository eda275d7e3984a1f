#include "ui/common/AppInfo.h"

#include "base/ProgramVersion.h"

#ifndef VESPERTONE_BUILD
#define VESPERTONE_BUILD ""
#endif

QString AppInfo::versionText()
{
    return versionText(ProgramVersion::number(), QStringLiteral(VESPERTONE_BUILD));
}

QString AppInfo::versionText(const QString &shortVersion, const QString &build)
{
    if (shortVersion.isEmpty())
        return QStringLiteral("Development");
    if (build.isEmpty())
        return shortVersion;
    return shortVersion + QStringLiteral(" (") + build + u')';
}

QUrl AppInfo::websiteURL()
{
    return QUrl(QStringLiteral("https://vespertone.app/"));
}
