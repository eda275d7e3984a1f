#pragma once

#include <QString>
#include <QStringList>
#include <vector>

/// Audio files for tests, encoded by the ffmpeg program; the codec follows the extension
/// (wav: 16-bit LE PCM, aif/aiff: 16-bit BE PCM, m4a: AAC, mp3: LAME).
namespace AudioFixtures {

/// Encodes interleaved float samples; returns \a path. Fails the test process on error.
QString encode(const QString &path, const std::vector<float> &interleaved, int sampleRate = 48000, int channels = 2,
               const QStringList &extraArguments = {});
/// A sine of \a frequency Hz at peak \a amplitude, the same in every channel.
QString tone(const QString &path, double seconds, double frequency = 440, double amplitude = 0.5,
             int sampleRate = 48000, int channels = 2);
/// Silence of \a frames frames.
QString silence(const QString &path, long frames, int sampleRate = 48000, int channels = 2);
/// Short clicks (5 ms decaying bursts) at \a bpm on a quiet floor.
QString clickTrack(const QString &path, double seconds, double bpm, int sampleRate = 48000, int channels = 2);

/// Interleaved sine samples, for building custom signals.
std::vector<float> sine(long frames, double frequency, double amplitude, int sampleRate = 48000, int channels = 2);

} // namespace AudioFixtures
