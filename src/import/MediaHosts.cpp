#include "import/MediaHosts.h"

namespace MediaHosts {

bool isMediaHost(const QString &host)
{
    const auto lower = host.toLower();
    if (lower == QLatin1String("youtu.be"))
        return true;
    for (const auto *site : {"youtube.com", "soundcloud.com", "bandcamp.com"}) {
        const QLatin1String domain(site);
        if (lower == domain || (lower.endsWith(domain) && lower.at(lower.size() - domain.size() - 1) == u'.'))
            return true;
    }
    return false;
}

} // namespace MediaHosts
