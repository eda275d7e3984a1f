#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>

/// A virtual X server of a test's own, on a display it picks itself, with xdotool to type on it.
class XvfbServer {
public:
    /// Starts Xvfb with one screen of \a screen ("WIDTHxHEIGHTxDEPTH") and waits until it names
    /// its display; isRunning() tells whether it did.
    explicit XvfbServer(const QString &screen = QStringLiteral("1280x800x24"));
    ~XvfbServer();

    [[nodiscard]] bool isRunning() const { return !m_display.isEmpty(); }
    /// The display name, e.g. ":3".
    [[nodiscard]] const QByteArray &display() const { return m_display; }
    /// Runs xdotool with \a arguments on this display; its output, or none when it failed.
    [[nodiscard]] std::optional<QByteArray> xdotool(const QStringList &arguments) const;

private:
    QProcess m_process;
    QByteArray m_display;
};
