#pragma once

#include <QMetaType>
#include <QVector>

/// A whole file's peak envelope at the editor's resolution and at a fine one.
struct WaveformLevels {
    /// Normalised to the loudest bucket, as AudioAnalyzer::waveformPeaksSync gives it.
    QVector<float> peaks;
    int targetSamples = 0; ///< the target \a peaks was made for
    /// The loudest sample of every fineFrames frames, 0...1 (not normalised), for zoomed views.
    QVector<float> finePeaks;
    qint64 fineFrames = 0;
    qint64 frames = 0; ///< frames decoded
    double sampleRate = 0;

    bool operator==(const WaveformLevels &) const = default;
};

Q_DECLARE_METATYPE(WaveformLevels)
