#pragma once

#include <QByteArray>
#include <QString>

class AudioCaptureService;

/// What a recorded file holds: its format, length, and the level and frequency of a stretch.
struct FileSignal {
    double sampleRate = 0;
    int channels = 0;
    qint64 length = 0, decoded = 0;
    float peak = 0;       ///< over the inspected stretch
    double frequency = 0; ///< from the rising zero crossings of the first channel, same stretch

    [[nodiscard]] double seconds() const { return sampleRate > 0 ? double(length) / sampleRate : 0; }
};

/// Decodes \a path; level and frequency come from the frames between the fractions \a from
/// and \a to of its length.
FileSignal analyse(const QString &path, double from = 0.2, double to = 0.9);

/// True when a PulseAudio server answers at \a server (empty: the default one).
bool serverAnswers(const QByteArray &server = {});

/// Waits until \a service has delivered \a buffers more peak levels (about 20 ms each).
bool captureBuffers(AudioCaptureService &service, int buffers);
