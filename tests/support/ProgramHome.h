#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

/// A home for the desktop program run as a process on an X display: settings that store its
/// library folder, and a runtime folder only this user may enter.
class ProgramHome {
public:
    explicit ProgramHome(const QByteArray &display);

    [[nodiscard]] QString path(const QString &name) const { return m_dir.filePath(name); }
    [[nodiscard]] QString library() const { return path(QStringLiteral("Library")); }
    /// The environment the program runs in; a test may add to it before a start.
    [[nodiscard]] QProcessEnvironment &environment() { return m_environment; }
    /// Starts the program with \a arguments in \a process; true once it runs.
    bool start(QProcess &process, const QStringList &arguments = {}) const;
    /// True when a later launch with \a arguments ends at once with status 0, having handed over.
    [[nodiscard]] bool launchAgain(const QStringList &arguments) const;

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};
