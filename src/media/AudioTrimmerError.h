#pragma once

#include "base/AppError.h"

/// Failures of the audio trimmer.
class AudioTrimmerError : public AppError {
public:
    enum class Code { invalidRange, exportUnavailable, exportFailed };

    explicit AudioTrimmerError(Code code);

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
