#pragma once

#include "base/AppError.h"

/// Failures of the MP3 encoder.
class MP3EncoderError : public AppError {
public:
    enum class Code { encodingFailed, missingEncoder };

    /// \a diagnostics is the encoder's trimmed standard error; empty gives the fixed sentence.
    explicit MP3EncoderError(Code code, const QString &diagnostics = {});

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
