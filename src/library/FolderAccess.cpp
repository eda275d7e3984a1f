#include "library/FolderAccess.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace FolderAccess {

QString resolveSavedFolder(const QSettings &settings)
{
    const auto path = settings.value(QLatin1String(pathKey)).toString();
    if (!path.isEmpty())
        return QDir::cleanPath(path);
    return defaultFolderURL();
}

QString defaultFolderURL()
{
    auto music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath();
    return QDir::cleanPath(music + QStringLiteral("/Vespertone"));
}

} // namespace FolderAccess
