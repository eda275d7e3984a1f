#include "analysis/AudioAnalyzer.h"

#include "base/Logging.h"

#include "analysis/AudioAnalyzerError.h"
#include "analysis/LoopFinderService.h"
#include "media/AudioFileReader.h"
#include "platform/BackgroundTask.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr qint64 peakReadFrames = 16384;
constexpr qint64 keyWindowFrames = 2048;
constexpr int maximumKeyWindows = 180;
constexpr double tempoSpan = 180;
constexpr double keySpan = 45;

const std::array<QString, 12> noteNames{QStringLiteral("C"),  QStringLiteral("C#"), QStringLiteral("D"),
                                        QStringLiteral("Eb"), QStringLiteral("E"),  QStringLiteral("F"),
                                        QStringLiteral("F#"), QStringLiteral("G"),  QStringLiteral("Ab"),
                                        QStringLiteral("A"),  QStringLiteral("Bb"), QStringLiteral("B")};

/// min(length, seconds × rate truncated), without overflowing on huge or infinite spans.
qint64 frameLimit(qint64 length, double sampleRate, std::optional<double> seconds)
{
    if (!seconds)
        return length;
    const double frames = std::trunc(sampleRate * *seconds);
    if (!(frames < double(length)))
        return length;
    return std::max<qint64>(0, qint64(frames));
}

/// The largest absolute value of \a count samples, counting NaN as silence and ±infinity as
/// full scale; slower than loudestSample, for the rare buffer that holds an infinity.
float loudestCountingInfinity(const float *samples, qint64 count)
{
    constexpr float largest = std::numeric_limits<float>::max();
    float loudest = 0;
    bool infinite = false;
    for (qint64 i = 0; i < count; ++i) {
        const float value = std::abs(samples[i]);
        infinite |= value > largest;
        loudest = loudest < value && value <= largest ? value : loudest;
    }
    return infinite ? std::max(loudest, 1.0f) : loudest;
}

/// The largest absolute value of \a count samples; four independent maxima keep the loop
/// free of a serial dependency. NaN fails the comparison and so counts as silence; an
/// infinity is rare enough to take the careful path.
float loudestSample(const float *samples, qint64 count)
{
    float m[4] = {0, 0, 0, 0};
    qint64 i = 0;
    for (; i + 4 <= count; i += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            const float value = std::abs(samples[i + lane]);
            m[lane] = m[lane] < value ? value : m[lane];
        }
    }
    for (; i < count; ++i) {
        const float value = std::abs(samples[i]);
        m[0] = m[0] < value ? value : m[0];
    }
    const float loudest = std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
    return std::isinf(loudest) ? loudestCountingInfinity(samples, count) : loudest;
}

/// Moves the reader forward to \a frame; short hops are read through, which is cheaper than
/// a seek that must decode a preroll for lossy codecs.
void advance(AudioFileReader &reader, qint64 frame, AudioBuffer &scratch)
{
    constexpr qint64 readThrough = 65536;
    const auto gap = frame - reader.position();
    if (gap < 0 || gap > readThrough) {
        reader.seek(frame);
        return;
    }
    for (auto left = gap; left > 0;) {
        const auto got = reader.read(scratch, left);
        if (got == 0)
            break;
        left -= got;
    }
}

} // namespace

double AudioAnalyzer::duration(const QString &url)
{
    const auto info = AudioFileReader::measure(url);
    if (!(info.sampleRate > 0))
        throw AudioAnalyzerError();
    return double(info.length) / info.sampleRate;
}

QCoro::Task<AudioAnalysisResult> AudioAnalyzer::analyze(QString url)
{
    // Built in its own statement: GCC 12 destroys the captures of a lambda created inside a
    // co_await expression twice.
    auto work = BackgroundTask::run([url] { return analyzeSync(url); });
    co_return co_await std::move(work);
}

QCoro::Task<QVector<float>> AudioAnalyzer::waveformPeaks(QString url, int targetSamples)
{
    auto work = BackgroundTask::run([url, targetSamples] { return waveformPeaksSync(url, targetSamples); });
    co_return co_await std::move(work);
}

AudioAnalysisResult AudioAnalyzer::analyzeSync(const QString &url)
{
    AudioAnalysisResult result;
    result.duration = duration(url);
    const double span = std::min(result.duration, tempoSpan);
    const auto target = int(std::clamp(std::trunc(span * 50), 300.0, 9000.0));
    const auto envelope = waveformPeaksSync(url, target, span);
    result.bpm = estimateBPM(envelope, span);
    try {
        result.musicalKey = estimateKey(url, std::min(result.duration, keySpan));
    } catch (const std::exception &error) {
        // The tempo stands without a key.
        logIgnoredFailure(lcAnalysis(), error);
        result.musicalKey.reset();
    }
    return result;
}

QVector<float> AudioAnalyzer::waveformPeaksSync(const QString &url, int targetSamples,
                                                std::optional<double> maxDuration)
{
    AudioFileReader reader(url);
    const double rate = reader.sampleRate();
    const qint64 limit = frameLimit(reader.length(), rate, maxDuration);
    QVector<float> envelope;
    if (limit < 1 || !(rate > 0))
        return envelope;
    const qint64 buckets = std::max<qint64>(64, std::min<qint64>(limit, targetSamples));
    const qint64 framesPerBucket = std::max<qint64>(1, limit / buckets);
    envelope.reserve(qsizetype(std::min<qint64>(limit / framesPerBucket + 1, 1 << 24)));

    AudioBuffer buffer;
    float bucketMax = 0;
    qint64 bucketFrames = 0;
    while (reader.position() < limit) {
        const auto got = reader.read(buffer, std::min(limit - reader.position(), peakReadFrames));
        if (got == 0)
            break;
        // Whole runs of a bucket at a time: the loudest sample of a run over every channel.
        for (qint64 i = 0; i < got;) {
            const auto run = std::min(got - i, framesPerBucket - bucketFrames);
            for (const auto &channel : buffer.channels)
                bucketMax = std::max(bucketMax, loudestSample(channel.data() + i, run));
            bucketFrames += run;
            i += run;
            if (bucketFrames == framesPerBucket) {
                envelope.append(bucketMax);
                bucketMax = 0;
                bucketFrames = 0;
            }
        }
    }
    if (bucketFrames >= 1)
        envelope.append(bucketMax);
    if (envelope.isEmpty())
        return envelope;
    const float loudest = *std::max_element(envelope.cbegin(), envelope.cend());
    const float divisor = loudest > 0.0001f ? loudest : 0.0001f;
    for (auto &value : envelope)
        value = std::min(value / divisor, 1.0f);
    return envelope;
}

std::vector<float> AudioAnalyzer::monoSamples(const AudioBuffer &buffer)
{
    const auto frames = buffer.frameLength;
    const int channels = std::max(1, buffer.channelCount());
    const double span = frames > 1 ? double(frames - 1) : 1.0;
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (const auto &channel : buffer.channels)
            sum += finiteSample(channel[i]);
        const double weight = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / span);
        mono[i] = sum / float(channels) * float(weight);
    }
    return mono;
}

std::optional<double> AudioAnalyzer::estimateBPM(const QVector<float> &envelope, double duration)
{
    const auto n = qint64(envelope.size());
    if (!(n > 120 && duration > 4.0))
        return std::nullopt;
    std::vector<double> values(envelope.cbegin(), envelope.cend());
    const double rate = double(n) / duration;
    const auto halfWindow = std::max<qint64>(1, qint64(rate / 20));
    values = LoopFinderService::smooth(values, halfWindow);
    double mean = 0;
    for (const double v : values)
        mean += v;
    mean /= double(n);
    for (auto &v : values)
        v -= mean;

    const double perMinute = rate * 60;
    const auto shortest = std::max<qint64>(1, qint64(perMinute / 190));
    const auto longest = std::min<qint64>(n - 2, qint64(perMinute / 55));
    if (shortest >= longest)
        return std::nullopt;
    double best = -std::numeric_limits<double>::infinity();
    qint64 bestLag = 0;
    for (auto lag = shortest; lag <= longest; ++lag) {
        double sum = 0;
        for (auto i = lag; i < n; ++i)
            sum += values[i] * values[i - lag];
        const double r = sum / double(n - lag);
        if (r > best) {
            best = r;
            bestLag = lag;
        }
    }
    if (!(best > 0))
        return std::nullopt;
    return std::round(perMinute / double(bestLag) * 10) / 10;
}

std::optional<QString> AudioAnalyzer::estimateKey(const QString &url, double maxDuration)
{
    AudioFileReader reader(url);
    const double rate = reader.sampleRate();
    const qint64 limit = frameLimit(reader.length(), rate, maxDuration);
    if (!(rate > 0) || limit < keyWindowFrames)
        return std::nullopt;

    Chroma chroma{};
    AudioBuffer buffer, scratch;
    int counted = 0;
    while (reader.position() + keyWindowFrames < limit && counted <= maximumKeyWindows - 1) {
        if (reader.read(buffer, keyWindowFrames) < keyWindowFrames)
            break;
        const auto frame = monoSamples(buffer);
        double squares = 0;
        for (const float x : frame)
            squares += double(x * x);
        const double loudness = std::sqrt(squares / double(frame.size()));
        if (loudness > 0.002) {
            accumulateChroma(frame, rate, chroma);
            ++counted;
        }
        advance(reader, std::min(reader.position() + keyWindowFrames, limit), scratch);
    }
    double total = 0;
    for (const double bin : chroma)
        total += bin;
    if (!(total > 0))
        return std::nullopt;
    for (auto &bin : chroma)
        bin /= total;
    return bestKeyName(chroma);
}

void AudioAnalyzer::accumulateChroma(std::span<const float> frame, double sampleRate, Chroma &chroma)
{
    for (int note = 36; note <= 83; ++note) {
        const double frequency = 440 * std::pow(2.0, double(note - 69) / 12);
        const double omega = 2 * std::numbers::pi * frequency / sampleRate;
        const double k = 2 * std::cos(omega);
        double s1 = 0, s2 = 0;
        for (const float x : frame) {
            const double s = double(x) + k * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        double power = s2 * s2 + s1 * s1 - k * s1 * s2;
        if (!(power > 0))
            power = 0;
        chroma[note % 12] += std::log1p(power);
    }
}

double AudioAnalyzer::correlation(const Chroma &chroma, const Chroma &profile, int root)
{
    double chromaMean = 0, profileMean = 0;
    for (int i = 0; i < 12; ++i) {
        chromaMean += chroma[i];
        profileMean += profile[i];
    }
    chromaMean /= 12;
    profileMean /= 12;
    // Summed in profile order, so chroma that repeat under a turn give exactly equal results
    // for the roots they cannot tell apart.
    const auto shift = std::size_t((root % 12 + 12) % 12);
    double numerator = 0, chromaSquares = 0, profileSquares = 0;
    for (std::size_t j = 0; j < 12; ++j) {
        const double a = chroma[(j + shift) % 12] - chromaMean;
        const double b = profile[j] - profileMean;
        numerator += a * b;
        chromaSquares += a * a;
        profileSquares += b * b;
    }
    const double denominator = std::sqrt(chromaSquares * profileSquares);
    return denominator > 0 ? numerator / denominator : 0;
}

std::optional<QString> AudioAnalyzer::bestKeyName(const Chroma &chroma)
{
    double best = -std::numeric_limits<double>::infinity();
    std::optional<QString> name;
    for (int root = 0; root < 12; ++root) {
        if (const double major = correlation(chroma, majorProfile, root); major > best) {
            best = major;
            name = noteNames[root] + QStringLiteral(" major");
        }
        if (const double minor = correlation(chroma, minorProfile, root); minor > best) {
            best = minor;
            name = noteNames[root] + QStringLiteral(" minor");
        }
    }
    return name;
}
