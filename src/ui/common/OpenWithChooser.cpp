#include "ui/common/OpenWithChooser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QFile>
#include <QUrl>
#include <fcntl.h>
#include <unistd.h>

namespace OpenWithChooser {

void open(const QString &path)
{
    const auto fallback = [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    auto bus = QDBusConnection::sessionBus();
    if (fd < 0 || !bus.isConnected()) {
        if (fd >= 0)
            ::close(fd);
        fallback();
        return;
    }
    auto call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
    // The message keeps its own duplicate of the descriptor.
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd)) << QVariantMap{{QStringLiteral("ask"), true}};
    ::close(fd);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [fallback](QDBusPendingCallWatcher *done) {
        if (done->isError())
            fallback();
        done->deleteLater();
    });
}

} // namespace OpenWithChooser
