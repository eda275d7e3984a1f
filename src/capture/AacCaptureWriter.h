#pragma once

#include "capture/CaptureFileWriter.h"
#include "media/FFmpegHandles.h"

#include <vector>

/// AAC in M4A through FFmpeg. While the take runs the file is fragmented MP4 (checkpoint()
/// closes a fragment), so a killed take stays playable; finish() turns it into a regular M4A.
class AacCaptureWriter final : public CaptureFileWriter {
public:
    /// Throws AudioCaptureError (writerSetupFailed) when the encoder or file cannot be set up.
    AacCaptureWriter(const QString &path, int sampleRate, int channelCount, int bitRate);

    void write(const float *interleaved, std::int64_t frames) override;
    void checkpoint() override;
    void finish() override;
    void cancel() override;

    /// Rewrites the fragmented MP4 at \a path as a regular one in place (stream copy, then an
    /// atomic rename); the temporary file lives in \a workFolder. False leaves \a path as it was.
    static bool defragment(const QString &path, const QString &workFolder);

private:
    void openEncoder(int sampleRate, int channelCount, int bitRate);
    void openOutput();
    void encodeFrame(const float *interleaved, int frames);
    void send(const AVFrame *frame);

    QString m_path;
    FFmpeg::CodecContext m_codec;
    FFmpeg::OutputFormat m_output;
    AVStream *m_stream = nullptr;
    FFmpeg::Frame m_frame = FFmpeg::makeFrame();
    FFmpeg::Packet m_packet = FFmpeg::makePacket();
    std::vector<float> m_pending; ///< interleaved frames short of one encoder frame
    std::int64_t m_nextPts = 0;
};
