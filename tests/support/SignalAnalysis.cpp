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
