#pragma once

#include <QObject>
#include <QString>

/// Stateless audio analysis: lengths, peak envelopes, tempo and key.
class AudioAnalyzer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Length of the file in seconds; throws AudioFileError when it cannot be opened and
    /// AudioAnalyzerError when its sample rate is not positive.
    [[nodiscard]] static double duration(const QString &url);
};
