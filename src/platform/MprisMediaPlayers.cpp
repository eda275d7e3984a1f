#include "platform/MprisMediaPlayers.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace {
constexpr int timeoutMs = 500;
const auto mprisPrefix = QStringLiteral("org.mpris.MediaPlayer2.");

/// The property \a name of \a interface on \a service's player object; invalid when unanswered.
QVariant property(QDBusConnection &bus, const QString &service, const QString &interface, const QString &name)
{
    auto message =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/mpris/MediaPlayer2"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << interface << name;
    const auto answer = bus.call(message, QDBus::Block, timeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return {};
    return answer.arguments().first().value<QDBusVariant>().variant();
}

std::optional<QString> text(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList) {
        const auto list = value.toStringList();
        return list.isEmpty() ? std::nullopt : std::optional(list.first());
    }
    auto string = value.toString().trimmed();
    return string.isEmpty() ? std::nullopt : std::optional(string);
}
} // namespace

std::vector<MediaPlayerState> MprisMediaPlayers::playingPlayers()
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return {};
    const auto names = bus.interface()->registeredServiceNames();
    if (!names.isValid())
        return {};
    std::vector<MediaPlayerState> players;
    for (const auto &service : names.value()) {
        if (!service.startsWith(mprisPrefix))
            continue;
        const auto player = QStringLiteral("org.mpris.MediaPlayer2.Player");
        if (property(bus, service, player, QStringLiteral("PlaybackStatus")).toString() != QLatin1String("Playing"))
            continue;
        MediaPlayerState state;
        state.desktopEntry =
            text(property(bus, service, QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("DesktopEntry")));
        if (const auto pid = bus.interface()->servicePid(service); pid.isValid() && pid.value() > 0)
            state.processIdentifier = qint64(pid.value());
        QVariantMap metadata;
        const auto raw = property(bus, service, player, QStringLiteral("Metadata"));
        if (raw.canConvert<QDBusArgument>())
            raw.value<QDBusArgument>() >> metadata;
        else
            metadata = raw.toMap();
        state.title = text(metadata.value(QStringLiteral("xesam:title")));
        state.url = text(metadata.value(QStringLiteral("xesam:url")));
        if (!state.desktopEntry) // org.mpris.MediaPlayer2.NAME[.instanceN]
            state.desktopEntry = service.mid(mprisPrefix.size()).section(u'.', 0, 0);
        players.push_back(std::move(state));
    }
    return players;
}
