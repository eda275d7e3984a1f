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
    while (const auto frames = reader.read(buffer, 8192)) {
        for (qint64 i = 0; i < frames; ++i) {
            const auto frame = signal.decoded + i;
            if (frame < first || frame >= last)
                continue;
            const float value = buffer.channels[0][i];
            signal.peak = std::max(signal.peak, std::abs(value));
            if (previous < 0 && value >= 0) {
                firstCrossing = firstCrossing < 0 ? frame : firstCrossing;
                lastCrossing = frame;
                ++crossings;
            }
            previous = value;
        }
        signal.decoded += frames;
    }
    if (crossings > 1)
        signal.frequency = double(crossings - 1) * signal.sampleRate / double(lastCrossing - firstCrossing);
    return signal;
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
    while (peaks.count() < buffers && peaks.wait(5000)) {
    }
    return peaks.count() >= buffers;
}
