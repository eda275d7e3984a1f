#include "support/XvfbServer.h"

#include <QProcessEnvironment>
#include <QTest>

XvfbServer::XvfbServer(const QString &screen)
{
    // -displayfd: Xvfb takes the first free display and writes its number to stdout when ready.
    m_process.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"), screen});
    if (!m_process.waitForStarted(5000))
        return;
    QByteArray number;
    [[maybe_unused]] const bool answered = QTest::qWaitFor(
        [&] {
            number += m_process.readAllStandardOutput();
            return number.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        10000);
    if (number.contains('\n'))
        m_display = ':' + number.trimmed();
}

XvfbServer::~XvfbServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

std::optional<QByteArray> XvfbServer::xdotool(const QStringList &arguments) const
{
    QProcess tool;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}
