#pragma once

#include "base/AppError.h"

/// Failures of the sound server connection.
class SoundServerError : public AppError {
public:
    enum class Code { unreachable, noDefaultSink, noDefaultSource, streamFailed };

    explicit SoundServerError(Code code);

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
