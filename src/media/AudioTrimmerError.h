#pragma once

#include "base/AppError.h"

/// Failures of the audio trimmer.
class AudioTrimmerError : public AppError {
public:
    enum class Code { invalidRange, exportUnavailable, exportFailed, cancelled };

    /// \a cause, when given, follows the code's sentence (e.g. "The disk is full.").
    explicit AudioTrimmerError(Code code, const QString &cause = {});

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
