#include "store/RecordingLibraryStore.h"

#include "analysis/AudioAnalyzer.h"
#include "library/AppError.h"
#include "library/FolderAccess.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/UniqueFileNamer.h"
#include "media/AudioTrimmer.h"
#include "media/MP3EncoderService.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>

#include <cmath>

namespace {
constexpr auto formatKey = "Vespertone.RecordingFormat";
constexpr auto bitRateKey = "Vespertone.AACBitRate";

QString fileName(const QString &url) { return QFileInfo(url).fileName(); }

/// Renames within the folder; never replaces an existing file.
void moveAudioFile(const QString &from, const QString &to)
{
    if (!QFile::rename(from, to))
        throw AppError(QStringLiteral("“%1” couldn’t be renamed to “%2”.").arg(fileName(from), fileName(to)));
}

/// A trailing tempo suffix such as "_bpm_120", "_BPM_120.5", "_bpm_120_2" or, from the
/// unique-name rule, "_bpm_120 2".
const QRegularExpression &tempoSuffixPattern()
{
    static const QRegularExpression pattern(QStringLiteral("_bpm_[0-9]+(?:[._ -][0-9]+)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

/// True when \a base is \a tempoBase itself or the name the unique-name rule gave it.
bool carriesTempoName(const QString &base, const QString &tempoBase)
{
    if (base == tempoBase)
        return true;
    static const QRegularExpression counter(QStringLiteral("^ [0-9]+$"));
    return base.startsWith(tempoBase) && counter.match(base.mid(tempoBase.size())).hasMatch();
}
} // namespace

RecordingLibraryStore::RecordingLibraryStore(StoreEnvironment environment, QObject *parent)
    : QObject(parent), m_env(std::move(environment))
{
    Q_ASSERT(m_env.settings && m_env.clock && m_env.trash && m_env.dialogs);
    m_analyzer = new AudioAnalyzer(this);
    m_mp3Encoder = new MP3EncoderService(m_env.encodersFolder, this);
    m_trimmer = new AudioTrimmer(this);
    m_statusDismissTimer = m_env.clock->createTimer(this);
    connect(m_statusDismissTimer, &Timer::timeout, this, &RecordingLibraryStore::dismissStatusIfUnchanged);

    m_folderURL = m_env.folderOverride ? QDir::cleanPath(QDir(*m_env.folderOverride).absolutePath())
                                       : FolderAccess::resolveSavedFolder(*m_env.settings);
    const auto &settings = *m_env.settings;
    m_recordingFormat = RecordingOutputFormats::fromRawValue(settings.value(QLatin1String(formatKey)).toString())
                            .value_or(RecordingOutputFormat::aacM4A);
    m_aacBitRate = AudioBitRates::fromRawValue(settings.value(QLatin1String(bitRateKey)).toLongLong())
                       .value_or(AudioBitRate::kbps192);

    // Started from the event loop, so observers connected after construction see it finish.
    QMetaObject::invokeMethod(this, &RecordingLibraryStore::ensureFolderAndRefresh, Qt::QueuedConnection);
}

RecordingLibraryStore::~RecordingLibraryStore() = default;

void RecordingLibraryStore::setSelectedIDs(const QSet<QString> &ids)
{
    if (ids == m_selectedIDs)
        return;
    m_selectedIDs = ids;
    emit selectedIDsChanged();
}

void RecordingLibraryStore::setStatusMessage(const std::optional<QString> &message)
{
    m_statusMessage = message;
    emit statusMessageChanged();
    scheduleStatusAutoDismiss(message);
}

void RecordingLibraryStore::scheduleStatusAutoDismiss(const std::optional<QString> &message)
{
    m_statusDismissTimer->stop();
    if (!message || message->isEmpty())
        return;
    m_statusDismissTarget = *message;
    m_statusDismissTimer->start(statusDismissDelay, false);
}

void RecordingLibraryStore::dismissStatusIfUnchanged()
{
    if (m_statusMessage == m_statusDismissTarget && !isStatusBusy()) {
        m_statusMessage.reset();
        emit statusMessageChanged();
    }
}

void RecordingLibraryStore::setRecordingFormat(RecordingOutputFormat format)
{
    m_recordingFormat = format;
    m_env.settings->setValue(QLatin1String(formatKey), RecordingOutputFormats::rawValue(format));
    emit recordingFormatChanged();
}

void RecordingLibraryStore::setAacBitRate(AudioBitRate rate)
{
    m_aacBitRate = rate;
    m_env.settings->setValue(QLatin1String(bitRateKey), AudioBitRates::rawValue(rate));
    emit aacBitRateChanged();
}

std::optional<RecordingItem> RecordingLibraryStore::selectedItem() const
{
    if (m_selectedIDs.size() != 1)
        return std::nullopt;
    const auto &id = *m_selectedIDs.begin();
    for (const auto &item : m_recordings) {
        if (item.id() == id)
            return item;
    }
    return std::nullopt;
}

QVector<RecordingItem> RecordingLibraryStore::selectedItems() const
{
    QVector<RecordingItem> items;
    for (const auto &item : m_recordings) {
        if (m_selectedIDs.contains(item.id()))
            items.push_back(item);
    }
    return items;
}

bool RecordingLibraryStore::isStatusBusy() const
{
    using Kind = CaptureState::Kind;
    const auto kind = m_captureState.kind();
    return kind == Kind::recording || kind == Kind::preparing || kind == Kind::finishing || m_isAnalyzing
        || m_isTrimming || m_isImportingURL;
}

QCoro::Task<> RecordingLibraryStore::ensureFolderAndRefresh()
{
    if (!QDir().mkpath(m_folderURL))
        setStatusMessage(QStringLiteral("The folder “%1” couldn’t be created.").arg(QDir(m_folderURL).dirName()));
    co_await refresh();
}

QCoro::Task<> RecordingLibraryStore::refresh(std::optional<QString> url)
{
    QPointer self(this);
    // GCC 12 destroys a capturing lambda written inside co_await twice: keep it outside.
    auto scan = BackgroundTask::run([folder = m_folderURL] { return RecordingScanner::scan(folder); });
    auto items = co_await scan;
    if (!self)
        co_return;
    m_recordings = std::move(items);
    emit recordingsChanged();

    QSet<QString> selection;
    if (url) {
        selection = {*url};
    } else {
        for (const auto &item : m_recordings) {
            if (m_selectedIDs.contains(item.id()))
                selection.insert(item.id());
        }
        if (selection.isEmpty() && !m_recordings.isEmpty())
            selection = {m_recordings.front().id()};
    }
    setSelectedIDs(selection);
    emit refreshFinished();
}

void RecordingLibraryStore::chooseFolder()
{
    if (auto folder = m_env.dialogs->chooseFolder(QStringLiteral("Choose Save Folder"), m_folderURL))
        setFolder(*folder);
}

void RecordingLibraryStore::setFolder(const QString &folder)
{
    const auto clean = QDir::cleanPath(QDir(folder).absolutePath());
    m_env.settings->setValue(QLatin1String(FolderAccess::pathKey), clean);
    setFolderURL(clean);
    ensureFolderAndRefresh();
}

void RecordingLibraryStore::setFolderURL(const QString &folder)
{
    m_folderURL = folder;
    emit folderURLChanged();
}

QDateTime RecordingLibraryStore::fileCreationDate(const QString &url)
{
    return RecordingScanner::fileCreationDate(url);
}

void RecordingLibraryStore::setIsAnalyzing(bool analyzing)
{
    if (analyzing == m_isAnalyzing)
        return;
    m_isAnalyzing = analyzing;
    emit isAnalyzingChanged();
}

void RecordingLibraryStore::setIsTrimming(bool trimming)
{
    if (trimming == m_isTrimming)
        return;
    m_isTrimming = trimming;
    emit isTrimmingChanged();
}

void RecordingLibraryStore::setLastSavedTrimUndo(const std::optional<SavedTrimUndo> &undo)
{
    if (undo == m_lastSavedTrimUndo)
        return;
    m_lastSavedTrimUndo = undo;
    emit lastSavedTrimUndoChanged();
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::analyze(QString url)
{
    QPointer self(this);
    setIsAnalyzing(true);
    setStatusMessage(QStringLiteral("Analyzing ") + fileName(url));
    QString target = url;
    try {
        const auto result = co_await m_analyzer->analyze(url);
        if (!self)
            co_return std::nullopt;
        if (!QFileInfo::exists(url))
            throw AppError(QStringLiteral("“%1” no longer exists.").arg(fileName(url)));
        auto metadata = MetadataStore::load(url).value_or(RecordingMetadata::fresh(fileCreationDate(url)));
        metadata.duration = result.duration;
        metadata.bpm = result.bpm;
        metadata.musicalKey = result.musicalKey;
        metadata.analyzedAt = m_env.clock->now();
        if (result.bpm)
            target = renameForBPMIfNeeded(url, *result.bpm);
        MetadataStore::save(metadata, target);
    } catch (const std::exception &error) {
        if (self) {
            setStatusMessage(errorText(error));
            setIsAnalyzing(false);
        }
        co_return std::nullopt;
    }
    setStatusMessage(QStringLiteral("Analysis saved"));
    co_await refresh(target);
    if (self)
        setIsAnalyzing(false);
    co_return target;
}

QString RecordingLibraryStore::renameForBPMIfNeeded(const QString &url, double bpm)
{
    const double rounded = std::round(bpm);
    if (!std::isfinite(rounded) || rounded < 1)
        return url;
    const auto base = UniqueFileNamer::baseName(url);
    auto stripped = base;
    if (tempoSuffixPattern().isValid())
        stripped.remove(tempoSuffixPattern());
    const auto newBase = stripped + QStringLiteral("_bpm_") + QString::number(rounded, 'f', 0);
    if (carriesTempoName(base, newBase))
        return url;
    const auto target = uniqueRenameURL(url, newBase);
    if (target == url)
        return url;
    moveAudioFile(url, target);
    try {
        MetadataStore::moveMetadata(url, target);
    } catch (const std::exception &) {
    }
    return target;
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::trim(RecordingItem item, double start, double end)
{
    QPointer self(this);
    setIsTrimming(true);
    setStatusMessage(QStringLiteral("Saving trim"));
    setLastSavedTrimUndo(std::nullopt);
    QString trimmed;
    try {
        trimmed = co_await m_trimmer->trim(item.url, start, end);
        if (!self)
            co_return std::nullopt;
        auto metadata = RecordingMetadata::fresh(m_env.clock->now());
        metadata.duration = end - start;
        metadata.trimStart = 0.0;
        metadata.trimEnd = end - start;
        metadata.source = item.metadata.source;
        try {
            MetadataStore::save(metadata, trimmed);
        } catch (const std::exception &) {
            // Without its sidecar the trim would be listed as an unrelated recording.
            QFile::remove(trimmed);
            throw;
        }
    } catch (const std::exception &error) {
        if (self) {
            setStatusMessage(errorText(error));
            setIsTrimming(false);
        }
        co_return std::nullopt;
    }
    setStatusMessage(QStringLiteral("Trim saved"));
    co_await refresh(trimmed);
    if (!self)
        co_return std::nullopt;
    const auto final = (co_await analyze(trimmed)).value_or(trimmed);
    if (!self)
        co_return std::nullopt;
    setLastSavedTrimUndo(SavedTrimUndo{item.url, final});
    setStatusMessage(QStringLiteral("Trim saved. Undo available."));
    setIsTrimming(false);
    co_return final;
}

bool RecordingLibraryStore::canUndoSavedTrim(const RecordingItem &item) const
{
    return m_lastSavedTrimUndo && m_lastSavedTrimUndo->trimmedURL == item.url && QFileInfo::exists(item.url);
}

QCoro::Task<> RecordingLibraryStore::undoSavedTrim(RecordingItem item)
{
    if (!canUndoSavedTrim(item)) {
        setStatusMessage(QStringLiteral("No saved trim to undo."));
        co_return;
    }
    const auto undo = *m_lastSavedTrimUndo;
    if (const auto error = trashRecording(undo.trimmedURL)) {
        setStatusMessage(*error);
        co_return;
    }
    setLastSavedTrimUndo(std::nullopt);
    setStatusMessage(QStringLiteral("Trim undone"));
    if (QFileInfo::exists(undo.originalURL))
        co_await refresh(undo.originalURL);
    else
        co_await refresh();
}

void RecordingLibraryStore::clearSavedTrimUndoIfNeeded(const QStringList &urls)
{
    if (m_lastSavedTrimUndo
        && (urls.contains(m_lastSavedTrimUndo->originalURL) || urls.contains(m_lastSavedTrimUndo->trimmedURL)))
        setLastSavedTrimUndo(std::nullopt);
}

void RecordingLibraryStore::updateSavedTrimUndoAfterRename(const QString &from, const QString &to)
{
    if (!m_lastSavedTrimUndo)
        return;
    auto undo = *m_lastSavedTrimUndo;
    if (undo.originalURL == from)
        undo.originalURL = to;
    if (undo.trimmedURL == from)
        undo.trimmedURL = to;
    setLastSavedTrimUndo(undo);
}

QCoro::Task<> RecordingLibraryStore::promptRename(RecordingItem item)
{
    const auto answer = m_env.dialogs->askText(QStringLiteral("Rename Recording"),
                                               QStringLiteral("Enter a new filename. The audio extension will be preserved."),
                                               UniqueFileNamer::baseName(item.url));
    if (answer)
        co_await rename(std::move(item), answer->trimmed());
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::rename(RecordingItem item, QString name)
{
    // A leading dot would hide the file from the library.
    auto clean = sanitizeFilename(name);
    while (clean.startsWith(u'.'))
        clean = clean.mid(1).trimmed();
    if (clean.isEmpty()) {
        setStatusMessage(QStringLiteral("Enter a name before renaming."));
        co_return std::nullopt;
    }
    const auto target = uniqueRenameURL(item.url, clean);
    if (target == item.url)
        co_return target;
    try {
        moveAudioFile(item.url, target);
    } catch (const std::exception &error) {
        setStatusMessage(errorText(error));
        co_return std::nullopt;
    }
    try {
        MetadataStore::moveMetadata(item.url, target);
    } catch (const std::exception &) {
    }
    updateSavedTrimUndoAfterRename(item.url, target);
    setStatusMessage(QStringLiteral("Renamed to ") + fileName(target));
    co_await refresh(target);
    co_return target;
}

std::optional<QString> RecordingLibraryStore::trashRecording(const QString &url)
{
    const auto metadata = MetadataStore::load(url);
    MetadataStore::trashMetadata(url, *m_env.trash);
    QString reason;
    if (m_env.trash->moveToTrash(url, &reason))
        return std::nullopt;
    // The recording stays in the library, so it keeps its tempo, key and source.
    if (metadata && !QFileInfo::exists(MetadataStore::metadataURL(url))) {
        try {
            MetadataStore::save(*metadata, url);
        } catch (const std::exception &) {
        }
    }
    const auto name = fileName(url);
    return reason.isEmpty() ? QStringLiteral("“%1” couldn’t be moved to the Trash.").arg(name)
                            : QStringLiteral("“%1” couldn’t be moved to the Trash: %2").arg(name, reason);
}

QCoro::Task<bool> RecordingLibraryStore::deleteRecordings(QVector<RecordingItem> items)
{
    if (items.isEmpty())
        co_return true;
    QStringList trashed;
    for (const auto &item : items) {
        if (const auto error = trashRecording(item.url)) {
            setStatusMessage(*error);
            // What already went must not stay listed or undoable.
            clearSavedTrimUndoIfNeeded(trashed);
            if (!trashed.isEmpty())
                co_await refresh();
            co_return false;
        }
        trashed << item.url;
    }
    clearSavedTrimUndoIfNeeded(trashed);
    setStatusMessage(items.size() == 1
                         ? QStringLiteral("Moved %1 to Trash").arg(fileName(items.front().url))
                         : QStringLiteral("Moved %1 recordings to Trash").arg(items.size()));
    co_await refresh();
    co_return true;
}

QString RecordingLibraryStore::sanitizeFilename(const QString &name)
{
    return UniqueFileNamer::sanitizedBaseName(name);
}

QString RecordingLibraryStore::uniqueRenameURL(const QString &url, const QString &proposedName)
{
    const QFileInfo info(url);
    const auto folder = info.absolutePath();
    const auto extension = UniqueFileNamer::extension(url);
    const auto candidate = folder + u'/' + proposedName + (extension.isEmpty() ? QString() : u'.' + extension);
    if (candidate == url)
        return candidate;
    return UniqueFileNamer::uniqueURL(folder, proposedName, extension);
}
