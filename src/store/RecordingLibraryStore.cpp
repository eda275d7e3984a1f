#include "store/RecordingLibraryStore.h"

#include "analysis/AudioAnalyzer.h"
#include "base/AppError.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "import/SourceContextService.h"
#include "library/FolderAccess.h"
#include "library/Formatters.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/UniqueFileNamer.h"
#include "media/AudioTrimmer.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"
#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>

#include <cmath>

using namespace std::chrono_literals;

namespace {
constexpr auto formatKey = "Vespertone.RecordingFormat";
constexpr auto bitRateKey = "Vespertone.AACBitRate";

QString fileName(const QString &url)
{
    return QFileInfo(url).fileName();
}

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

/// Stands in when no sound server was given: every take fails with a clear message.
class UnreachableSoundServer final : public SoundServer {
public:
    std::unique_ptr<CaptureSource> openCapture(CaptureDevice, int, int, CaptureSource::Handlers) override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
    std::vector<PlaybackStream> playbackStreams() override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
};

bool isBusy(const CaptureState &state)
{
    using Kind = CaptureState::Kind;
    return state.is(Kind::recording) || state.is(Kind::preparing) || state.is(Kind::finishing);
}

/// Writes \a source into the sidecar of \a url, keeping what the sidecar already holds.
void saveSource(const QString &url, const RecordingSourceContext &source)
{
    auto metadata =
        MetadataStore::load(url).value_or(RecordingMetadata::fresh(RecordingLibraryStore::fileCreationDate(url)));
    metadata.source = source;
    MetadataStore::save(metadata, url);
}

/// The lock a recording process holds on its work file while it writes and encodes it.
std::unique_ptr<QLockFile> takeLock(const QString &url)
{
    auto lock = std::make_unique<QLockFile>(url + QStringLiteral(".lock"));
    // Only a dead owner makes a lock stale; a long take must keep its lock.
    lock->setStaleLockTime(0);
    return lock;
}
} // namespace

RecordingLibraryStore::RecordingLibraryStore(StoreEnvironment environment, QObject *parent)
    : QObject(parent), m_env(std::move(environment))
{
    Q_ASSERT(m_env.settings && m_env.clock && m_env.trash && m_env.dialogs);
    m_analyzer = new AudioAnalyzer(this);
    m_mp3Encoder = new MP3EncoderService(m_env.encodersFolder, this);
    m_trimmer = new AudioTrimmer(this);
    if (!m_env.soundServer)
        m_fallbackSoundServer = std::make_unique<UnreachableSoundServer>();
    m_captureService =
        new AudioCaptureService(m_env.soundServer ? *m_env.soundServer : *m_fallbackSoundServer, *m_env.clock, this);
    m_statusDismissTimer = m_env.clock->createTimer(this);
    connect(m_statusDismissTimer, &Timer::timeout, this, &RecordingLibraryStore::dismissStatusIfUnchanged);

    m_folderURL = m_env.folderOverride ? QDir::cleanPath(QDir(*m_env.folderOverride).absolutePath())
                                       : FolderAccess::resolveSavedFolder(*m_env.settings);
    const auto &settings = *m_env.settings;
    m_recordingFormat = RecordingOutputFormats::fromRawValue(settings.value(QLatin1String(formatKey)).toString())
                            .value_or(RecordingOutputFormat::aacM4A);
    m_aacBitRate = AudioBitRates::fromRawValue(settings.value(QLatin1String(bitRateKey)).toLongLong())
                       .value_or(AudioBitRate::kbps192);

    connect(m_captureService, &AudioCaptureService::stateChanged, this, &RecordingLibraryStore::mirrorCaptureState);
    connect(m_captureService, &AudioCaptureService::activeURLChanged, this,
            [this] { lockTakeFile(m_captureService->activeURL()); });
    connect(m_captureService, &AudioCaptureService::recordingInterrupted, this,
            [this](const QString &url, const QString &message) { keepInterruptedTake(url, message); });
    m_elapsedTimer = m_env.clock->createTimer(this);
    connect(m_elapsedTimer, &Timer::timeout, this, &RecordingLibraryStore::tickElapsedTimer);
    if (m_env.foregroundMonitor)
        connect(m_env.foregroundMonitor, &ForegroundApplicationMonitor::applicationActivated, this,
                &RecordingLibraryStore::noteForegroundApplication);

    // Started from the event loop, so observers connected after construction see it finish.
    QMetaObject::invokeMethod(this, &RecordingLibraryStore::startUp, Qt::QueuedConnection);
}

RecordingLibraryStore::~RecordingLibraryStore()
{
    // The service finishes an open take on its way out, while the sound server still exists.
    delete m_captureService;
}

QCoro::Task<> RecordingLibraryStore::startUp()
{
    QPointer self(this);
    co_await ensureFolderAndRefresh();
    if (self)
        co_await recoverLeftoverTakes();
}

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
    const auto answer =
        m_env.dialogs->askText(QStringLiteral("Rename Recording"),
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
    setStatusMessage(items.size() == 1 ? QStringLiteral("Moved %1 to Trash").arg(fileName(items.front().url))
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

// Recording workflow.

QString RecordingLibraryStore::formatLabel(RecordingOutputFormat format)
{
    switch (format) {
    case RecordingOutputFormat::aacM4A: return QStringLiteral("M4A");
    case RecordingOutputFormat::mp3LAME: return QStringLiteral("MP3");
    case RecordingOutputFormat::wavPCM: return QStringLiteral("WAV");
    case RecordingOutputFormat::aiffPCM: break;
    }
    return QStringLiteral("AIFF");
}

QString RecordingLibraryStore::inputLabel(RecordingInputSource source)
{
    return source == RecordingInputSource::macAudio ? QStringLiteral("Mac") : QStringLiteral("Mic");
}

bool RecordingLibraryStore::isRecording(RecordingInputSource source) const
{
    return m_captureState.is(CaptureState::Kind::recording) && m_activeRecordingInputSource == source;
}

bool RecordingLibraryStore::canToggleRecording(RecordingInputSource source) const
{
    using Kind = CaptureState::Kind;
    if (m_captureState.is(Kind::preparing) || m_captureState.is(Kind::finishing))
        return false;
    if (m_captureState.is(Kind::recording))
        return m_activeRecordingInputSource == source;
    return true;
}

void RecordingLibraryStore::toggleRecording(RecordingInputSource source)
{
    using Kind = CaptureState::Kind;
    if (m_captureState.is(Kind::recording)) {
        if (m_activeRecordingInputSource == source)
            stopRecording();
        return;
    }
    if (m_captureState.is(Kind::preparing) || m_captureState.is(Kind::finishing))
        return;
    startRecording(source);
}

QCoro::Task<> RecordingLibraryStore::startRecording(RecordingInputSource source,
                                                    std::optional<RecordingOutputFormat> format,
                                                    std::optional<AudioBitRate> bitRate)
{
    // A refused start must not clear the fields of the take that is running.
    if (isBusy(m_captureService->state())) {
        setStatusMessage(AudioCaptureError(AudioCaptureError::Code::alreadyRecording).text());
        co_return;
    }
    setStatusMessage(QStringLiteral("Preparing recording"));
    const auto takeFormat = format.value_or(m_recordingFormat);
    const auto takeBitRate = bitRate.value_or(m_aacBitRate);
    if (takeFormat == RecordingOutputFormat::mp3LAME && !m_mp3Encoder->isAvailable()) {
        setStatusMessage(MP3EncoderError(MP3EncoderError::Code::missingEncoder).text());
        co_return;
    }
    prepareActiveSourceContext(source);
    const RecordingEncodingSettings settings{takeFormat, takeBitRate, 48000, 2};
    m_activeRecordingSettings = settings;
    setActiveRecordingInputSource(source);

    QPointer self(this);
    try {
        auto start = m_captureService->startRecording(m_folderURL, settings, source);
        co_await std::move(start);
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        clearActiveRecording();
        releaseTakeLock();
        const auto *captureError = dynamic_cast<const AudioCaptureError *>(&error);
        using Code = AudioCaptureError::Code;
        if (captureError && captureError->code() == Code::missingScreenCapturePermission)
            setStatusMessage(QStringLiteral("Enable Screen & System Audio Recording, then quit and reopen."));
        else if (captureError && captureError->code() == Code::missingMicrophonePermission)
            setStatusMessage(QStringLiteral("Enable Microphone permission, then try recording again."));
        else
            setStatusMessage(errorText(error));
        co_return;
    }
    if (!self)
        co_return;
    m_takeRunning = true;
    setStatusMessage(QStringLiteral("Recording ") + inputLabel(source) + u' ' + formatLabel(takeFormat));
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::stopRecording()
{
    // A refused stop must not clear the fields of a take that is starting.
    if (!m_captureService->state().is(CaptureState::Kind::recording)) {
        setStatusMessage(AudioCaptureError(AudioCaptureError::Code::noActiveRecording).text());
        co_return std::nullopt;
    }
    QPointer self(this);
    setStatusMessage(QStringLiteral("Saving recording"));
    m_takeRunning = false;
    QString captureURL;
    try {
        auto stop = m_captureService->stopRecording();
        captureURL = co_await std::move(stop);
    } catch (const std::exception &error) {
        if (self) {
            clearActiveRecording();
            releaseTakeLock();
            setStatusMessage(errorText(error));
        }
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    // From here a new take may start: this one keeps its settings, source and lock to itself.
    const auto settings =
        m_activeRecordingSettings.value_or(RecordingEncodingSettings{m_recordingFormat, m_aacBitRate, 48000, 2});
    const auto source = m_activeRecordingSource;
    const auto lock = std::move(m_takeLock);
    clearActiveRecording();

    std::pair<QString, QString> saved;
    try {
        auto finalize = finalizedRecordingURL(captureURL, settings);
        saved = co_await std::move(finalize);
        if (source)
            saveSource(saved.first, *source);
    } catch (const std::exception &error) {
        if (self)
            setStatusMessage(errorText(error));
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    setStatusMessage(saved.second);
    co_await refresh(saved.first);
    if (!self)
        co_return std::nullopt;
    const auto analyzed = co_await analyze(saved.first);
    co_return analyzed.value_or(saved.first);
}

QCoro::Task<std::pair<QString, QString>>
RecordingLibraryStore::finalizedRecordingURL(QString captureURL, RecordingEncodingSettings settings)
{
    if (settings.format != RecordingOutputFormat::mp3LAME)
        co_return std::pair{captureURL, QStringLiteral("Saved ") + fileName(captureURL)};
    setStatusMessage(QStringLiteral("Encoding MP3"));
    const auto folder = m_folderURL;
    const auto base = UniqueFileNamer::baseName(captureURL);
    const auto destination = UniqueFileNamer::uniqueURL(folder, base, QStringLiteral("mp3"));
    bool encoded = false;
    try {
        auto encode = m_mp3Encoder->encode(captureURL, destination, settings.aacBitRate);
        co_await std::move(encode);
        encoded = true;
    } catch (const std::exception &) {
        // The audio is kept as WAV below.
    }
    if (encoded) {
        QFile::remove(captureURL);
        co_return std::pair{destination, QStringLiteral("Saved ") + fileName(destination)};
    }
    const auto fallback = UniqueFileNamer::uniqueURL(folder, base, QStringLiteral("wav"));
    QFile::remove(destination);
    if (!QFile::rename(captureURL, fallback))
        throw AppError(QStringLiteral("“%1” couldn’t be moved to “%2”.").arg(fileName(captureURL), fileName(fallback)));
    co_return std::pair{fallback, QStringLiteral("MP3 encoding failed; saved ") + fileName(fallback)};
}

void RecordingLibraryStore::saveActiveSourceIfNeeded(const QString &url)
{
    if (m_activeRecordingSource)
        saveSource(url, *m_activeRecordingSource);
}

void RecordingLibraryStore::prepareActiveSourceContext(RecordingInputSource source)
{
    if (source == RecordingInputSource::microphone)
        setActiveRecordingSource(RecordingSourceContext::microphone(m_env.clock->now()));
    else if (!m_activeRecordingSource)
        capturePendingSourceContext();
}

void RecordingLibraryStore::capturePendingSourceContext()
{
    auto &server = m_env.soundServer ? *m_env.soundServer : *m_fallbackSoundServer;
    const SourceContextService service(server, *m_env.clock);
    setActiveRecordingSource(
        service.bestCandidate(m_latestForegroundSourceApp, QString::fromLatin1(ownBundleIdentifier)));
}

void RecordingLibraryStore::setActiveRecordingSource(const std::optional<RecordingSourceContext> &source)
{
    m_activeRecordingSource = source;
}

void RecordingLibraryStore::setActiveRecordingInputSource(const std::optional<RecordingInputSource> &source)
{
    if (source == m_activeRecordingInputSource)
        return;
    m_activeRecordingInputSource = source;
    emit activeRecordingInputSourceChanged();
}

void RecordingLibraryStore::clearActiveRecording()
{
    m_activeRecordingSettings.reset();
    setActiveRecordingInputSource(std::nullopt);
    m_activeRecordingSource.reset();
}

void RecordingLibraryStore::requestScreenCapturePermission()
{
    // The desktop grants every program its sound; nothing needs asking.
    constexpr bool granted = true;
    setStatusMessage(granted ? QStringLiteral("Permission enabled. Quit and reopen before recording.")
                             : QStringLiteral("Grant access in System Settings, then quit and reopen."));
}

void RecordingLibraryStore::requestMicrophonePermission()
{
    constexpr bool granted = true;
    setStatusMessage(granted ? QStringLiteral("Microphone permission enabled.")
                             : QStringLiteral("Grant Microphone access in System Settings."));
}

void RecordingLibraryStore::noteForegroundApplication(const RunningApplication &application)
{
    if (application.processIdentifier == QCoreApplication::applicationPid())
        return;
    if (application.bundleIdentifier == QString::fromLatin1(ownBundleIdentifier))
        return;
    m_latestForegroundSourceApp = application;
}

void RecordingLibraryStore::mirrorCaptureState()
{
    const auto state = m_captureService->state();
    const bool interrupted = m_takeRunning && state.is(CaptureState::Kind::failed);
    m_captureState = state;
    emit captureStateChanged();
    updateElapsedTimer(state);
    if (!interrupted)
        return;
    m_takeRunning = false;
    m_interrupted = std::pair{
        m_activeRecordingSettings.value_or(RecordingEncodingSettings{m_recordingFormat, m_aacBitRate, 48000, 2}),
        m_activeRecordingSource};
    clearActiveRecording();
    setStatusMessage(state.message());
}

void RecordingLibraryStore::updateElapsedTimer(const CaptureState &state)
{
    m_elapsedTimer->stop();
    QString text = QStringLiteral("00:00");
    if (state.is(CaptureState::Kind::recording)) {
        text = TimeText::clock(double(state.startedAt().msecsTo(m_env.clock->now())) / 1000.0);
        m_elapsedTimer->start(500ms, true);
    }
    if (text != m_elapsedText) {
        m_elapsedText = text;
        emit elapsedTextChanged();
    }
}

void RecordingLibraryStore::tickElapsedTimer()
{
    if (!m_captureState.is(CaptureState::Kind::recording))
        return;
    const auto text = TimeText::clock(double(m_captureState.startedAt().msecsTo(m_env.clock->now())) / 1000.0);
    if (text != m_elapsedText) {
        m_elapsedText = text;
        emit elapsedTextChanged();
    }
}

void RecordingLibraryStore::lockTakeFile(const std::optional<QString> &url)
{
    // Only MP3 takes leave their file in the work folder until it is encoded.
    if (!url || QFileInfo(*url).absolutePath() != UniqueFileNamer::workFolder(m_folderURL))
        return;
    auto lock = takeLock(*url);
    if (lock->tryLock(0))
        m_takeLock = std::move(lock);
}

void RecordingLibraryStore::releaseTakeLock()
{
    m_takeLock.reset();
}

QCoro::Task<> RecordingLibraryStore::keepInterruptedTake(QString url, QString failure)
{
    QPointer self(this);
    const auto lock = std::move(m_takeLock);
    const auto taken = std::exchange(m_interrupted, std::nullopt);
    auto settings = taken ? taken->first : RecordingEncodingSettings{m_recordingFormat, m_aacBitRate, 48000, 2};
    // The file's place tells how it was captured: the work folder holds MP3 takes.
    const bool inWorkFolder = QFileInfo(url).absolutePath() == UniqueFileNamer::workFolder(m_folderURL);
    if (inWorkFolder)
        settings.format = RecordingOutputFormat::mp3LAME;
    else if (settings.format == RecordingOutputFormat::mp3LAME)
        settings.format = RecordingOutputFormat::wavPCM;

    QString kept = url;
    try {
        auto finalize = finalizedRecordingURL(url, settings);
        kept = (co_await std::move(finalize)).first;
        if (taken && taken->second)
            saveSource(kept, *taken->second);
    } catch (const std::exception &) {
        // A take left in the work folder is recovered at the next start.
    }
    if (!self)
        co_return;
    setStatusMessage(failure.isEmpty() ? AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text()
                                       : failure);
    co_await refresh(kept);
    if (self)
        emit interruptedTakeSaved(kept);
}

QCoro::Task<QStringList> RecordingLibraryStore::recoverLeftoverTakes()
{
    QPointer self(this);
    const QDir work(UniqueFileNamer::workFolder(m_folderURL));
    const auto names = work.entryList({QStringLiteral("Vespertone *.wav")}, QDir::Files, QDir::Name);
    QStringList recovered;
    for (const auto &name : names) {
        auto recover = recoverTake(work.filePath(name));
        const auto url = co_await std::move(recover);
        if (!self)
            co_return recovered;
        if (url) {
            recovered << *url;
            setStatusMessage(QStringLiteral("Recovered ") + fileName(*url));
        }
    }
    if (!recovered.isEmpty())
        co_await refresh(recovered.last());
    if (self)
        emit recoveryFinished();
    co_return recovered;
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::recoverTake(QString wav)
{
    // A take that a live process is still writing or encoding is not ours to touch.
    const auto lock = takeLock(wav);
    if (!lock->tryLock(0) || !QFileInfo::exists(wav))
        co_return std::nullopt;
    const auto folder = m_folderURL;
    const auto base = UniqueFileNamer::baseName(wav);
    if (m_mp3Encoder->isAvailable()) {
        const auto destination = UniqueFileNamer::uniqueURL(folder, base, QStringLiteral("mp3"));
        bool encoded = false;
        try {
            auto encode = m_mp3Encoder->encode(wav, destination, m_aacBitRate);
            co_await std::move(encode);
            encoded = true;
        } catch (const std::exception &) {
            QFile::remove(destination);
        }
        if (encoded) {
            QFile::remove(wav);
            co_return destination;
        }
    }
    const auto fallback = UniqueFileNamer::uniqueURL(folder, base, QStringLiteral("wav"));
    if (!QFile::rename(wav, fallback))
        co_return std::nullopt;
    co_return fallback;
}
