#pragma once

#include "capture/CaptureFileWriter.h"

#include <memory>
#include <vector>

#include <sys/stat.h>

class AacM4aEncoder;

/// AAC in M4A. While the take runs the file is fragmented MP4 (checkpoint() closes a
/// fragment), so a killed take stays playable; finish() turns it into a regular M4A. After a
/// failed write the file is cut back to its last complete fragment.
class AacCaptureWriter final : public CaptureFileWriter {
public:
    /// Throws AudioCaptureError when the encoder or file cannot be set up.
    AacCaptureWriter(const QString &path, int sampleRate, int channelCount, int bitRate);
    ~AacCaptureWriter() override;

    void write(const std::int16_t *interleaved, std::int64_t frames) override;
    void checkpoint() override;
    void finish() override;
    void cancel() override;

private:
    /// Rewrites the finished fragmented MP4 as a regular one: a stream copy into a file
    /// reserved in the work folder, then an atomic exchange of the two names that only ever
    /// replaces our own file. False leaves the file as it was.
    bool defragment();
    /// Runs \a step; a failure marks the file failed and throws AudioCaptureError.
    template <typename Step>
    void guarded(Step step);
    /// Closes the file without more writes and cuts it back to its last complete fragment.
    void keepPlayable();

    QString m_path;
    std::unique_ptr<AacM4aEncoder> m_encoder;
    std::int64_t m_completeSize = 0; ///< the file is playable up to here
    bool m_failed = false;
    std::vector<float> m_planes; ///< write()'s conversion space
    struct stat m_identity {};   ///< the file we opened, told apart from one that takes its name
};
