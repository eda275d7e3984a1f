#pragma once

#include "base/AppError.h"

/// Failures of the MP3 encoder.
class MP3EncoderError : public AppError {
public:
    enum class Code { encodingFailed, missingEncoder, notPcmWav, cancelled };

    /// \a detail is the encoder's trimmed standard error for encodingFailed (empty gives the
    /// fixed sentence) and the input's file name for notPcmWav.
    explicit MP3EncoderError(Code code, const QString &detail = {});

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
