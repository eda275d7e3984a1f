#include "support/AudioFixtures.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace AudioFixtures {

namespace {
[[noreturn]] void fail(const char *what, const QString &path)
{
    std::fprintf(stderr, "AudioFixtures: %s for %s\n", what, qPrintable(path));
    std::abort();
}
} // namespace

QString encode(const QString &path, const std::vector<float> &interleaved, int sampleRate, int channels,
               const QStringList &extraArguments)
{
    QTemporaryFile raw;
    if (!raw.open())
        fail("no temporary file", path);
    raw.write(reinterpret_cast<const char *>(interleaved.data()), qint64(interleaved.size() * sizeof(float)));
    raw.flush();
    const QHash<QString, QString> codecs{{"wav", "-c:a pcm_s16le"},
                                         {"aif", "-c:a pcm_s16be -f aiff"},
                                         {"aiff", "-c:a pcm_s16be -f aiff"},
                                         {"m4a", "-c:a aac -b:a 192k -f ipod"},
                                         {"mp3", "-c:a libmp3lame -b:a 192k"}};
    const auto codec = codecs.value(QFileInfo(path).suffix().toLower()).split(u' ', Qt::SkipEmptyParts);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start("ffmpeg",
                 QStringList{"-v", "error", "-y", "-f", "f32le", "-ar", QString::number(sampleRate), "-ac",
                             QString::number(channels), "-i", raw.fileName()}
                     + codec + extraArguments + QStringList{path});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        fail("ffmpeg failed", path);
    return path;
}

std::vector<float> sine(long frames, double frequency, double amplitude, int sampleRate, int channels)
{
    std::vector<float> samples(std::size_t(frames) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(amplitude * std::sin(2 * M_PI * frequency * double(i / channels) / sampleRate));
    return samples;
}

QString tone(const QString &path, double seconds, double frequency, double amplitude, int sampleRate, int channels)
{
    return encode(path, sine(std::lround(seconds * sampleRate), frequency, amplitude, sampleRate, channels), sampleRate,
                  channels);
}

QString silence(const QString &path, long frames, int sampleRate, int channels)
{
    return encode(path, std::vector<float>(std::size_t(frames) * channels, 0.0f), sampleRate, channels);
}

QString clickTrack(const QString &path, double seconds, double bpm, int sampleRate, int channels)
{
    const long frames = std::lround(seconds * sampleRate), clickLength = sampleRate / 200;
    std::vector<float> samples(std::size_t(frames) * channels, 0.0f);
    for (double start = 0; start < frames; start += 60.0 / bpm * sampleRate)
        for (long i = 0; i < clickLength && long(start) + i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                samples[std::size_t(long(start) + i) * channels + c] =
                    float(0.9 * std::exp(-double(i) / (clickLength / 5.0)) * (i % 2 ? 1 : -1));
    return encode(path, samples, sampleRate, channels);
}

} // namespace AudioFixtures
