#pragma once

#include "analysis/AudioAnalysisResult.h"

#include <QString>
#include <qcoro/qcorotask.h>

/// The precise analysis of a file: one decoding pass over its first 180 s, tempo with its
/// confidence and alternatives from all of it, key with its confidence and runner-up from the
/// first 45 s.
class PreciseAnalyzer {
public:
    /// Duration, tempo and key of the file with their likelihoods, computed off the calling
    /// thread. Throws AudioFileError when the file cannot be read, AudioAnalyzerError when its
    /// sample rate is not positive.
    [[nodiscard]] static QCoro::Task<AudioAnalysisResult> analyze(QString url);
    /// The same work on the calling thread.
    [[nodiscard]] static AudioAnalysisResult analyzeSync(const QString &url);
};
