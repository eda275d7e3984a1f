#pragma once

#include "capture/RecordingEncodingSettings.h"

#include <QString>
#include <cstdint>
#include <memory>

/// Writes the interleaved 16-bit frames of one take into its file. Used by one thread at a
/// time; every failure throws AudioCaptureError.
class CaptureFileWriter {
public:
    CaptureFileWriter() = default;
    CaptureFileWriter(const CaptureFileWriter &) = delete;
    CaptureFileWriter &operator=(const CaptureFileWriter &) = delete;
    virtual ~CaptureFileWriter();

    /// Writes \a path (an existing, empty file the take reserved) as \a settings say; settings
    /// this program cannot write throw writerSetupFailed.
    [[nodiscard]] static std::unique_ptr<CaptureFileWriter> create(const QString &path,
                                                                   const RecordingEncodingSettings &settings);

    virtual void write(const std::int16_t *interleaved, std::int64_t frames) = 0;
    /// Makes everything written so far readable even if the process dies next.
    virtual void checkpoint() = 0;
    /// Puts what checkpoint() made readable on the disk, so a power cut keeps it too.
    void sync();
    /// Completes the file. After a failed write or checkpoint it keeps what was written
    /// playable instead, and throws nothing more.
    virtual void finish() = 0;
    /// Closes and deletes the file.
    virtual void cancel() = 0;

protected:
    /// Opens the descriptor sync() uses; the file \a path was just opened for writing.
    void keepForSync(const QString &path);

private:
    int m_syncDescriptor = -1;
};
