#include "support/AudioFixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace AudioFixtures {

QStringList codecArguments(const QString &path)
{
    const auto extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("wav"))
        return {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")};
    if (extension == QLatin1String("aif") || extension == QLatin1String("aiff"))
        return {QStringLiteral("-c:a"), QStringLiteral("pcm_s16be"), QStringLiteral("-f"), QStringLiteral("aiff")};
    if (extension == QLatin1String("m4a"))
        return {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"),
                QStringLiteral("192k"), QStringLiteral("-f"),  QStringLiteral("ipod")};
    if (extension == QLatin1String("mp3"))
        return {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("192k")};
    return {};
}

QString encode(const QString &path, const std::vector<float> &interleaved, int sampleRate, int channels,
               const QStringList &extraArguments)
{
    QTemporaryFile raw;
    if (!raw.open()) {
        std::fprintf(stderr, "AudioFixtures: no temporary file\n");
        std::abort();
    }
    raw.write(reinterpret_cast<const char *>(interleaved.data()), qint64(interleaved.size() * sizeof(float)));
    raw.flush();
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("-v"),        QStringLiteral("error"), QStringLiteral("-y"),
                          QStringLiteral("-f"),        QStringLiteral("f32le"), QStringLiteral("-ar"),
                          QString::number(sampleRate), QStringLiteral("-ac"),   QString::number(channels),
                          QStringLiteral("-i"),        raw.fileName()};
    arguments += codecArguments(path) + extraArguments;
    arguments << path;
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "AudioFixtures: ffmpeg failed for %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

std::vector<float> sine(long frames, double frequency, double amplitude, int sampleRate, int channels)
{
    std::vector<float> samples(std::size_t(frames) * channels);
    for (long i = 0; i < frames; ++i) {
        const auto value = float(amplitude * std::sin(2 * M_PI * frequency * double(i) / sampleRate));
        for (int c = 0; c < channels; ++c)
            samples[std::size_t(i) * channels + c] = value;
    }
    return samples;
}

QString tone(const QString &path, double seconds, double frequency, double amplitude, int sampleRate, int channels)
{
    return encode(path, sine(long(std::lround(seconds * sampleRate)), frequency, amplitude, sampleRate, channels),
                  sampleRate, channels);
}

QString silence(const QString &path, long frames, int sampleRate, int channels)
{
    return encode(path, std::vector<float>(std::size_t(frames) * channels, 0.0f), sampleRate, channels);
}

QString clickTrack(const QString &path, double seconds, double bpm, int sampleRate, int channels)
{
    const long frames = long(std::lround(seconds * sampleRate));
    std::vector<float> samples(std::size_t(frames) * channels, 0.0f);
    const double beat = 60.0 / bpm * sampleRate;
    const long clickLength = sampleRate / 200;
    for (double start = 0; start < frames; start += beat) {
        for (long i = 0; i < clickLength && long(start) + i < frames; ++i) {
            const auto value = float(0.9 * std::exp(-double(i) / (clickLength / 5.0)) * (i % 2 ? 1 : -1));
            for (int c = 0; c < channels; ++c)
                samples[std::size_t(long(start) + i) * channels + c] = value;
        }
    }
    return encode(path, samples, sampleRate, channels);
}

} // namespace AudioFixtures
