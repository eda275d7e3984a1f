#include "analysis/PreciseAnalyzer.h"

#include "analysis/AnalysisResampler.h"
#include "analysis/AudioAnalyzerError.h"
#include "analysis/PreciseKeyEstimator.h"
#include "analysis/PreciseTempoEstimator.h"
#include "media/AudioFileReader.h"
#include "platform/BackgroundTask.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double tempoSpan = 180;
constexpr double keySpan = 45;
constexpr qint64 readFrames = 16384;
} // namespace

QCoro::Task<AudioAnalysisResult> PreciseAnalyzer::analyze(QString url)
{
    // Built in its own statement: GCC 12 destroys the captures of a lambda created inside a
    // co_await expression twice.
    auto work = BackgroundTask::run([url] { return analyzeSync(url); });
    co_return co_await std::move(work);
}

AudioAnalysisResult PreciseAnalyzer::analyzeSync(const QString &url)
{
    AudioFileReader reader(url);
    const double rate = reader.sampleRate();
    if (!(rate > 0))
        throw AudioAnalyzerError();
    AudioAnalysisResult result;
    result.duration = double(reader.length()) / rate;
    const auto limit = std::min(reader.length(), qint64(std::trunc(std::min(result.duration, tempoSpan) * rate)));
    if (limit < 1)
        return result;

    AnalysisResampler resampler(rate);
    AudioBuffer buffer;
    while (reader.position() < limit) {
        const auto got = reader.read(buffer, std::min(limit - reader.position(), readFrames));
        if (got == 0)
            break;
        resampler.push(buffer, std::size_t(got));
    }
    const auto samples = resampler.finish();

    if (const auto tempi = PreciseTempoEstimator::estimate(samples); !tempi.isEmpty()) {
        result.bpm = tempi.front().bpm;
        result.bpmConfidence = tempi.front().confidence;
        result.bpmAlternatives = tempi.mid(1);
    }
    const auto keyLength = std::min(samples.size(), std::size_t(keySpan * AnalysisResampler::rate));
    if (const auto keys = PreciseKeyEstimator::estimate(std::span(samples).first(keyLength)); !keys.isEmpty()) {
        result.musicalKey = keys.front().musicalKey;
        result.keyConfidence = keys.front().confidence;
        result.keyAlternatives = keys.mid(1);
    }
    return result;
}
