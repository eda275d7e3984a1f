#pragma once

#include "capture/CaptureFileWriter.h"

#include <sndfile.h>

/// 16-bit PCM in WAV (little-endian) or AIFF (big-endian) through libsndfile; checkpoint()
/// brings the header up to date so a killed take stays playable.
class PcmCaptureWriter final : public CaptureFileWriter {
public:
    enum class Container { wave, aiff };

    /// Throws AudioCaptureError when the file cannot be opened.
    PcmCaptureWriter(const QString &path, int sampleRate, int channelCount, Container container);

    void write(const std::int16_t *interleaved, std::int64_t frames) override;
    void checkpoint() override;
    void finish() override;
    void cancel() override;

private:
    struct Closer {
        void operator()(SNDFILE *file) const { sf_close(file); }
    };

    QString m_path;
    std::unique_ptr<SNDFILE, Closer> m_file;
    bool m_failed = false; ///< a write failed: finish() keeps what reached the file
};
