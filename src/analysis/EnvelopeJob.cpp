#include "analysis/EnvelopeJob.h"

#include "analysis/PeakBuckets.h"
#include "analysis/SampleLevels.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "platform/DecodePool.h"

#include <QFile>
#include <QPromise>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 decodeChunkFrames = 16384;
constexpr qint64 pcmChunkFrames = 1 << 18;
/// Frames each decoded part also reads before its start, to compare with the part before.
constexpr qint64 overlapFrames = 8192;
constexpr double shortestPartSeconds = 20;
constexpr qint64 mostParts = 32;
constexpr float pcm16Scale = 1.0f / 32768;

/// A running hash of the frames of [from, to), fed in any chunking.
class FrameHash {
public:
    FrameHash(qint64 from, qint64 to) : m_from(from), m_to(to) {}

    void add(qint64 firstFrame, const AudioBuffer &buffer, qint64 frames)
    {
        const qint64 begin = std::max(m_from, firstFrame), end = std::min(m_to, firstFrame + frames);
        for (qint64 frame = begin; frame < end; ++frame) {
            for (const auto &channel : buffer.channels)
                m_hash = (m_hash ^ std::bit_cast<quint32>(channel[std::size_t(frame - firstFrame)])) * 0x100000001b3ULL;
        }
        m_frames += std::max<qint64>(0, end - begin);
    }
    /// The hash, when every frame of the range was fed.
    [[nodiscard]] std::optional<quint64> value() const
    {
        return m_frames == m_to - m_from ? std::optional(m_hash) : std::nullopt;
    }

private:
    qint64 m_from, m_to;
    qint64 m_frames = 0;
    quint64 m_hash = 0xcbf29ce484222325ULL;
};

/// Reads the 16-bit frames of a PCM file directly into its own buffer.
class PcmFrames {
public:
    PcmFrames(const QString &path, const Pcm16Layout &layout)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)), m_layout(layout)
    {
        if (m_fd < 0)
            throw AudioFileError(AudioFileError::Code::cannotOpen, path);
    }
    ~PcmFrames() { ::close(m_fd); }
    PcmFrames(const PcmFrames &) = delete;
    PcmFrames &operator=(const PcmFrames &) = delete;

    /// Up to \a frames frames from \a frame on; returns the frames read, 0 at the end.
    qint64 read(qint64 frame, qint64 frames)
    {
        const qint64 frameBytes = 2 * m_layout.channels;
        m_samples.resize(std::size_t(frames * m_layout.channels));
        auto *bytes = reinterpret_cast<char *>(m_samples.data());
        qint64 got = 0;
        while (got < frames * frameBytes) {
            const auto read = ::pread(m_fd, bytes + got, std::size_t(frames * frameBytes - got),
                                      m_layout.dataOffset + frame * frameBytes + got);
            if (read <= 0)
                break;
            got += read;
        }
        return got / frameBytes;
    }
    [[nodiscard]] const qint16 *samples() const { return m_samples.data(); }
    [[nodiscard]] bool swapped() const { return m_layout.bigEndian != (Q_BYTE_ORDER == Q_BIG_ENDIAN); }
    [[nodiscard]] int channels() const { return m_layout.channels; }

private:
    int m_fd;
    Pcm16Layout m_layout;
    std::vector<qint16> m_samples;
};

/// The frames of [first, first + frames) before \a tap's end, as a reader would decode them.
void tapPcm(const FrameTap &tap, const PcmFrames &pcm, qint64 first, qint64 frames)
{
    const qint64 count = std::min(frames, tap.until - first);
    if (count <= 0)
        return;
    AudioBuffer buffer;
    buffer.channels.assign(std::size_t(pcm.channels()), std::vector<float>(std::size_t(count)));
    buffer.frameLength = std::size_t(count);
    const auto *samples = pcm.samples();
    for (qint64 i = 0; i < count; ++i) {
        for (int c = 0; c < pcm.channels(); ++c) {
            auto sample = samples[i * pcm.channels() + c];
            if (pcm.swapped())
                sample = qint16(quint16(quint16(sample) << 8 | quint16(sample) >> 8));
            buffer.channels[std::size_t(c)][std::size_t(i)] = float(sample) * pcm16Scale;
        }
    }
    tap.take(first, buffer, count);
}

/// Raises \a buckets by the frames of [from, to) read through \a pcm; returns the frames read.
qint64 addPcm(PcmFrames &pcm, qint64 from, qint64 to, PeakBuckets &buckets, const std::atomic<bool> *cancelled,
              const FrameTap *tap = nullptr)
{
    qint64 frame = from;
    while (frame < to && !(cancelled && *cancelled)) {
        const auto got = pcm.read(frame, std::min(pcmChunkFrames, to - frame));
        if (got == 0)
            break;
        if (tap)
            tapPcm(*tap, pcm, frame, got);
        for (qint64 i = 0; i < got;) {
            const auto run = std::min(got - i, buckets.runLength(frame + i));
            const int loudest =
                SampleLevels::loudest16(pcm.samples() + i * pcm.channels(), run * pcm.channels(), pcm.swapped());
            buckets.raise(frame + i, float(loudest) * pcm16Scale);
            i += run;
        }
        frame += got;
    }
    return frame - from;
}

/// Raises \a buckets by the decoded frames of [from, to), \a reader standing at \a from; feeds
/// \a hashes on the way. Returns the frames read.
qint64 addDecoded(AudioFileReader &reader, qint64 from, qint64 to, PeakBuckets &buckets,
                  const std::atomic<bool> *cancelled, std::vector<FrameHash *> hashes = {},
                  const FrameTap *tap = nullptr)
{
    AudioBuffer buffer;
    qint64 frame = from;
    while (frame < to && !(cancelled && *cancelled)) {
        const auto got = reader.read(buffer, std::min(decodeChunkFrames, to - frame));
        if (got == 0)
            break;
        for (qint64 i = 0; i < got;) {
            const auto run = std::min(got - i, buckets.runLength(frame + i));
            float loudest = 0;
            for (const auto &channel : buffer.channels)
                loudest = std::max(loudest, SampleLevels::loudest(channel.data() + i, run));
            buckets.raise(frame + i, loudest);
            i += run;
        }
        for (auto *hash : hashes)
            hash->add(frame, buffer, got);
        if (tap && frame < tap->until)
            tap->take(frame, buffer, std::min(got, tap->until - frame));
        frame += got;
    }
    return frame - from;
}

/// The order parts are handed out in: evenly spread over the file first, so that a preview
/// covers all of it early.
std::vector<qsizetype> spreadOrder(qsizetype parts)
{
    std::vector<qsizetype> order(static_cast<std::size_t>(parts));
    for (qsizetype i = 0; i < parts; ++i)
        order[std::size_t(i)] = i;
    const auto reversed = [parts](qsizetype index) {
        quint32 bits = 0;
        int width = 0;
        while ((qsizetype(1) << width) < parts)
            ++width;
        for (int b = 0; b < width; ++b)
            bits |= ((quint32(index) >> b) & 1) << (width - 1 - b);
        return bits;
    };
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return reversed(a) < reversed(b); });
    return order;
}

} // namespace

struct EnvelopeJob::State {
    struct Part {
        qint64 from = 0, to = 0;
        std::atomic<qint64> delivered = 0;
        std::atomic<bool> failed = false;
        std::atomic<bool> done = false;
        std::optional<quint64> head, tail; ///< hashes of the overlap before and at the end
    };

    QString url;
    int targetSamples;
    std::function<void()> progress;
    std::atomic<bool> cancelled = false;
    QPromise<Outcome> promise;
    bool started = false;

    // Set by prepare() before `prepared` is.
    std::atomic<bool> prepared = false;
    double sampleRate = 0;
    qint64 frameLimit = 0;
    std::optional<Pcm16Layout> pcm;
    bool inParts = false; ///< the file can be decoded in parts, each from a seek
    std::unique_ptr<PeakBuckets> buckets;
    std::vector<Part> parts;
    std::vector<qsizetype> order;
    std::atomic<qsizetype> nextPart = 0;
    std::atomic<int> workersLeft = 0;
    mutable std::mutex finishing;
    std::optional<QVector<float>> finalPeaks; ///< under `finishing`, once complete
};

std::shared_ptr<EnvelopeJob> EnvelopeJob::create(QString url, int targetSamples)
{
    return std::make_shared<EnvelopeJob>(Key{}, std::move(url), targetSamples);
}

EnvelopeJob::EnvelopeJob(Key, QString url, int targetSamples) : d(std::make_unique<State>())
{
    d->url = std::move(url);
    d->targetSamples = targetSamples;
}

EnvelopeJob::~EnvelopeJob() = default;

WaveformLevels EnvelopeJob::sequential(const QString &url, int targetSamples, std::optional<double> maxDuration)
{
    AudioFileReader reader(url);
    return onePass(reader, url, targetSamples, maxDuration, nullptr, nullptr);
}

WaveformLevels EnvelopeJob::sequential(AudioFileReader &reader, const QString &url, int targetSamples,
                                       std::optional<double> maxDuration, const FrameTap &tap)
{
    return onePass(reader, url, targetSamples, maxDuration, nullptr, &tap);
}

WaveformLevels EnvelopeJob::onePass(AudioFileReader &reader, const QString &url, int targetSamples,
                                    std::optional<double> maxDuration, const std::atomic<bool> *cancelled,
                                    const FrameTap *tap)
{
    WaveformLevels levels;
    levels.targetSamples = targetSamples;
    levels.sampleRate = reader.sampleRate();
    const qint64 limit = PeakBuckets::frameLimit(reader.length(), levels.sampleRate, maxDuration);
    if (limit < 1 || !(levels.sampleRate > 0))
        return levels;
    const qint64 fine = maxDuration ? 0 : PeakBuckets::fineFramesFor(limit);
    PeakBuckets buckets(limit, PeakBuckets::framesPerBucketFor(limit, targetSamples), fine);
    if (const auto layout = reader.pcm16Layout()) {
        PcmFrames pcm(url, *layout);
        levels.frames = addPcm(pcm, 0, limit, buckets, cancelled, tap);
    } else {
        levels.frames = addDecoded(reader, 0, limit, buckets, cancelled, {}, tap);
    }
    levels.peaks = buckets.envelope(levels.frames);
    if (fine > 0) {
        levels.finePeaks = buckets.finePeaks(levels.frames);
        levels.fineFrames = fine;
    }
    return levels;
}

std::optional<WaveformLevels> EnvelopeJob::fromFinePeaks(const QString &url, const QVector<float> &finePeaks,
                                                         qint64 fineFrames, qint64 frames, int targetSamples)
{
    AudioFileReader reader(url);
    const auto layout = reader.pcm16Layout();
    if (!layout || frames < 1 || reader.length() != frames || fineFrames != PeakBuckets::fineFramesFor(frames)
        || finePeaks.size() != (frames + fineFrames - 1) / fineFrames)
        return std::nullopt;
    const qint64 perBucket = PeakBuckets::framesPerBucketFor(frames, targetSamples);
    PeakBuckets buckets(frames, perBucket, fineFrames);
    PcmFrames pcm(url, *layout);
    // A run that straddles buckets is read again. Runs read close together are read as one
    // stretch: reading a run whose peak is known raises its bucket to that same peak.
    constexpr qsizetype readThrough = 16;
    auto straddles = [&](qsizetype run) {
        const qint64 from = run * fineFrames, to = std::min(from + fineFrames, frames);
        return from / perBucket != (to - 1) / perBucket;
    };
    for (qsizetype run = 0; run < finePeaks.size();) {
        if (!straddles(run)) {
            buckets.raise(run * fineFrames, finePeaks[run]);
            ++run;
            continue;
        }
        qsizetype last = run;
        for (qsizetype next = run + 1; next < finePeaks.size() && next - last <= readThrough; ++next)
            if (straddles(next))
                last = next;
        const qint64 from = run * fineFrames, to = std::min((last + 1) * fineFrames, frames);
        if (addPcm(pcm, from, to, buckets, nullptr) != to - from)
            return std::nullopt;
        run = last + 1;
    }
    WaveformLevels levels;
    levels.targetSamples = targetSamples;
    levels.sampleRate = reader.sampleRate();
    levels.frames = frames;
    levels.peaks = buckets.envelope(frames);
    levels.finePeaks = buckets.finePeaks(frames);
    levels.fineFrames = fineFrames;
    return levels;
}

void EnvelopeJob::setProgressHandler(std::function<void()> handler)
{
    d->progress = std::move(handler);
}

QFuture<EnvelopeJob::Outcome> EnvelopeJob::start()
{
    Q_ASSERT(!d->started);
    d->started = true;
    d->promise.start();
    auto future = d->promise.future();
    DecodePool::instance().start([self = shared_from_this()] { self->prepare(); });
    return future;
}

WaveformLevels EnvelopeJob::run()
{
    auto future = start();
    future.waitForFinished();
    auto outcome = future.takeResult();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if (!outcome.levels)
        throw AudioFileError(AudioFileError::Code::decodeFailed, d->url);
    return std::move(*outcome.levels);
}

void EnvelopeJob::cancel()
{
    d->cancelled = true;
}

std::pair<QVector<float>, double> EnvelopeJob::preview() const
{
    {
        const std::lock_guard lock(d->finishing);
        if (d->finalPeaks)
            return {*d->finalPeaks, 1.0};
    }
    if (!d->prepared.load(std::memory_order_acquire) || !d->buckets)
        return {};
    const auto perBucket = d->buckets->framesPerBucket();
    std::vector<bool> known(std::size_t((d->frameLimit + perBucket - 1) / perBucket), false);
    qint64 covered = 0;
    for (const auto &part : d->parts) {
        if (!part.done.load(std::memory_order_acquire) || part.failed)
            continue;
        const qint64 end = part.from + part.delivered;
        covered += end - part.from;
        for (qint64 bucket = part.from / perBucket; bucket * perBucket < end; ++bucket)
            known[std::size_t(bucket)] = true;
    }
    return {d->buckets->partialEnvelope(d->frameLimit, known), double(covered) / double(d->frameLimit)};
}

void EnvelopeJob::prepare()
{
    DecodePool::lowerPriority();
    std::optional<AudioFileReader> reader;
    try {
        reader.emplace(d->url);
        d->sampleRate = reader->sampleRate();
        d->frameLimit = reader->length();
        d->pcm = reader->pcm16Layout();
        d->inParts = reader->seeksExactly();
    } catch (...) {
        d->promise.addResult(Outcome{std::nullopt, std::current_exception()});
        d->promise.finish();
        return;
    }
    if (d->frameLimit < 1 || !(d->sampleRate > 0)) {
        WaveformLevels empty;
        empty.targetSamples = d->targetSamples;
        empty.sampleRate = d->sampleRate;
        d->promise.addResult(Outcome{empty, {}});
        d->promise.finish();
        return;
    }
    const qint64 fine = PeakBuckets::fineFramesFor(d->frameLimit);
    d->buckets = std::make_unique<PeakBuckets>(d->frameLimit,
                                               PeakBuckets::framesPerBucketFor(d->frameLimit, d->targetSamples), fine);
    const auto shortest = qint64(shortestPartSeconds * d->sampleRate);
    const qsizetype count =
        d->inParts ? qsizetype(std::clamp<qint64>(d->frameLimit / std::max<qint64>(1, shortest), 1, mostParts)) : 1;
    d->parts = std::vector<State::Part>(std::size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        d->parts[std::size_t(i)].from = d->frameLimit * i / count;
        d->parts[std::size_t(i)].to = d->frameLimit * (i + 1) / count;
    }
    d->order = spreadOrder(count);
    const int workers = int(std::min<qsizetype>(count, DecodePool::instance().maxThreadCount()));
    d->workersLeft = workers;
    d->prepared.store(true, std::memory_order_release);
    for (int w = 1; w < workers; ++w)
        DecodePool::instance().start([self = shared_from_this()] { self->work(std::nullopt); });
    work(std::move(reader));
}

void EnvelopeJob::work(std::optional<AudioFileReader> reader)
{
    DecodePool::lowerPriority();
    std::optional<PcmFrames> pcm;
    while (!d->cancelled) {
        const auto next = d->nextPart++;
        if (next >= qsizetype(d->order.size()))
            break;
        auto &part = d->parts[std::size_t(d->order[std::size_t(next)])];
        try {
            if (d->pcm) {
                if (!pcm)
                    pcm.emplace(d->url, *d->pcm);
                part.delivered = addPcm(*pcm, part.from, part.to, *d->buckets, &d->cancelled);
            } else {
                if (!reader)
                    reader.emplace(d->url);
                const qint64 overlap = std::min(overlapFrames, part.from);
                const qint64 start = part.from - overlap;
                if (reader->position() != start)
                    reader->seek(start);
                // The overlap is read, and compared, but leaves the buckets to the part before.
                FrameHash head(start, part.from), tail(std::max(part.from, part.to - overlapFrames), part.to);
                AudioBuffer buffer;
                for (qint64 frame = start; frame < part.from;) {
                    const auto got = reader->read(buffer, std::min(decodeChunkFrames, part.from - frame));
                    if (got == 0)
                        break;
                    head.add(frame, buffer, got);
                    frame += got;
                }
                part.head = head.value();
                part.delivered = addDecoded(*reader, part.from, part.to, *d->buckets, &d->cancelled, {&tail});
                part.tail = tail.value();
            }
        } catch (...) {
            part.failed = true;
        }
        part.done.store(true, std::memory_order_release);
        if (d->progress)
            d->progress();
    }
    reader.reset();
    pcm.reset();
    if (--d->workersLeft == 0)
        complete();
}

void EnvelopeJob::complete()
{
    if (d->cancelled) {
        d->promise.addResult(Outcome{});
        d->promise.finish();
        return;
    }
    // The parts agree when each but the last is whole and, where decoded, each begins with the
    // frames its predecessor ended with.
    bool agree = true;
    qint64 frames = 0;
    for (std::size_t i = 0; i < d->parts.size() && agree; ++i) {
        const auto &part = d->parts[i];
        const bool whole = part.delivered == part.to - part.from;
        agree = !part.failed && (whole || i + 1 == d->parts.size());
        if (agree && !d->pcm && i > 0)
            agree = part.head && d->parts[i - 1].tail && *part.head == *d->parts[i - 1].tail;
        frames += part.delivered;
    }
    Outcome outcome;
    try {
        if (agree) {
            WaveformLevels levels;
            levels.targetSamples = d->targetSamples;
            levels.sampleRate = d->sampleRate;
            levels.frames = frames;
            levels.peaks = d->buckets->envelope(frames);
            levels.finePeaks = d->buckets->finePeaks(frames);
            levels.fineFrames = d->buckets->fineFrames();
            outcome.levels = std::move(levels);
        } else {
            AudioFileReader reader(d->url);
            auto levels = onePass(reader, d->url, d->targetSamples, std::nullopt, &d->cancelled, nullptr);
            if (!d->cancelled)
                outcome.levels = std::move(levels);
        }
    } catch (...) {
        outcome.error = std::current_exception();
    }
    if (outcome.levels) {
        const std::lock_guard lock(d->finishing);
        d->finalPeaks = outcome.levels->peaks;
    }
    d->promise.addResult(std::move(outcome));
    d->promise.finish();
}
