#include "platform/BrowserSessionFiles.h"

#include "base/NumberRange.h"

#include "platform/ChromiumSessionReader.h"
#include "platform/FirefoxSessionReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {
bool isAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > BrowserSessionFiles::maximumFileSize)
        return {};
    return file.read(BrowserSessionFiles::maximumFileSize);
}

/// The process holding the fcntl lock on \a path (Firefox's .parentlock), if any.
std::optional<qint64> lockHolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    const bool asked = ::fcntl(fd, F_GETLK, &query) == 0;
    ::close(fd);
    if (!asked || query.l_type == F_UNLCK || !isAlive(query.l_pid))
        return std::nullopt;
    return qint64(query.l_pid);
}

/// The process named by a lock link whose target ends in "-PID" or "+PID" (Chromium's
/// SingletonLock "HOST-PID", Firefox's lock "ADDRESS:+PID"), when it lives on this machine.
std::optional<qint64> linkHolder(const QString &path, bool checkHost)
{
    QByteArray raw(4096, '\0');
    const auto length = ::readlink(QFile::encodeName(path).constData(), raw.data(), raw.size() - 1);
    raw.truncate(length > 0 ? length : 0);
    const auto separator = std::max(raw.lastIndexOf('-'), raw.lastIndexOf('+'));
    if (separator < 0)
        return std::nullopt;
    bool ok = false;
    const auto pid = raw.mid(separator + 1).toLongLong(&ok);
    if (!ok || !isAlive(pid))
        return std::nullopt;
    if (checkHost && QString::fromUtf8(raw.left(separator)) != QSysInfo::machineHostName())
        return std::nullopt;
    return pid;
}

QString newest(const QFileInfoList &files)
{
    QString best;
    QDateTime bestTime;
    for (const auto &file : files) {
        if (file.isFile() && (best.isEmpty() || file.lastModified() > bestTime)) {
            best = file.absoluteFilePath();
            bestTime = file.lastModified();
        }
    }
    return best;
}
} // namespace

BrowserSessionFiles::BrowserSessionFiles(QString home) : m_home(home.isEmpty() ? QDir::homePath() : std::move(home)) {}

QStringList BrowserSessionFiles::firefoxProfiles() const
{
    QStringList profiles;
    for (const auto &root :
         {QStringLiteral("/.mozilla/firefox"), QStringLiteral("/.var/app/org.mozilla.firefox/.mozilla/firefox"),
          QStringLiteral("/snap/firefox/common/.mozilla/firefox")}) {
        const QDir folder(m_home + root);
        const auto ini = folder.filePath(QStringLiteral("profiles.ini"));
        if (!QFileInfo::exists(ini))
            continue;
        QSettings settings(ini, QSettings::IniFormat);
        QStringList installDefaults, flagged, others;
        for (const auto &group : settings.childGroups()) {
            settings.beginGroup(group);
            if (group.startsWith(QLatin1String("Install")) && settings.contains(QStringLiteral("Default"))) {
                installDefaults << folder.filePath(settings.value(QStringLiteral("Default")).toString());
            } else if (group.startsWith(QLatin1String("Profile")) && settings.contains(QStringLiteral("Path"))) {
                const auto path = settings.value(QStringLiteral("Path")).toString();
                const bool relative =
                    NumberRange::integerSetting(settings.value(QStringLiteral("IsRelative"), 1)).value_or(1) != 0;
                const auto full = relative ? folder.filePath(path) : path;
                (NumberRange::integerSetting(settings.value(QStringLiteral("Default"))) == 1 ? flagged : others)
                    << full;
            }
            settings.endGroup();
        }
        for (const auto &profile : installDefaults + flagged + others) {
            const auto clean = QDir::cleanPath(profile);
            if (QFileInfo(clean).isDir() && !profiles.contains(clean))
                profiles << clean;
        }
    }
    return profiles;
}

QString BrowserSessionFiles::chromiumUserData(const QString &browser) const
{
    static const QList<std::pair<QString, QString>> folders{
        {QStringLiteral("google-chrome"), QStringLiteral("/.config/google-chrome")},
        {QStringLiteral("brave-browser"), QStringLiteral("/.config/BraveSoftware/Brave-Browser")},
        {QStringLiteral("microsoft-edge"), QStringLiteral("/.config/microsoft-edge")},
        {QStringLiteral("chromium"), QStringLiteral("/.config/chromium")},
    };
    for (const auto &[name, folder] : folders) {
        if (name == browser)
            return m_home + folder;
    }
    return {};
}

std::optional<qint64> BrowserSessionFiles::runningProcess(const QString &browser)
{
    if (browser == QLatin1String("firefox")) {
        for (const auto &profile : firefoxProfiles()) {
            if (auto pid = lockHolder(profile + QStringLiteral("/.parentlock")))
                return pid;
            if (auto pid = linkHolder(profile + QStringLiteral("/lock"), false))
                return pid;
        }
        return std::nullopt;
    }
    const auto userData = chromiumUserData(browser);
    if (userData.isEmpty())
        return std::nullopt;
    return linkHolder(userData + QStringLiteral("/SingletonLock"), true);
}

QString BrowserSessionFiles::sessionFile(const QString &browser) const
{
    if (browser == QLatin1String("firefox")) {
        for (const auto &profile : firefoxProfiles()) {
            const auto file = newest({QFileInfo(profile + QStringLiteral("/sessionstore-backups/recovery.jsonlz4")),
                                      QFileInfo(profile + QStringLiteral("/sessionstore.jsonlz4"))});
            if (!file.isEmpty())
                return file;
        }
        return {};
    }
    const auto userData = chromiumUserData(browser);
    if (userData.isEmpty())
        return {};
    // The profile last used, else the default one.
    const auto localState = QJsonDocument::fromJson(readSmallFile(userData + QStringLiteral("/Local State"))).object();
    auto profile = localState.value(QStringLiteral("profile")).toObject().value(QStringLiteral("last_used")).toString();
    if (profile.isEmpty() || profile.contains(u'/') || profile.startsWith(u'.'))
        profile = QStringLiteral("Default");
    const QDir sessions(userData + u'/' + profile + QStringLiteral("/Sessions"));
    return newest(sessions.entryInfoList({QStringLiteral("Session_*")}, QDir::Files));
}

BrowserSession BrowserSessionFiles::session(const QString &browser)
{
    const auto file = sessionFile(browser);
    if (file.isEmpty())
        return {};
    const auto bytes = readSmallFile(file);
    if (browser == QLatin1String("firefox"))
        return FirefoxSessionReader::parse(FirefoxSessionReader::decompress(bytes));
    return ChromiumSessionReader::parse(bytes);
}
