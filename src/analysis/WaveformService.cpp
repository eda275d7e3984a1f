#include "analysis/WaveformService.h"

#include "analysis/EnvelopeCache.h"
#include "analysis/EnvelopeJob.h"
#include "platform/CacheFolder.h"
#include "platform/DecodePool.h"
#include "platform/FileStamp.h"

#include <QFileInfo>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <mutex>

namespace {} // namespace

/// A file held open from before its levels are computed until they are stored, so that its
/// stamp can be checked again even after it was renamed (an analysis renames new takes).
struct HeldWaveformFile {
    std::shared_ptr<QFile> file;
    std::optional<FileStamp> stamp; ///< when it was opened
    std::optional<CacheFolder> cache;

    explicit HeldWaveformFile(const QString &url)
        : file(std::make_shared<QFile>(url)), cache(CacheFolder::ofLibrary(QFileInfo(url).absolutePath(), false))
    {
        if (file->open(QIODevice::ReadOnly))
            stamp = FileStamp::ofDescriptor(file->handle());
    }
    /// True while the file's content is as it was when opened.
    [[nodiscard]] bool unchanged() const { return stamp && FileStamp::ofDescriptor(file->handle()) == stamp; }
};

namespace {

/// What the cache holds for a file, looked up off the GUI thread.
struct Lookup {
    std::optional<HeldWaveformFile> held;
    std::optional<WaveformLevels> levels;
};

Lookup lookUp(const QString &url)
{
    Lookup found;
    found.held.emplace(url);
    if (found.held->stamp && found.held->cache)
        found.levels = EnvelopeCache::load(*found.held->cache, *found.held->stamp, WaveformService::editorPeakCount);
    return found;
}

/// Stores \a levels of \a held unless the file changed since it was opened.
void store(const HeldWaveformFile &held, const WaveformLevels &levels)
{
    DecodePool::lowerPriority();
    // Derived data: what cannot be stored is computed again next time.
    if (held.cache && held.unchanged())
        EnvelopeCache::save(*held.cache, *held.stamp, levels);
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
    const auto forget = [&] {
        if (self && m_computations.value(url) == computation)
            m_computations.remove(url);
    };
    const auto end = [&](Result result) {
        promise->addResult(std::move(result));
        promise->finish();
    };
    // A short read the open waits for: not behind the decoding, nor at its lowered priority.
    auto lookup = QtConcurrent::run(QThreadPool::globalInstance(), [url] { return lookUp(url); });
    const auto found = co_await lookup;
    // Cancelled meanwhile: its entry is gone (or a new request's is there).
    if (found.levels || !self || m_computations.value(url) != computation) {
        end({found.levels, {}});
        forget();
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
    // Until they are stored, a request for the file (the take opened again) joins these levels.
    if (!found.held->cache)
        forget();
    // A service gone meanwhile (its library closed) stores nothing.
    if (outcome.levels && self)
        co_await storeLevels(url, *found.held, *outcome.levels);
    forget();
}

QCoro::Task<> WaveformService::storeLevels(QString url, HeldWaveformFile held, WaveformLevels levels)
{
    QPointer self(this);
    auto saving = QtConcurrent::run(&DecodePool::instance(),
                                    [held = std::move(held), levels = std::move(levels)] { store(held, levels); });
    co_await saving;
    if (self)
        emit remembered(url);
}

QCoro::Task<> WaveformService::rememberFinePeaks(QString url, QVector<float> finePeaks, qint64 fineFrames,
                                                 qint64 frames)
{
    QPointer self(this);
    auto deriving = QtConcurrent::run(&DecodePool::instance(), [url, finePeaks, fineFrames, frames] {
        DecodePool::lowerPriority();
        std::pair<HeldWaveformFile, std::optional<WaveformLevels>> derived{HeldWaveformFile(url), std::nullopt};
        try {
            derived.second = EnvelopeJob::fromFinePeaks(url, finePeaks, fineFrames, frames, editorPeakCount);
        } catch (const std::exception &) {
            // Not readable as the PCM file the peaks describe: computed like any other below.
        }
        return derived;
    });
    auto derived = co_await deriving;
    if (!self)
        co_return;
    if (!derived.second) {
        prepare(url);
        co_return;
    }
    // Stored meanwhile: the caller goes on (and may rename the take, which the held file survives).
    storeLevels(url, std::move(derived.first), std::move(*derived.second));
}

void WaveformService::prepare(const QString &url)
{
    auto ignored = levels(url);
    // The result lands in the cache; its error, if any, shows when the take is opened.
    Q_UNUSED(ignored);
}

void WaveformService::cancel(const QString &url)
{
    // Levels already computed stay, for the next request, until they are stored.
    const auto computation = m_computations.value(url);
    if (!computation || computation->result.isFinished())
        return;
    m_computations.remove(url);
    if (computation->job)
        computation->job->cancel();
}
