#include "platform/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
/// The executable an Exec= line starts, without its folder.
QString executable(const QString &exec)
{
    auto command = exec.trimmed().section(u' ', 0, 0);
    if (command.startsWith(u'"'))
        command = exec.trimmed().section(u'"', 1, 1);
    return QFileInfo(command).fileName();
}
} // namespace

DesktopEntries::DesktopEntries(std::optional<QStringList> folders)
{
    const auto places = folders.value_or(QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation));
    // The nearest folder wins: later ones never replace what it named.
    for (const auto &folder : places) {
        for (const auto &name : QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files))
            read(QDir(folder).filePath(name));
    }
}

void DesktopEntries::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 256 * 1024)
        return;
    Entry entry;
    QString exec, windowClass;
    bool inMain = false, deleted = false, menuless = false;
    while (!file.atEnd()) {
        const auto line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const auto key = line.section(u'=', 0, 0).trimmed();
        const auto value = line.section(u'=', 1).trimmed();
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Icon"))
            entry.iconName = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("StartupWMClass"))
            windowClass = value;
        else if (key == QLatin1String("Hidden"))
            deleted = value == QLatin1String("true");
        else if (key == QLatin1String("NoDisplay"))
            menuless = value == QLatin1String("true");
    }
    // A hidden entry is one the user deleted; it hides the system's entry of the same name.
    const auto fileName = QFileInfo(path).completeBaseName().toLower();
    if (deleted || entry.name.isEmpty()) {
        if (!m_byKey.contains(fileName))
            m_byKey.insert(fileName, std::nullopt);
        return;
    }
    auto keys = QStringList{fileName, executable(exec), windowClass};
    if (!menuless)
        keys << entry.name;
    for (const auto &key : keys) {
        if (!key.isEmpty() && !m_byKey.contains(key.toLower()))
            m_byKey.insert(key.toLower(), entry);
    }
}

std::optional<DesktopEntries::Entry> DesktopEntries::find(const QStringList &identifiers) const
{
    for (const auto &identifier : identifiers) {
        auto key = identifier.trimmed().toLower();
        if (key.endsWith(QLatin1String(".desktop")))
            key.chop(8);
        if (const auto found = m_byKey.constFind(key); !key.isEmpty() && found != m_byKey.constEnd() && *found)
            return *found;
    }
    return std::nullopt;
}
