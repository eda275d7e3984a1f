#include "store/TakeFinalizer.h"

#include "library/LibraryFileMoves.h"
#include "library/UniqueFileNamer.h"
#include "media/MP3EncoderService.h"
#include "store/TakeLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

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

TakeFinalizer::TakeFinalizer(QString encodersFolder, QObject *parent)
    : QObject(parent), m_encoder(new MP3EncoderService(std::move(encodersFolder), this))
{}

bool TakeFinalizer::canEncodeMP3() const
{
    return m_encoder->isAvailable();
}

QCoro::Task<TakeFinalizer::Result> TakeFinalizer::finalize(QString captureURL, QString folder,
                                                           RecordingEncodingSettings settings)
{
    if (settings.format != RecordingOutputFormat::mp3LAME)
        co_return Result{captureURL, QStringLiteral("Saved ") + fileName(captureURL)};
    auto publish = publishPCMTake(captureURL, folder, settings.aacBitRate);
    co_return co_await std::move(publish);
}

QCoro::Task<TakeFinalizer::Result> TakeFinalizer::publishPCMTake(QString wav, QString folder, AudioBitRate bitRate)
{
    const auto base = UniqueFileNamer::baseName(wav);
    const auto partial = partialURL(wav);
    // Encode beside the take, publish with a link, then remove the work files: a process
    // stopped at any point leaves either the WAV alone or a library file it can recognise.
    if (m_encoder->isAvailable()) {
        bool encoded = false;
        try {
            auto encode = m_encoder->encode(wav, partial, bitRate);
            co_await std::move(encode);
            encoded = true;
        } catch (const std::exception &) {
            // The audio is kept as WAV below.
        }
        if (encoded) {
            const auto mp3 = LibraryFileMoves::publish(partial, folder, base, QStringLiteral("mp3"), true);
            QFile::remove(wav);
            QFile::remove(partial);
            co_return Result{mp3, QStringLiteral("Saved ") + fileName(mp3)};
        }
        QFile::remove(partial);
    }
    const auto kept = LibraryFileMoves::publish(wav, folder, base, QStringLiteral("wav"), true);
    QFile::remove(wav);
    co_return Result{kept, QStringLiteral("MP3 encoding failed; saved ") + fileName(kept)};
}

QCoro::Task<QStringList> TakeFinalizer::recoverLeftoverTakes(QString folder, AudioBitRate bitRate)
{
    QPointer self(this);
    const QDir work(UniqueFileNamer::workFolder(folder));
    QStringList recovered;
    const auto names = work.entryList({QStringLiteral("Vespertone *.wav")}, QDir::Files, QDir::Name);
    for (const auto &name : names) {
        const auto wav = work.filePath(name);
        // A take that a live process is still writing or encoding is not ours to touch.
        const auto lock = TakeLock::acquire(wav);
        if (!lock || !QFileInfo::exists(wav))
            continue;
        if (wasPublished(wav, folder)) {
            QFile::remove(wav);
            QFile::remove(partialURL(wav));
            continue;
        }
        try {
            auto publish = publishPCMTake(wav, folder, bitRate);
            const auto result = co_await std::move(publish);
            recovered << result.url;
        } catch (const std::exception &) {
            // It stays in the work folder for the next start.
        }
        if (!self)
            co_return recovered;
    }
    co_return recovered;
}
