#include "analysis/WaveformService.h"

#include "analysis/EnvelopeCache.h"
#include "analysis/EnvelopeJob.h"
#include "platform/CacheFolder.h"
#include "platform/DecodePool.h"
#include "platform/FileStamp.h"

#include <QFileInfo>
#include <QPointer>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <mutex>

namespace {

/// What the cache holds for a file, looked up off the GUI thread.
struct Lookup {
    std::optional<FileStamp> stamp;
    std::optional<CacheFolder> cache;
    std::optional<WaveformLevels> levels;
};

Lookup lookUp(const QString &url)
{
    DecodePool::lowerPriority();
    Lookup found;
    found.stamp = FileStamp::of(url);
    found.cache = CacheFolder::ofLibrary(QFileInfo(url).absolutePath(), false);
    if (found.stamp && found.cache)
        found.levels = EnvelopeCache::load(*found.cache, *found.stamp, WaveformService::editorPeakCount);
    return found;
}

/// Stores \a levels for \a url unless the file changed since \a stamp was taken.
void store(const QString &url, const std::optional<CacheFolder> &cache, const FileStamp &stamp,
           const WaveformLevels &levels)
{
    DecodePool::lowerPriority();
    // Derived data: what cannot be stored is computed again next time.
    if (cache && FileStamp::of(url) == stamp)
        EnvelopeCache::save(*cache, stamp, levels);
}

} // namespace

/// Hands progress from decoding threads to the service while it exists.
struct WaveformService::Relay {
    std::mutex mutex;
    WaveformService *service = nullptr;
};

WaveformService::WaveformService(QObject *parent) : QObject(parent), m_relay(std::make_shared<Relay>())
{
    m_relay->service = this;
}

WaveformService::~WaveformService()
{
    {
        const std::lock_guard lock(m_relay->mutex);
        m_relay->service = nullptr;
    }
    for (const auto &computation : std::as_const(m_computations)) {
        if (computation->job)
            computation->job->cancel();
    }
}

QCoro::Task<QVector<float>> WaveformService::peaks(QString url)
{
    auto request = levels(std::move(url));
    auto found = co_await std::move(request);
    co_return found ? std::move(found->peaks) : QVector<float>();
}

QCoro::Task<std::optional<WaveformLevels>> WaveformService::levels(QString url)
{
    auto computation = m_computations.value(url);
    if (!computation) {
        auto promise = std::make_shared<QPromise<Result>>();
        promise->start();
        computation = std::make_shared<Computation>(Computation{promise->future(), nullptr});
        m_computations.insert(url, computation);
        compute(url, std::move(promise));
    }
    auto future = computation->result;
    const auto result = co_await future;
    if (result.error)
        std::rethrow_exception(result.error);
    co_return result.levels;
}

QCoro::Task<> WaveformService::compute(QString url, std::shared_ptr<QPromise<Result>> promise)
{
    QPointer self(this);
    const auto computation = m_computations.value(url);
    const auto end = [&](Result result) {
        promise->addResult(std::move(result));
        promise->finish();
        if (self && m_computations.value(url) == computation)
            m_computations.remove(url);
    };
    auto lookup = QtConcurrent::run(&DecodePool::instance(), [url] { return lookUp(url); });
    const auto found = co_await lookup;
    // Cancelled meanwhile: its entry is gone (or a new request's is there).
    if (found.levels || !self || m_computations.value(url) != computation) {
        end({found.levels, {}});
        co_return;
    }
    auto job = EnvelopeJob::create(url, editorPeakCount);
    job->setProgressHandler([relay = m_relay, url, weak = std::weak_ptr<EnvelopeJob>(job)] {
        const auto running = weak.lock();
        if (!running)
            return;
        // Taken and posted under the lock, so the reports arrive in the order they were taken.
        const std::lock_guard lock(relay->mutex);
        auto [peaks, coverage] = running->preview();
        if (auto *service = relay->service) {
            QMetaObject::invokeMethod(
                service, [service, url, peaks, coverage] { emit service->refined(url, peaks, coverage); },
                Qt::QueuedConnection);
        }
    });
    computation->job = job;
    auto started = job->start();
    const auto outcome = co_await started;
    end({outcome.levels, outcome.error});
    if (outcome.levels && found.stamp) {
        auto saving = QtConcurrent::run(&DecodePool::instance(),
                                        [url, cache = found.cache, stamp = *found.stamp, levels = *outcome.levels] {
                                            store(url, cache, stamp, levels);
                                        });
        co_await saving;
        if (self)
            emit remembered(url);
    }
}

QCoro::Task<> WaveformService::remember(QString url, WaveformLevels levels)
{
    QPointer self(this);
    auto saving = QtConcurrent::run(&DecodePool::instance(), [url, levels = std::move(levels)] {
        const auto stamp = FileStamp::of(url);
        if (stamp)
            store(url, CacheFolder::ofLibrary(QFileInfo(url).absolutePath(), false), *stamp, levels);
    });
    co_await saving;
    if (self)
        emit remembered(url);
}

void WaveformService::cancel(const QString &url)
{
    const auto computation = m_computations.take(url);
    if (computation && computation->job)
        computation->job->cancel();
}
