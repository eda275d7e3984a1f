#include "capture/PlayingApplications.h"

#include "capture/CaptureThreads.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/DesktopEntries.h"
#include "platform/SoundServer.h"
#include "platform/Timer.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>

#include <algorithm>
#include <mutex>

/// What the sound server's thread shares with the GUI thread: the watch, and whether the owner
/// still listens. Reports reach the owner only while it does.
struct PlayingApplications::Shared {
    std::mutex mutex;
    PlayingApplications *owner; ///< none once the owner is gone
    std::unique_ptr<SoundServer::Watch> watch;
    std::unique_ptr<DesktopEntries> entries; ///< read on the first report, on the server's thread

    explicit Shared(PlayingApplications *owner) : owner(owner) {}

    /// Runs \a call with the owner on the GUI thread, unless the owner is gone by then.
    template <typename Call>
    void post(Call call)
    {
        const std::lock_guard lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(
                owner, [owner = owner, call = std::move(call)]() mutable { call(*owner); }, Qt::QueuedConnection);
    }
};

PlayingApplications::PlayingApplications(SoundServer &server, Clock &clock, QObject *parent)
    : QObject(parent), m_server(server), m_retry(clock.createTimer(this)), m_shared(std::make_shared<Shared>(this))
{
    connect(m_retry, &Timer::timeout, this, &PlayingApplications::openWatch);
}

PlayingApplications::~PlayingApplications()
{
    std::unique_ptr<SoundServer::Watch> watch;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        watch = std::move(m_shared->watch);
    }
}

std::optional<PlayingApplication> PlayingApplications::find(const CaptureTarget &target) const
{
    for (const auto &application : m_applications) {
        if (application.name.compare(target.applicationName, Qt::CaseInsensitive) == 0
            && (!target.processId || application.processIds.contains(*target.processId)))
            return application;
    }
    return std::nullopt;
}

void PlayingApplications::watch()
{
    if (std::exchange(m_watching, true))
        return;
    openWatch();
}

void PlayingApplications::openWatch()
{
    const auto shared = m_shared;
    SoundServer::WatchHandlers handlers;
    const auto own = QCoreApplication::applicationPid();
    handlers.changed = [shared, own](std::vector<PlaybackStream> streams) {
        if (!shared->entries)
            shared->entries = std::make_unique<DesktopEntries>();
        auto applications = group(streams, shared->entries.get(), own);
        shared->post([applications = std::move(applications)](PlayingApplications &owner) mutable {
            owner.publish(std::move(applications));
        });
    };
    handlers.failed = [shared] {
        shared->post([](PlayingApplications &owner) {
            owner.publish({});
            owner.m_retry->start(retryInterval, false);
        });
    };
    auto *server = &m_server;
    auto open = [shared, server, handlers = std::move(handlers)]() mutable {
        try {
            auto watch = server->watchPlaybackStreams(std::move(handlers));
            const std::lock_guard lock(shared->mutex);
            if (shared->owner)
                shared->watch = std::move(watch);
            return shared->owner != nullptr;
        } catch (const std::exception &) {
            return false;
        }
    };
    // Started and forgotten: a watch that cannot open retries on the timer, whose owner is gone
    // when nobody waits any more.
    [](QPointer<PlayingApplications> self, auto open) -> QCoro::Task<> {
        auto opening = BackgroundTask::run(CaptureThreads::pool(), std::move(open));
        const bool watching = co_await std::move(opening);
        if (self && !watching)
            self->m_retry->start(retryInterval, false);
    }(this, std::move(open));
}

void PlayingApplications::publish(std::vector<PlayingApplication> applications)
{
    if (applications == m_applications)
        return;
    m_applications = std::move(applications);
    emit changed();
}

std::vector<PlayingApplication> PlayingApplications::group(const std::vector<PlaybackStream> &streams,
                                                           const DesktopEntries *entries, qint64 ownProcess)
{
    std::vector<PlayingApplication> applications;
    QHash<QString, std::size_t> byName;
    for (const auto &stream : streams) {
        const auto name = stream.appName ? stream.appName : stream.processBinary;
        if (stream.corked || !name || name->isEmpty() || stream.processId == ownProcess)
            continue;
        const auto key = name->toLower();
        if (!byName.contains(key)) {
            PlayingApplication application{*name,
                                           *name,
                                           stream.iconName.value_or(QString()),
                                           stream.applicationId ? stream.applicationId : stream.processBinary,
                                           {}};
            QStringList identifiers;
            for (const auto &identifier : {stream.applicationId, stream.processBinary, stream.appName}) {
                if (identifier)
                    identifiers << *identifier;
            }
            if (const auto entry = entries ? entries->find(identifiers) : std::nullopt) {
                application.title = entry->name;
                if (!entry->iconName.isEmpty())
                    application.iconName = entry->iconName;
            }
            byName.insert(key, applications.size());
            applications.push_back(std::move(application));
        }
        auto &application = applications[byName.value(key)];
        if (stream.processId && !application.processIds.contains(*stream.processId))
            application.processIds << *stream.processId;
    }
    std::sort(applications.begin(), applications.end(),
              [](const auto &a, const auto &b) { return QString::localeAwareCompare(a.title, b.title) < 0; });
    return applications;
}
