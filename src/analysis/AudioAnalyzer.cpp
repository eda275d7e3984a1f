#include "analysis/AudioAnalyzer.h"

#include "analysis/AudioAnalyzerError.h"
#include "analysis/EnvelopeJob.h"
#include "analysis/LoopFinderService.h"
#include "analysis/MusicalKeys.h"
#include "analysis/PeakBuckets.h"
#include "media/AudioFileReader.h"
#include "platform/BackgroundTask.h"

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr qint64 keyWindowFrames = 2048;
constexpr int maximumKeyWindows = 180;
constexpr double tempoSpan = 180;
constexpr double keySpan = 45;

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
    // Decoded on every core; the same envelope as waveformPeaksSync.
    const auto job = EnvelopeJob::create(url, targetSamples);
    auto outcome = co_await job->start();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    co_return std::move(outcome.levels->peaks);
}

AudioAnalysisResult AudioAnalyzer::analyzeSync(const QString &url)
{
    // One open and one pass: the tempo envelope's frames also feed the key windows.
    AudioFileReader reader(url);
    const double rate = reader.sampleRate();
    if (!(rate > 0))
        throw AudioAnalyzerError();
    AudioAnalysisResult result;
    result.duration = double(reader.length()) / rate;
    const double span = std::min(result.duration, tempoSpan);
    const auto target = int(std::clamp(std::trunc(span * 50), 300.0, 9000.0));
    KeyWindows key(rate, PeakBuckets::frameLimit(reader.length(), rate, std::min(result.duration, keySpan)));
    const FrameTap tap{key.until(), [&key](qint64 first, const AudioBuffer &buffer, qint64 frames) {
                           key.take(first, buffer, frames);
                       }};
    const auto envelope = EnvelopeJob::sequential(reader, url, target, span, tap).peaks;
    result.bpm = estimateBPM(envelope, span);
    result.musicalKey = key.key();
    return result;
}

QVector<float> AudioAnalyzer::waveformPeaksSync(const QString &url, int targetSamples,
                                                std::optional<double> maxDuration)
{
    return EnvelopeJob::sequential(url, targetSamples, maxDuration).peaks;
}

std::vector<float> AudioAnalyzer::monoSamples(const AudioBuffer &buffer)
{
    const auto frames = buffer.frameLength;
    const int channels = std::max(1, buffer.channelCount());
    // Every key window has the same length: its Hann weights are computed once per thread.
    thread_local std::vector<float> weights;
    if (weights.size() != frames) {
        const double span = frames > 1 ? double(frames - 1) : 1.0;
        weights.resize(frames);
        for (std::size_t i = 0; i < frames; ++i)
            weights[i] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / span));
    }
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (const auto &channel : buffer.channels)
            sum += finiteSample(channel[i]);
        mono[i] = sum / float(channels) * weights[i];
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

AudioAnalyzer::KeyWindows::KeyWindows(double sampleRate, qint64 limit) : m_rate(sampleRate), m_limit(limit) {}

bool AudioAnalyzer::KeyWindows::wantsMore() const
{
    return m_rate > 0 && m_start + keyWindowFrames < m_limit && m_counted <= maximumKeyWindows - 1;
}

void AudioAnalyzer::KeyWindows::take(qint64 first, const AudioBuffer &buffer, qint64 frames)
{
    for (qint64 frame = std::max(first, m_start); frame < first + frames && wantsMore();
         frame = std::max(frame, m_start)) {
        if (m_window.channels.size() != buffer.channels.size())
            m_window.channels.assign(buffer.channels.size(), std::vector<float>(std::size_t(keyWindowFrames)));
        const qint64 at = frame - m_start;
        const qint64 count = std::min(first + frames - frame, keyWindowFrames - at);
        for (std::size_t c = 0; c < buffer.channels.size(); ++c)
            std::copy_n(buffer.channels[c].begin() + (frame - first), count, m_window.channels[c].begin() + at);
        frame += count;
        if (at + count < keyWindowFrames)
            break;
        m_window.frameLength = std::size_t(keyWindowFrames);
        addWindow();
        // The next window starts a window's length after this one ends.
        m_start = std::min(m_start + 2 * keyWindowFrames, m_limit);
    }
}

void AudioAnalyzer::KeyWindows::addWindow()
{
    const auto frame = monoSamples(m_window);
    double squares = 0;
    for (const float x : frame)
        squares += double(x * x);
    const double loudness = std::sqrt(squares / double(frame.size()));
    if (loudness > 0.002) {
        accumulateChroma(frame, m_rate, m_chroma);
        ++m_counted;
    }
}

std::optional<QString> AudioAnalyzer::KeyWindows::key() const
{
    double total = 0;
    for (const double bin : m_chroma)
        total += bin;
    if (!(total > 0))
        return std::nullopt;
    auto chroma = m_chroma;
    for (auto &bin : chroma)
        bin /= total;
    return bestKeyName(chroma);
}

void AudioAnalyzer::accumulateChroma(std::span<const float> frame, double sampleRate, Chroma &chroma)
{
    // All 48 notes share one pass over the frame: their recursions are independent, so they run
    // side by side, each computed exactly as it would be alone.
    constexpr int lanes = 48;
    for (int first = 36; first <= 83; first += lanes) {
        double k[lanes], s1[lanes] = {}, s2[lanes] = {};
        for (int lane = 0; lane < lanes; ++lane) {
            const double frequency = 440 * std::pow(2.0, double(first + lane - 69) / 12);
            const double omega = 2 * std::numbers::pi * frequency / sampleRate;
            k[lane] = 2 * std::cos(omega);
        }
        for (const float x : frame) {
            for (int lane = 0; lane < lanes; ++lane) {
                const double s = double(x) + k[lane] * s1[lane] - s2[lane];
                s2[lane] = s1[lane];
                s1[lane] = s;
            }
        }
        for (int lane = 0; lane < lanes; ++lane) {
            double power = s2[lane] * s2[lane] + s1[lane] * s1[lane] - k[lane] * s1[lane] * s2[lane];
            if (!(power > 0))
                power = 0;
            chroma[(first + lane) % 12] += std::log1p(power);
        }
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
            name = MusicalKeys::keyName(root, false);
        }
        if (const double minor = correlation(chroma, minorProfile, root); minor > best) {
            best = minor;
            name = MusicalKeys::keyName(root, true);
        }
    }
    return name;
}
