#include "support/ProgramHome.h"

#include <QDir>
#include <QFile>
#include <QSettings>

ProgramHome::ProgramHome(const QByteArray &display)
{
    QDir().mkpath(path(QStringLiteral("runtime")));
    QFile::setPermissions(path(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings(path(QStringLiteral("config/Vespertone/Vespertone.conf")), QSettings::IniFormat)
        .setValue(QStringLiteral("Vespertone.SaveFolderPath"), library());
    m_environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
}

bool ProgramHome::start(QProcess &process, const QStringList &arguments) const
{
    process.setProcessEnvironment(m_environment);
    process.start(qEnvironmentVariable("VESPERTONE_APP"), arguments);
    return process.waitForStarted();
}

bool ProgramHome::launchAgain(const QStringList &arguments) const
{
    QProcess later;
    return start(later, arguments) && later.waitForFinished(10000) && later.exitStatus() == QProcess::NormalExit
        && later.exitCode() == 0;
}
