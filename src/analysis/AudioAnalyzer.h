#pragma once

#include "analysis/AudioAnalysisResult.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <qcoro/qcorotask.h>

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "media/AudioBuffer.h"

/// Stateless audio analysis: lengths, peak envelopes, tempo and key.
class AudioAnalyzer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Length of the file in seconds; throws AudioFileError when it cannot be opened and
    /// AudioAnalyzerError when its sample rate is not positive.
    [[nodiscard]] static double duration(const QString &url);

    /// Duration, tempo and key of the file, computed off the calling thread.
    QCoro::Task<AudioAnalysisResult> analyze(QString url);
    /// The normalised peak envelope of the whole file, computed off the calling thread.
    QCoro::Task<QVector<float>> waveformPeaks(QString url, int targetSamples);

    /// The same work on the calling thread.
    [[nodiscard]] static AudioAnalysisResult analyzeSync(const QString &url);
    /// Peak envelope of the file's first \a maxDuration seconds (all of it when absent): the
    /// loudest sample of each bucket of consecutive frames, normalised to the loudest bucket.
    [[nodiscard]] static QVector<float> waveformPeaksSync(const QString &url, int targetSamples,
                                                          std::optional<double> maxDuration = std::nullopt);

private:
    /// Energies per pitch class, index 0 = C.
    using Chroma = std::array<double, 12>;

    /// Krumhansl-Kessler key profiles, index 0 = tonic.
    static constexpr Chroma majorProfile{6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
    static constexpr Chroma minorProfile{6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

    /// The channel average of every frame of \a buffer under a Hann window.
    [[nodiscard]] static std::vector<float> monoSamples(const AudioBuffer &buffer);

    /// Tempo in beats per minute (one decimal) from the autocorrelation of an envelope that
    /// covers \a duration seconds; none when the envelope is too short or has no period.
    [[nodiscard]] static std::optional<double> estimateBPM(const QVector<float> &envelope, double duration);
    /// The key of a file's first frames before a limit: windows of 2048 frames, each followed by
    /// as many skipped, taken from the frames as a pass reads them, at most 180 audible ones.
    class KeyWindows {
    public:
        KeyWindows(double sampleRate, qint64 limit);
        [[nodiscard]] qint64 until() const { return m_limit; }
        /// The frames from \a first on, in order.
        void take(qint64 first, const AudioBuffer &buffer, qint64 frames);
        /// The key name; none when nothing audible was found.
        [[nodiscard]] std::optional<QString> key() const;

    private:
        [[nodiscard]] bool wantsMore() const;
        void addWindow();

        double m_rate;
        qint64 m_limit;
        qint64 m_start = 0; ///< the first frame of the window being filled
        int m_counted = 0;  ///< audible windows added
        AudioBuffer m_window;
        Chroma m_chroma{};
    };
    /// Adds ln(1 + Goertzel power) of the 48 notes C2...B5 in \a frame to their pitch classes.
    static void accumulateChroma(std::span<const float> frame, double sampleRate, Chroma &chroma);
    /// Pearson correlation of \a chroma with \a profile turned so its tonic lies on \a root.
    [[nodiscard]] static double correlation(const Chroma &chroma, const Chroma &profile, int root);
    /// The best correlating major or minor key, e.g. "F# minor".
    [[nodiscard]] static std::optional<QString> bestKeyName(const Chroma &chroma);
};
