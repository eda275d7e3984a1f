#pragma once

#include "base/AppError.h"

/// A file the decoder cannot open or read.
class AudioFileError : public AppError {
public:
    enum class Code { cannotOpen, noAudioStream, decodeFailed };

    AudioFileError(Code code, const QString &path);

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
