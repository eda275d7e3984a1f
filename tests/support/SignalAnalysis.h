#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

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

/// The first channel of \a path, decoded.
std::vector<float> firstChannel(const QString &path);
/// The amplitude of \a frequency Hz in \a samples (48000 Hz) between \a from and \a to seconds.
double toneAmplitude(const std::vector<float> &samples, double frequency, double from, double to);
/// The start of the first and the end of the last 20 ms block of \a samples (48000 Hz) where
/// \a frequency Hz sounds above \a amplitude, in seconds; none when it never does.
std::optional<std::pair<double, double>> toneSpan(const std::vector<float> &samples, double frequency,
                                                  double amplitude);

/// True when a PulseAudio server answers at \a server (empty: the default one).
bool serverAnswers(const QByteArray &server = {});

/// Waits until \a service has delivered \a buffers more peak levels (about 50 ms each).
bool captureBuffers(AudioCaptureService &service, int buffers);
