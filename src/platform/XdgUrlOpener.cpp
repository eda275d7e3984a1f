#include "platform/XdgUrlOpener.h"

#include <QProcess>
#include <QStandardPaths>

bool XdgUrlOpener::openUrl(const QUrl &url)
{
    const auto program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty() || !url.isValid())
        return false;
    // Detached: a browser started by it lives on after this program.
    return QProcess::startDetached(program, {url.toString(QUrl::FullyEncoded)});
}
