#include "editor/DecodedEnvelopeSource.h"

#include "analysis/AudioAnalyzer.h"
#include "base/AppError.h"
#include "base/Logging.h"
#include "editor/EnvelopeRequest.h"
#include "platform/BackgroundTask.h"

#include <QFile>
#include <QPointer>
#include <deque>
#include <optional>
#include <sys/stat.h>

namespace {
/// What tells a file's content apart without reading it.
struct Stamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    bool operator==(const Stamp &) const = default;
};

/// The stamp of the file at \a path; none when it cannot be read.
std::optional<Stamp> stampOf(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Stamp{quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
                 qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}
} // namespace

/// The remembered envelopes, most recently used last; used on the GUI thread only.
class DecodedEnvelopeSource::Memory {
public:
    [[nodiscard]] std::optional<QVector<float>> recall(const Stamp &stamp, int count)
    {
        for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
            if (entry->stamp == stamp && entry->count == count) {
                auto peaks = entry->peaks;
                m_entries.push_back(std::move(*entry));
                m_entries.erase(entry);
                return peaks;
            }
        }
        return std::nullopt;
    }

    void remember(const Stamp &stamp, int count, const QVector<float> &peaks)
    {
        std::erase_if(m_entries, [&](const Entry &entry) { return entry.stamp == stamp && entry.count == count; });
        m_entries.push_back({stamp, count, peaks});
        while (m_entries.size() > std::size_t(rememberedCount))
            m_entries.pop_front();
    }

private:
    struct Entry {
        Stamp stamp;
        int count;
        QVector<float> peaks;
    };
    std::deque<Entry> m_entries;
};

/// Looks the file up in the memory, else decodes it whole; a cancelled decode runs to its end
/// and is still remembered.
class DecodedEnvelopeSource::Job final : public EnvelopeRequest {
public:
    Job(std::shared_ptr<Memory> memory, const QString &url, int count) : m_memory(std::move(memory))
    {
        run(url, count);
    }

private:
    QCoro::Task<> run(QString url, int count)
    {
        QPointer<Job> self(this);
        const auto memory = m_memory;
        auto stamping = BackgroundTask::run([url] { return stampOf(url); });
        const auto stamp = co_await std::move(stamping);
        if (!self)
            co_return;
        if (stamp) {
            if (auto peaks = memory->recall(*stamp, count)) {
                emit delivered(*peaks, true);
                co_return;
            }
        }
        QVector<float> peaks;
        try {
            auto decoding = BackgroundTask::run([url, count] { return AudioAnalyzer::waveformPeaksSync(url, count); });
            peaks = co_await std::move(decoding);
        } catch (const std::exception &error) {
            logShownFailure(lcUi(), error);
            if (self)
                emit failed(errorText(error));
            co_return;
        }
        if (stamp)
            memory->remember(*stamp, count, peaks);
        if (self)
            emit delivered(peaks, true);
    }

    std::shared_ptr<Memory> m_memory;
};

DecodedEnvelopeSource::DecodedEnvelopeSource() : m_memory(std::make_shared<Memory>()) {}

DecodedEnvelopeSource::~DecodedEnvelopeSource() = default;

std::unique_ptr<EnvelopeRequest> DecodedEnvelopeSource::load(const QString &url, int count)
{
    return std::make_unique<Job>(m_memory, url, count);
}
