#pragma once

#include "base/AppError.h"

/// Failures of the audio analyzer.
class AudioAnalyzerError : public AppError {
public:
    enum class Code { unreadableAudio };

    explicit AudioAnalyzerError(Code code = Code::unreadableAudio);

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
