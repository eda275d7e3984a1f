#include "support/SignalAnalysis.h"

#include "capture/AudioCaptureService.h"
#include "media/AudioFileReader.h"
#include "platform/PulseSoundServer.h"

#include <QSignalSpy>

#include <cmath>

FileSignal analyse(const QString &path, double from, double to)
{
    AudioFileReader reader(path);
    FileSignal signal{reader.sampleRate(), reader.channelCount(), reader.length()};
    const auto first = qint64(from * double(signal.length)), last = qint64(to * double(signal.length));
    AudioBuffer buffer;
    float previous = 0;
    qint64 crossings = 0, firstCrossing = -1, lastCrossing = -1;
    for (qint64 frames; (frames = reader.read(buffer, 8192)) > 0; signal.decoded += frames) {
        for (auto frame = std::max(first, signal.decoded); frame < std::min(last, signal.decoded + frames); ++frame) {
            const float value = buffer.channels[0][frame - signal.decoded];
            signal.peak = std::max(signal.peak, std::abs(value));
            if (previous < 0 && value >= 0) {
                firstCrossing = firstCrossing < 0 ? frame : firstCrossing;
                lastCrossing = frame;
                ++crossings;
            }
            previous = value;
        }
    }
    if (crossings > 1)
        signal.frequency = double(crossings - 1) * signal.sampleRate / double(lastCrossing - firstCrossing);
    return signal;
}

std::vector<float> firstChannel(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<float> samples;
    AudioBuffer buffer;
    while (reader.read(buffer, 8192) > 0)
        samples.insert(samples.end(), buffer.channels[0].begin(), buffer.channels[0].begin() + buffer.frameLength);
    return samples;
}

double toneAmplitude(const std::vector<float> &samples, double frequency, double from, double to)
{
    const auto first = std::size_t(std::max(0.0, from) * 48000);
    const auto last = std::min(samples.size(), std::size_t(std::max(0.0, to) * 48000));
    if (last <= first + 1)
        return 0;
    // Goertzel under a Hann window, scaled so a sine of amplitude A gives A.
    const double n = double(last - first);
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / 48000);
    double s1 = 0, s2 = 0, weights = 0;
    for (auto i = first; i < last; ++i) {
        const double weight = 0.5 - 0.5 * std::cos(2 * M_PI * double(i - first) / (n - 1));
        const double s0 = double(samples[i]) * weight + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
        weights += weight;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / weights;
}

std::optional<std::pair<double, double>> toneSpan(const std::vector<float> &samples, double frequency, double amplitude)
{
    constexpr double block = 0.02;
    std::optional<std::pair<double, double>> span;
    for (double start = 0; (start + block) * 48000 <= double(samples.size()); start += block) {
        if (toneAmplitude(samples, frequency, start, start + block) <= amplitude)
            continue;
        if (!span)
            span = std::pair(start, start + block);
        span->second = start + block;
    }
    return span;
}

bool serverAnswers(const QByteArray &server)
{
    try {
        (void)PulseSoundServer(server).playbackStreams();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool captureBuffers(AudioCaptureService &service, int buffers)
{
    QSignalSpy peaks(&service, &AudioCaptureService::livePeaksChanged);
    const auto until = service.liveLevelCount() + buffers;
    while (service.liveLevelCount() < until && peaks.wait(5000)) {
    }
    return service.liveLevelCount() >= until;
}
