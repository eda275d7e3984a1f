#include "store/TakeFinalizer.h"

#include "base/AppError.h"
#include "base/Logging.h"
#include "base/SystemErrorText.h"
#include "library/LibraryFileMoves.h"
#include "library/UniqueFileNamer.h"
#include "library/WorkFile.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "platform/BackgroundTask.h"
#include "platform/FileOperations.h"
#include "store/TakeLock.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cerrno>

namespace {
QString fileName(const QString &url)
{
    return QFileInfo(url).fileName();
}

/// Where the MP3 of a PCM take is encoded before it is published into the library.
QString partialURL(const QString &wav)
{
    const QFileInfo info(wav);
    return info.absolutePath() + u'/' + UniqueFileNamer::baseName(wav) + QStringLiteral(".mp3.partial");
}

/// True when a stopped process already published \a wav's take: the WAV or its MP3 is then
/// also linked into the library, and only the work files are left to remove.
bool wasPublished(const QString &wav, const QString &folder)
{
    for (const auto &file : {partialURL(wav), wav}) {
        if (LibraryFileMoves::hardLinkCount(file) > 1 && LibraryFileMoves::otherLink(file, folder))
            return true;
    }
    return false;
}
} // namespace

TakeFinalizer::TakeFinalizer(QString encodersFolder, FileOperations &files, QObject *parent)
    : QObject(parent), m_encoder(new MP3EncoderService(std::move(encodersFolder), this)), m_files(files)
{}

QString TakeFinalizer::leftoverTakePattern()
{
    return QStringLiteral("Vespertone *.wav");
}

bool TakeFinalizer::canEncodeMP3() const
{
    return m_encoder->isAvailable();
}

void TakeFinalizer::cancelEncoding()
{
    m_encoder->cancel();
}

QCoro::Task<TakeFinalizer::Result> TakeFinalizer::finalize(QString captureURL, QString folder,
                                                           RecordingEncodingSettings settings)
{
    if (settings.format == RecordingOutputFormat::mp3LAME) {
        auto publish = publishPCMTake(captureURL, folder, settings.aacBitRate);
        co_return co_await std::move(publish);
    }
    // Written in place from its start: its data and its name are made durable now.
    auto sync = BackgroundTask::run([files = &m_files, captureURL, folder] {
        int error = files->syncFile(captureURL);
        if (!error)
            error = files->syncFolder(folder);
        if (error)
            throw AppError(
                QStringLiteral("“%1” couldn’t be saved: %2").arg(fileName(captureURL), systemErrorText(error)));
    });
    co_await std::move(sync);
    co_return Result{captureURL, QStringLiteral("Saved ") + fileName(captureURL)};
}

QCoro::Task<> TakeFinalizer::encodeMP3(QString wav, QString mp3, AudioBitRate bitRate)
{
    const auto work = WorkFile::create(QFileInfo(mp3).absolutePath(), QStringLiteral("mp3"));
    auto encode = m_encoder->encode(wav, work.path(), bitRate);
    co_await std::move(encode);
    auto publish = BackgroundTask::run([files = &m_files, from = work.path(), mp3] {
        const int error = files->publish(from, mp3);
        if (error == EEXIST)
            throw AppError(QStringLiteral("“%1” already exists.").arg(fileName(mp3)));
        if (error)
            throw AppError(QStringLiteral("“%1” couldn’t be saved: %2").arg(fileName(mp3), systemErrorText(error)));
    });
    co_await std::move(publish);
}

QCoro::Task<TakeFinalizer::Result> TakeFinalizer::publishPCMTake(QString wav, QString folder, AudioBitRate bitRate)
{
    const auto base = UniqueFileNamer::baseName(wav);
    const auto partial = partialURL(wav);
    // Encode beside the take, publish with a link, then remove the work files: a process
    // stopped at any point leaves either the WAV alone or a library file it can recognise.
    // The WAV goes only once its MP3 is durable in the library.
    auto *files = &m_files;
    if (m_encoder->isAvailable()) {
        bool encoded = false;
        try {
            auto encode = m_encoder->encode(wav, partial, bitRate);
            co_await std::move(encode);
            encoded = true;
        } catch (const MP3EncoderError &error) {
            // A stopped encoding leaves the take to the next start; a failed one keeps it as WAV.
            if (error.code() == MP3EncoderError::Code::cancelled) {
                files->remove(partial);
                throw;
            }
            logIgnoredFailure(lcMedia(), error);
        } catch (const std::exception &error) {
            // The audio is kept as WAV below.
            logIgnoredFailure(lcMedia(), error);
        }
        if (encoded) {
            auto publish = BackgroundTask::run([files, wav, partial, folder, base] {
                const auto mp3 = LibraryFileMoves::publish(partial, folder, base, QStringLiteral("mp3"), true, *files);
                files->remove(wav);
                files->remove(partial);
                return mp3;
            });
            const auto mp3 = co_await std::move(publish);
            co_return Result{mp3, QStringLiteral("Saved ") + fileName(mp3)};
        }
        files->remove(partial);
    }
    auto publish = BackgroundTask::run([files, wav, folder, base] {
        const auto kept = LibraryFileMoves::publish(wav, folder, base, QStringLiteral("wav"), true, *files);
        files->remove(wav);
        return kept;
    });
    const auto kept = co_await std::move(publish);
    co_return Result{kept, QStringLiteral("MP3 encoding failed; saved ") + fileName(kept)};
}

QCoro::Task<QStringList> TakeFinalizer::recoverLeftoverTakes(QString folder, AudioBitRate bitRate)
{
    QPointer self(this);
    const QDir work(UniqueFileNamer::workFolder(folder));
    QStringList recovered;
    const auto names = work.entryList({leftoverTakePattern()}, QDir::Files, QDir::Name);
    for (const auto &name : names) {
        const auto wav = work.filePath(name);
        // A take that a live process is still writing or encoding is not ours to touch.
        const auto lock = TakeLock::acquire(wav);
        if (!lock || !QFileInfo::exists(wav))
            continue;
        if (wasPublished(wav, folder)) {
            m_files.remove(wav);
            m_files.remove(partialURL(wav));
            continue;
        }
        try {
            auto publish = publishPCMTake(wav, folder, bitRate);
            const auto result = co_await std::move(publish);
            recovered << result.url;
        } catch (const std::exception &error) {
            // It stays in the work folder for the next start.
            logIgnoredFailure(lcCapture(), error);
        }
        if (!self)
            co_return recovered;
    }
    co_return recovered;
}
