#include "capture/AacCaptureWriter.h"

#include "base/Logging.h"

#include "capture/AudioCaptureError.h"
#include "library/UniqueFileNamer.h"
#include "media/AacM4aEncoder.h"
#include "media/FFmpegHandles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
FFmpeg::OutputFormat openM4A(const QString &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "ipod", QFile::encodeName(path).constData()) < 0)
        return {};
    FFmpeg::OutputFormat output(raw);
    if (avio_open(&output->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE) < 0)
        return {};
    return output;
}

/// Copies the audio packets, each held back until the next one gives its true duration;
/// the last one ends where the stream's stated duration ends (the encoder's padding).
bool copyPackets(AVFormatContext *input, int index, AVFormatContext *output)
{
    const auto *stream = input->streams[index];
    const auto outBase = output->streams[0]->time_base;
    const bool knownEnd = stream->start_time != AV_NOPTS_VALUE && stream->duration > 0;
    const auto end = knownEnd ? stream->start_time + stream->duration : AV_NOPTS_VALUE;
    auto held = FFmpeg::makePacket();
    auto next = FFmpeg::makePacket();
    bool holding = false;
    auto writeHeld = [&](std::int64_t nextPts) {
        if (nextPts != AV_NOPTS_VALUE && nextPts > held->pts)
            held->duration = nextPts - held->pts;
        av_packet_rescale_ts(held.get(), stream->time_base, outBase);
        held->stream_index = 0;
        held->pos = -1;
        const bool written = av_write_frame(output, held.get()) >= 0;
        av_packet_unref(held.get());
        return written;
    };
    while (av_read_frame(input, next.get()) >= 0) {
        if (next->stream_index != index || next->pts == AV_NOPTS_VALUE) {
            av_packet_unref(next.get());
            continue;
        }
        if (holding && !writeHeld(next->pts))
            return false;
        av_packet_move_ref(held.get(), next.get());
        holding = true;
    }
    return !holding || writeHeld(end != AV_NOPTS_VALUE && end < held->pts + held->duration ? end : AV_NOPTS_VALUE);
}

bool remux(const QString &source, const QString &target)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(source).constData(), nullptr, nullptr) < 0)
        return false;
    const FFmpeg::InputFormat input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return false;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    auto output = openM4A(target);
    if (index < 0 || !output)
        return false;
    auto *stream = avformat_new_stream(output.get(), nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, input->streams[index]->codecpar) < 0)
        return false;
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[index]->time_base;
    return avformat_write_header(output.get(), nullptr) >= 0 && copyPackets(input.get(), index, output.get())
        && av_write_trailer(output.get()) == 0 && avio_closep(&output->pb) == 0;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_ino != 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// Swaps the names of \a a and \a b in one step.
bool exchange(const QByteArray &a, const QByteArray &b)
{
    return ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0;
}
} // namespace

AacCaptureWriter::AacCaptureWriter(const QString &path, int sampleRate, int channelCount, int bitRate) : m_path(path)
{
    try {
        m_encoder =
            std::make_unique<AacM4aEncoder>(path, sampleRate, channelCount, bitRate, AacM4aEncoder::Layout::fragmented);
    } catch (const AacM4aEncoder::Error &error) {
        if (error.stage() == AacM4aEncoder::Error::Stage::setup && error.systemError())
            throw AudioCaptureError::writeFailed(error.systemError());
        throw AudioCaptureError(AudioCaptureError::Code::writerSetupFailed);
    }
    ::stat(QFile::encodeName(path).constData(), &m_identity);
}

AacCaptureWriter::~AacCaptureWriter() = default;

template <typename Step>
void AacCaptureWriter::guarded(Step step)
{
    try {
        step();
    } catch (const AacM4aEncoder::Error &error) {
        m_failed = true;
        throw AudioCaptureError::writeFailed(error.systemError());
    }
}

void AacCaptureWriter::write(const float *interleaved, std::int64_t frames)
{
    guarded([&] { m_encoder->writeInterleaved(interleaved, frames); });
}

void AacCaptureWriter::checkpoint()
{
    guarded([&] { m_completeSize = m_encoder->checkpoint(); });
}

void AacCaptureWriter::finish()
{
    if (m_failed)
        return keepPlayable();
    try {
        guarded([&] { m_encoder->finish(); });
    } catch (...) {
        keepPlayable();
        throw;
    }
    m_encoder.reset();
    // A take that cannot be rewritten stays fragmented, which plays as well.
    defragment();
}

void AacCaptureWriter::keepPlayable()
{
    if (!m_encoder)
        return;
    m_encoder->abandon();
    m_encoder.reset();
    // What follows the last complete fragment is a fragment cut off by the failure.
    (void)::truncate(QFile::encodeName(m_path).constData(), off_t(m_completeSize));
}

void AacCaptureWriter::cancel()
{
    if (m_encoder)
        m_encoder->abandon();
    m_encoder.reset();
    QFile::remove(m_path);
}

bool AacCaptureWriter::defragment()
{
    const auto target = QFile::encodeName(m_path);
    const auto workFolder = UniqueFileNamer::workFolder(QFileInfo(m_path).absolutePath());
    struct stat now {};
    // Only our own take is rewritten: a file that took its name meanwhile stays as it is.
    if (::stat(target.constData(), &now) != 0 || !sameFile(now, m_identity) || !QDir().mkpath(workFolder))
        return false;
    QString temporary;
    try {
        temporary =
            UniqueFileNamer::reserveUniqueURL(workFolder, UniqueFileNamer::baseName(m_path), QStringLiteral("m4a"));
    } catch (const std::exception &error) {
        logIgnoredFailure(lcCapture(), error);
        return false;
    }
    const auto swapped = QFile::encodeName(temporary);
    if (!remux(m_path, temporary) || !exchange(swapped, target)) {
        QFile::remove(temporary);
        return false;
    }
    struct stat replaced {};
    if (::stat(swapped.constData(), &replaced) == 0 && sameFile(replaced, m_identity)) {
        QFile::remove(temporary);
        return true;
    }
    // Another file took the name during the rewrite: it gets its name back, our copy goes.
    if (exchange(swapped, target))
        QFile::remove(temporary);
    return false;
}
