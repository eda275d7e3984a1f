#include "store/RecordingLibraryStore.h"

#include "analysis/WaveformService.h"
#include "base/AppError.h"
#include "base/IgnoreFailure.h"
#include "capture/CaptureTargets.h"
#include "capture/PlayingApplications.h"
#include "import/URLAudioImportService.h"
#include "library/LibrarySnapshot.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/WorkFile.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileOperations.h"
#include "platform/XdgUrlOpener.h"
#include "store/EditingCommands.h"
#include "store/ImportCommands.h"
#include "store/LibraryWatch.h"
#include "store/RecordingWorkflow.h"
#include "store/StatusLine.h"
#include "store/StoreSettings.h"
#include "store/TakeFinalizer.h"
#include "store/TrimUndo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

RecordingLibraryStore::RecordingLibraryStore(StoreEnvironment environment, QObject *parent)
    : QObject(parent), m_env(std::move(environment))
{
    Q_ASSERT(m_env.settings && m_env.clock && m_env.trash && m_env.dialogs);
    m_settings = std::make_unique<StoreSettings>(*m_env.settings, files());
    m_folderURL = m_settings->saveFolder(m_env.folderOverride);
    m_waveforms = std::make_unique<WaveformService>();
    m_status = std::make_unique<StatusLine>(*m_env.clock, [this] { return isStatusBusy(); });
    m_finalizer = std::make_unique<TakeFinalizer>(m_env.encodersFolder, files());
    StoreContext &context = *this;
    m_editing = std::make_unique<EditingCommands>(context, *m_settings, *m_env.trash, *m_env.dialogs);
    const SourceContextService::Sources sources{m_env.windows, m_env.mediaPlayers, m_env.browserSessions};
    m_workflow = std::make_unique<RecordingWorkflow>(RecordingWorkflow::Services{
        context, *m_settings, *m_finalizer, *m_editing, m_env.soundServer, m_env.foregroundMonitor, sources});
    if (!m_env.urlOpener)
        m_ownUrlOpener = std::make_unique<XdgUrlOpener>();
    m_import = std::make_unique<ImportCommands>(ImportCommands::Services{
        context, *m_settings, *m_env.dialogs, *m_editing, m_env.urlOpener ? *m_env.urlOpener : *m_ownUrlOpener,
        m_workflow->soundServer(), sources, m_env.encodersFolder});

    connect(m_status.get(), &StatusLine::changed, this, &RecordingLibraryStore::statusMessageChanged);
    auto *editing = m_editing.get();
    connect(editing, &EditingCommands::isAnalyzingChanged, this, &RecordingLibraryStore::isAnalyzingChanged);
    connect(editing, &EditingCommands::recordingMoved, this, &RecordingLibraryStore::followMove);
    connect(editing, &EditingCommands::isTrimmingChanged, this, &RecordingLibraryStore::isTrimmingChanged);
    connect(&editing->trimUndo(), &TrimUndo::changed, this, &RecordingLibraryStore::lastSavedTrimUndoChanged);
    auto *workflow = m_workflow.get();
    connect(workflow, &RecordingWorkflow::captureStateChanged, this, &RecordingLibraryStore::captureStateChanged);
    connect(workflow, &RecordingWorkflow::elapsedTextChanged, this, &RecordingLibraryStore::elapsedTextChanged);
    connect(workflow, &RecordingWorkflow::livePeaksChanged, this, &RecordingLibraryStore::livePeaksChanged);
    connect(workflow, &RecordingWorkflow::activeCaptureURLChanged, this,
            &RecordingLibraryStore::activeCaptureURLChanged);
    connect(workflow, &RecordingWorkflow::activeInputSourceChanged, this,
            &RecordingLibraryStore::activeRecordingInputSourceChanged);
    connect(workflow, &RecordingWorkflow::interruptedTakeSaved, this, &RecordingLibraryStore::interruptedTakeSaved);
    connect(workflow, &RecordingWorkflow::keptWindowChanged, this, &RecordingLibraryStore::keptWindowChanged);
    connect(workflow, &RecordingWorkflow::playingApplicationsChanged, this,
            &RecordingLibraryStore::playingApplicationsChanged);
    connect(m_import.get(), &ImportCommands::isImportingURLChanged, this,
            &RecordingLibraryStore::isImportingURLChanged);
    connect(&m_import->urlImporter(), &URLAudioImportService::downloadProgress, this,
            &RecordingLibraryStore::urlImportProgress);

    if (m_env.folderWatcher) {
        m_watch = std::make_unique<LibraryWatch>(
            *m_env.folderWatcher, *m_env.clock,
            LibraryWatch::Hooks{[this] { return m_workflow->isBusy() || isImportingURL(); }, [this] { refresh(); }});
        for (auto signal :
             {&RecordingLibraryStore::captureStateChanged, &RecordingLibraryStore::activeRecordingInputSourceChanged,
              &RecordingLibraryStore::isImportingURLChanged})
            connect(this, signal, m_watch.get(), &LibraryWatch::writingEnded);
    }

    // Started from the event loop, so observers connected after construction see it finish.
    QMetaObject::invokeMethod(this, &RecordingLibraryStore::startUp, Qt::QueuedConnection);
}

RecordingLibraryStore::~RecordingLibraryStore() = default;

QCoro::Task<> RecordingLibraryStore::startUp()
{
    QPointer self(this);
    if (m_env.showRememberedLibrary)
        co_await showRememberedLibrary();
    if (!self)
        co_return;
    co_await ensureFolderAndRefresh();
    if (self)
        co_await recoverLeftoverTakes();
    if (!self)
        co_return;
    // After the recovery, which still needs what a stopped take's encoding left.
    auto sweep = BackgroundTask::run([folder = m_folderURL] {
        WorkFile::sweep(folder, {TakeFinalizer::leftoverTakePattern()});
        // Trims of earlier versions were cut into hidden part files beside the audio.
        const QDir library(folder);
        for (const auto &name : library.entryList({QStringLiteral(".trim-*.part")}, QDir::Files | QDir::Hidden))
            QFile::remove(library.filePath(name));
    });
    co_await std::move(sweep);
    if (!self)
        co_return;
    m_hasStarted = true;
    emit recoveryFinished();
}

void RecordingLibraryStore::prepareWaveform(const QString &url)
{
    if (m_env.prepareWaveforms)
        m_waveforms->prepare(url);
}

QCoro::Task<> RecordingLibraryStore::showRememberedLibrary()
{
    QPointer self(this);
    const auto folder = m_folderURL;
    auto load = BackgroundTask::run([folder] { return LibrarySnapshot::load(folder); });
    auto remembered = co_await std::move(load);
    // A scan that published meanwhile knows better.
    if (!self || folder != m_folderURL || !remembered || m_newestPublishedScan != 0)
        co_return;
    publishRecordings(std::move(*remembered), std::nullopt, false);
}

void RecordingLibraryStore::setSelectedIDs(const QSet<QString> &ids)
{
    if (ids == m_selectedIDs)
        return;
    m_selectedIDs = ids;
    emit selectedIDsChanged();
}

std::optional<RecordingItem> RecordingLibraryStore::selectedItem() const
{
    if (m_selectedIDs.size() != 1)
        return std::nullopt;
    const auto selected = selectedItems();
    return selected.isEmpty() ? std::nullopt : std::optional(selected.front());
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

const std::optional<QString> &RecordingLibraryStore::statusMessage() const
{
    return m_status->message();
}

void RecordingLibraryStore::setStatusMessage(const std::optional<QString> &message)
{
    m_status->setMessage(message);
}

bool RecordingLibraryStore::isStatusBusy() const
{
    return m_workflow->isBusy() || isAnalyzing() || isTrimming() || isImportingURL();
}

bool RecordingLibraryStore::isImportingURL() const
{
    // Asked by the status line while the collaborators are still being made.
    return m_import && m_import->isImportingURL();
}

bool RecordingLibraryStore::isAnalyzing() const
{
    return m_editing->isAnalyzing();
}

bool RecordingLibraryStore::isTrimming() const
{
    return m_editing->isTrimming();
}

const std::optional<SavedTrimUndo> &RecordingLibraryStore::lastSavedTrimUndo() const
{
    return m_editing->trimUndo().value();
}

RecordingOutputFormat RecordingLibraryStore::recordingFormat() const
{
    return m_settings->recordingFormat();
}

void RecordingLibraryStore::setRecordingFormat(RecordingOutputFormat format)
{
    try {
        m_settings->setRecordingFormat(format);
    } catch (const std::exception &error) {
        showFailure(lcStore(), error);
    }
    emit recordingFormatChanged();
}

AudioBitRate RecordingLibraryStore::aacBitRate() const
{
    return m_settings->aacBitRate();
}

void RecordingLibraryStore::setAacBitRate(AudioBitRate rate)
{
    try {
        m_settings->setAacBitRate(rate);
    } catch (const std::exception &error) {
        showFailure(lcStore(), error);
    }
    emit aacBitRateChanged();
}

AnalysisMode RecordingLibraryStore::analysisMode() const
{
    return m_settings->analysisMode();
}

void RecordingLibraryStore::setAnalysisMode(AnalysisMode mode)
{
    try {
        m_settings->setAnalysisMode(mode);
    } catch (const std::exception &error) {
        setStatusMessage(errorText(error));
    }
    emit analysisModeChanged();
}

QCoro::Task<> RecordingLibraryStore::ensureFolderAndRefresh()
{
    if (!QDir().mkpath(m_folderURL))
        showFailure(lcStore(),
                    AppError(QStringLiteral("The folder “%1” couldn’t be created.").arg(QDir(m_folderURL).dirName())));
    if (m_watch)
        m_watch->follow(m_folderURL);
    co_await refresh();
}

QCoro::Task<> RecordingLibraryStore::refresh(std::optional<QString> url)
{
    QPointer self(this);
    const auto folder = m_folderURL;
    const auto scanNumber = ++m_scansStarted;
    // GCC 12 destroys a capturing lambda written inside co_await twice: keep it outside.
    auto scan = BackgroundTask::run([folder] { return RecordingScanner::scanRemembering(folder); });
    auto result = co_await std::move(scan);
    // The library moved on while this scan ran: its newer scan publishes instead.
    if (!self || folder != m_folderURL)
        co_return;
    // A scan that started later has already published a newer listing; only the selection
    // this one was asked for still applies.
    if (scanNumber < m_newestPublishedScan) {
        const bool listed = url
            && std::any_of(m_recordings.cbegin(), m_recordings.cend(),
                           [&](const RecordingItem &item) { return item.id() == *url; });
        if (listed)
            setSelectedIDs({*url});
        emit refreshFinished();
        co_return;
    }
    m_newestPublishedScan = scanNumber;
    // The scan only reads; sidecars move here, where no other edit runs meanwhile.
    for (const auto &legacy : result.legacyAudioURLs) {
        // A legacy sidecar that cannot move stays and is read again at the next scan.
        ignoreFailure(lcLibrary(), [&] { MetadataStore::migrateLegacyMetadata(legacy); });
    }
    for (const auto &[sidecar, audio] : result.reunitedSidecars)
        MetadataStore::adopt(sidecar, audio, files());
    for (const auto &stale : result.staleSidecarNames)
        MetadataStore::finishMove(stale, files());
    m_unlistedNames = std::move(result.unlistedNames);
    publishRecordings(std::move(result.items), url, true);
}

void RecordingLibraryStore::followMove(const QString &from, const QString &to)
{
    // The list and the selection take the new name at once, so no one sees the take vanish
    // before the rescan lists it.
    const auto moved = std::find_if(m_recordings.begin(), m_recordings.end(),
                                    [&](const RecordingItem &item) { return item.url == from; });
    if (moved != m_recordings.end())
        moved->url = to;
    const bool selected = m_selectedIDs.remove(from);
    if (selected)
        m_selectedIDs.insert(to);
    emit recordingMoved(from, to);
    if (moved != m_recordings.end())
        emit recordingsChanged();
    if (selected)
        emit selectedIDsChanged();
}

void RecordingLibraryStore::publishRecordings(QVector<RecordingItem> items, const std::optional<QString> &url,
                                              bool scanned)
{
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
    if (scanned)
        emit refreshFinished();
}

QCoro::Task<> RecordingLibraryStore::chooseFolder()
{
    QPointer self(this);
    auto question = m_env.dialogs->chooseFolder(QStringLiteral("Choose Save Folder"), m_folderURL);
    const auto folder = co_await std::move(question);
    if (self && folder)
        setFolder(*folder);
}

void RecordingLibraryStore::setFolder(const QString &folder)
{
    const auto clean = QDir::cleanPath(QDir(folder).absolutePath());
    try {
        m_settings->setSaveFolder(clean);
    } catch (const std::exception &error) {
        // The folder is used for this session all the same.
        showFailure(lcStore(), error);
    }
    m_folderURL = clean;
    emit folderURLChanged();
    ensureFolderAndRefresh();
}

// Recording.

const CaptureState &RecordingLibraryStore::captureState() const
{
    return m_workflow->captureState();
}

const QString &RecordingLibraryStore::elapsedText() const
{
    return m_workflow->elapsedText();
}

std::optional<RecordingInputSource> RecordingLibraryStore::activeRecordingInputSource() const
{
    return m_workflow->activeInputSource();
}

const std::optional<ActiveTake> &RecordingLibraryStore::activeTake() const
{
    return m_workflow->activeTake();
}

const std::vector<float> &RecordingLibraryStore::livePeaks() const
{
    return m_workflow->livePeaks();
}

const std::optional<QString> &RecordingLibraryStore::activeCaptureURL() const
{
    return m_workflow->activeCaptureURL();
}

void RecordingLibraryStore::toggleRecording(RecordingInputSource source)
{
    m_workflow->toggle(source);
}

bool RecordingLibraryStore::canToggleRecording(RecordingInputSource source) const
{
    return m_workflow->canToggle(source);
}

bool RecordingLibraryStore::isRecording(RecordingInputSource source) const
{
    return m_workflow->isRecording(source);
}

QCoro::Task<> RecordingLibraryStore::startRecording(RecordingInputSource source,
                                                    std::optional<RecordingOutputFormat> format,
                                                    std::optional<AudioBitRate> bitRate)
{
    return m_workflow->start(CaptureTargets::forInput(source), format, bitRate);
}

std::optional<CaptureTarget> RecordingLibraryStore::activeRecordingTarget() const
{
    return m_workflow->activeTarget();
}

void RecordingLibraryStore::toggleRecording(const CaptureTarget &target)
{
    m_workflow->toggle(target);
}

bool RecordingLibraryStore::canToggleRecording(const CaptureTarget &target) const
{
    return m_workflow->canToggle(target);
}

bool RecordingLibraryStore::isRecording(const CaptureTarget &target) const
{
    return m_workflow->isRecording(target);
}

QCoro::Task<> RecordingLibraryStore::startRecording(CaptureTarget target, std::optional<RecordingOutputFormat> format,
                                                    std::optional<AudioBitRate> bitRate)
{
    return m_workflow->start(std::move(target), format, bitRate);
}

const std::vector<PlayingApplication> &RecordingLibraryStore::playingApplications() const
{
    return m_workflow->playingApplications().applications();
}

void RecordingLibraryStore::watchPlayingApplications()
{
    m_workflow->watchPlayingApplications();
}

QString RecordingLibraryStore::targetTitle(const CaptureTarget &target) const
{
    return m_workflow->title(target);
}

int RecordingLibraryStore::keptSeconds() const
{
    return m_workflow->keptSeconds();
}

void RecordingLibraryStore::setKeptSeconds(int seconds)
{
    try {
        m_settings->setKeepSeconds(seconds);
    } catch (const AppError &error) {
        setStatusMessage(error.text());
    }
    m_workflow->applyKeptWindowSettings();
}

std::optional<CaptureTarget> RecordingLibraryStore::keptTarget() const
{
    return m_workflow->keptTarget();
}

RecordingInputSource RecordingLibraryStore::keptInput() const
{
    return m_settings->keptInput();
}

QString RecordingLibraryStore::keptApplication() const
{
    return m_settings->keptApplication();
}

void RecordingLibraryStore::setKeptInput(RecordingInputSource input, const QString &application)
{
    try {
        m_settings->setKeptInput(input, application);
    } catch (const AppError &error) {
        setStatusMessage(error.text());
    }
    m_workflow->applyKeptWindowSettings();
    emit keptWindowChanged();
}

bool RecordingLibraryStore::isListening() const
{
    return m_workflow->isListening();
}

QString RecordingLibraryStore::keptWindowProblem() const
{
    return m_workflow->keptWindowProblem();
}

bool RecordingLibraryStore::startsFromKeptWindow() const
{
    return m_workflow->startsFromKeptWindow();
}

void RecordingLibraryStore::setStartsFromKeptWindow(bool enabled)
{
    try {
        m_settings->setFlag(StoreSettings::preRollKey, enabled);
    } catch (const AppError &error) {
        setStatusMessage(error.text());
    }
    m_workflow->applyKeptWindowSettings();
    emit keptWindowChanged();
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::saveKeptWindow()
{
    return m_workflow->saveKeptWindow();
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::stopRecording()
{
    return m_workflow->stop();
}

QCoro::Task<> RecordingLibraryStore::shutDown()
{
    return m_workflow->finishForExit();
}

void RecordingLibraryStore::requestScreenCapturePermission()
{
    // The desktop grants every program its sound; nothing needs asking.
    setStatusMessage(QStringLiteral("Permission enabled."));
}

void RecordingLibraryStore::requestMicrophonePermission()
{
    setStatusMessage(QStringLiteral("Microphone permission enabled."));
}

QCoro::Task<QStringList> RecordingLibraryStore::recoverLeftoverTakes()
{
    QPointer self(this);
    auto recover = m_finalizer->recoverLeftoverTakes(m_folderURL, aacBitRate());
    const auto recovered = co_await std::move(recover);
    if (!self || recovered.isEmpty())
        co_return recovered;
    setStatusMessage(QStringLiteral("Recovered ") + QFileInfo(recovered.last()).fileName());
    co_await refresh(recovered.last());
    co_return recovered;
}

// Editing.

QCoro::Task<std::optional<QString>> RecordingLibraryStore::analyze(QString url, std::optional<AnalysisMode> mode)
{
    return m_editing->analyze(std::move(url), mode);
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::chooseTempo(QString url, double bpm)
{
    return m_editing->chooseTempo(std::move(url), bpm);
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::chooseKey(QString url, QString musicalKey)
{
    return m_editing->chooseKey(std::move(url), std::move(musicalKey));
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::trim(RecordingItem item, double start, double end)
{
    return m_editing->trim(std::move(item), start, end);
}

bool RecordingLibraryStore::canUndoSavedTrim(const RecordingItem &item) const
{
    return m_editing->trimUndo().canUndo(item);
}

QCoro::Task<> RecordingLibraryStore::undoSavedTrim(RecordingItem item)
{
    return m_editing->undoSavedTrim(std::move(item));
}

QCoro::Task<> RecordingLibraryStore::promptRename(RecordingItem item)
{
    return m_editing->promptRename(std::move(item));
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::rename(RecordingItem item, QString name)
{
    return m_editing->rename(std::move(item), std::move(name));
}

QCoro::Task<bool> RecordingLibraryStore::deleteRecordings(QVector<RecordingItem> items)
{
    return m_editing->deleteRecordings(std::move(items));
}

QCoro::Task<> RecordingLibraryStore::encodeMP3(QString wav, QString mp3, AudioBitRate bitRate)
{
    return m_finalizer->encodeMP3(std::move(wav), std::move(mp3), bitRate);
}

// Import and source.

QCoro::Task<> RecordingLibraryStore::promptImportURL()
{
    return m_import->promptImportURL();
}

QCoro::Task<std::optional<QString>> RecordingLibraryStore::importURL(QString text, bool allowWebExtraction,
                                                                     std::optional<AudioBitRate> bitRate)
{
    return m_import->importURL(std::move(text), allowWebExtraction, bitRate);
}

void RecordingLibraryStore::cancelImport()
{
    m_import->cancelImport();
}

void RecordingLibraryStore::cancelWork()
{
    m_import->cancelImport();
    m_editing->cancel();
    m_finalizer->cancelEncoding();
}

FileOperations &RecordingLibraryStore::files() const
{
    return m_env.files ? *m_env.files : FileOperations::system();
}

QCoro::Task<> RecordingLibraryStore::openSource(RecordingItem item)
{
    return m_import->openSource(std::move(item));
}
