#pragma once

#include "analysis/AnalysisMode.h"
#include "base/AudioBitRate.h"
#include "capture/CaptureState.h"
#include "capture/PlayingApplication.h"
#include "capture/RecordingOutputFormat.h"
#include "library/RecordingInputSource.h"
#include "library/RecordingItem.h"
#include "platform/CaptureTarget.h"
#include "store/SavedTrimUndo.h"
#include "store/StoreContext.h"
#include "store/StoreEnvironment.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

class EditingCommands;
class WaveformService;
class ImportCommands;
class LibraryWatch;
class UrlOpener;
class RecordingWorkflow;
class StatusLine;
class StoreSettings;
class TakeFinalizer;
struct ActiveTake;

/// The one owner of library state: folder, recordings, selection, status and settings.
/// Views and the terminal tool observe its signals and call its commands, all on the GUI
/// thread; the work itself is done by its collaborators.
class RecordingLibraryStore : public QObject, private StoreContext {
    Q_OBJECT
public:
    explicit RecordingLibraryStore(StoreEnvironment environment, QObject *parent = nullptr);
    ~RecordingLibraryStore() override;

    [[nodiscard]] const QString &folderURL() const { return m_folderURL; }
    [[nodiscard]] const QVector<RecordingItem> &recordings() const { return m_recordings; }
    /// Audio entries the last scan skipped because Qt cannot open their names.
    [[nodiscard]] const QStringList &unlistedNames() const { return m_unlistedNames; }
    [[nodiscard]] const QSet<QString> &selectedIDs() const { return m_selectedIDs; }
    void setSelectedIDs(const QSet<QString> &ids);
    /// The single selected recording, or none when zero or several are selected.
    [[nodiscard]] std::optional<RecordingItem> selectedItem() const;
    /// The selected recordings in library order.
    [[nodiscard]] QVector<RecordingItem> selectedItems() const;

    [[nodiscard]] const std::optional<QString> &statusMessage() const;
    /// Sets the status text and schedules its dismissal.
    void setStatusMessage(const std::optional<QString> &message);
    /// True while recording, analysing, trimming or importing: status texts then stay.
    [[nodiscard]] bool isStatusBusy() const;
    [[nodiscard]] bool isAnalyzing() const;
    [[nodiscard]] bool isTrimming() const;
    [[nodiscard]] bool isImportingURL() const;
    [[nodiscard]] const std::optional<SavedTrimUndo> &lastSavedTrimUndo() const;

    [[nodiscard]] StoreSettings &settings() const { return *m_settings; }
    /// The clock of the store's timers, for views and editors that time themselves alike.
    [[nodiscard]] Clock &clock() const override { return *m_env.clock; }
    /// The waveform levels of the library's takes, remembered in its cache.
    [[nodiscard]] WaveformService &waveforms() const override { return *m_waveforms; }
    [[nodiscard]] RecordingOutputFormat recordingFormat() const;
    void setRecordingFormat(RecordingOutputFormat format);
    [[nodiscard]] AudioBitRate aacBitRate() const;
    void setAacBitRate(AudioBitRate rate);
    [[nodiscard]] AnalysisMode analysisMode() const;
    void setAnalysisMode(AnalysisMode mode);

    /// Creates the save folder (reporting a failure as the status) and refreshes.
    QCoro::Task<> ensureFolderAndRefresh();
    /// Rescans the folder off the GUI thread, then selects \a url, or keeps what still exists,
    /// or the newest recording. A scan of a folder that stopped being the library is dropped.
    QCoro::Task<> refresh(std::optional<QString> url = std::nullopt) override;
    /// Asks for a new save folder and adopts it.
    QCoro::Task<> chooseFolder();
    /// Stores \a folder as the save folder and rescans it.
    void setFolder(const QString &folder);

    // Recording.
    [[nodiscard]] const CaptureState &captureState() const;
    [[nodiscard]] const QString &elapsedText() const;
    [[nodiscard]] std::optional<RecordingInputSource> activeRecordingInputSource() const;
    /// The running take: its settings, input, source and lock; none between takes.
    [[nodiscard]] const std::optional<ActiveTake> &activeTake() const;
    /// Peak levels 0...1 of the running take's latest buffers, oldest first.
    [[nodiscard]] const std::vector<float> &livePeaks() const;
    /// The file the running take is written to; none before the capture opened it.
    [[nodiscard]] const std::optional<QString> &activeCaptureURL() const;
    /// Starts a take of \a source when idle or failed, stops the running take of \a source;
    /// ignored otherwise. Returns at once.
    void toggleRecording(RecordingInputSource source);
    [[nodiscard]] bool canToggleRecording(RecordingInputSource source) const;
    [[nodiscard]] bool isRecording(RecordingInputSource source) const;
    /// What the running take records (an application take names its application); none
    /// between takes.
    [[nodiscard]] std::optional<CaptureTarget> activeRecordingTarget() const;
    /// The same toggle for any target, an application's among them.
    void toggleRecording(const CaptureTarget &target);
    [[nodiscard]] bool canToggleRecording(const CaptureTarget &target) const;
    [[nodiscard]] bool isRecording(const CaptureTarget &target) const;
    /// Starts a take of \a source with the stored format and bit rate, or with \a format and
    /// \a bitRate for this take only (nothing is stored). The status reports the outcome.
    QCoro::Task<> startRecording(RecordingInputSource source, std::optional<RecordingOutputFormat> format = {},
                                 std::optional<AudioBitRate> bitRate = {});
    /// The same for any target.
    QCoro::Task<> startRecording(CaptureTarget target, std::optional<RecordingOutputFormat> format = {},
                                 std::optional<AudioBitRate> bitRate = {});
    /// The applications playing now, by title; empty until the sound server first answers
    /// after watchPlayingApplications().
    [[nodiscard]] const std::vector<PlayingApplication> &playingApplications() const;
    /// Starts keeping playingApplications() current; the views that offer them call it.
    void watchPlayingApplications();
    /// "System Audio", "Microphone", or the application's name as the desktop gives it.
    [[nodiscard]] QString targetTitle(const CaptureTarget &target) const;

    // The kept window of the last seconds.
    /// Its length in seconds; 0 when nothing is kept.
    [[nodiscard]] int keptSeconds() const;
    /// Keeps the last \a seconds (one of StoreSettings::keepSecondsChoices; 0: nothing) from now on.
    void setKeptSeconds(int seconds);
    /// What it keeps; none when nothing is kept.
    [[nodiscard]] std::optional<CaptureTarget> keptTarget() const;
    /// The input it keeps: system audio, the microphone or the \a application named.
    [[nodiscard]] RecordingInputSource keptInput() const;
    [[nodiscard]] QString keptApplication() const;
    void setKeptInput(RecordingInputSource input, const QString &application = {});
    /// True while it listens.
    [[nodiscard]] bool isListening() const;
    /// Why it does not listen; empty while it does or nothing is kept.
    [[nodiscard]] QString keptWindowProblem() const;
    /// New takes of the kept input begin with what the window holds.
    [[nodiscard]] bool startsFromKeptWindow() const;
    void setStartsFromKeptWindow(bool enabled);
    /// Saves what the window holds as a take; returns its final path, or none.
    QCoro::Task<std::optional<QString>> saveKeptWindow();
    /// Finishes the take, encodes an MP3 take, stores its source, selects and analyses it.
    /// Returns the recording's final path (after the analysis renamed it), or none on failure.
    QCoro::Task<std::optional<QString>> stopRecording();
    /// Saves a running take before the program ends.
    QCoro::Task<> shutDown();
    void requestScreenCapturePermission();
    void requestMicrophonePermission();
    /// True once the first scan and the recovery of left-over takes are done.
    [[nodiscard]] bool hasStarted() const { return m_hasStarted; }
    /// Finishes takes that a stopped process left in the work folder; returns the files made.
    QCoro::Task<QStringList> recoverLeftoverTakes();

    // Editing.
    /// Analyses \a url with \a mode, or with the analysis chosen in the settings.
    QCoro::Task<std::optional<QString>> analyze(QString url, std::optional<AnalysisMode> mode = std::nullopt);
    QCoro::Task<std::optional<QString>> chooseTempo(QString url, double bpm);
    QCoro::Task<std::optional<QString>> chooseKey(QString url, QString musicalKey);
    QCoro::Task<std::optional<QString>> trim(RecordingItem item, double start, double end);
    [[nodiscard]] bool canUndoSavedTrim(const RecordingItem &item) const;
    QCoro::Task<> undoSavedTrim(RecordingItem item);
    QCoro::Task<> promptRename(RecordingItem item);
    QCoro::Task<std::optional<QString>> rename(RecordingItem item, QString name);
    QCoro::Task<bool> deleteRecordings(QVector<RecordingItem> items);
    /// Encodes the PCM WAV \a wav into \a mp3 with the library's encoder. Throws AppError.
    QCoro::Task<> encodeMP3(QString wav, QString mp3, AudioBitRate bitRate);

    // Import and source.
    /// Asks for an address and imports it as MP3.
    QCoro::Task<> promptImportURL();
    /// Imports the typed \a text as MP3 at \a bitRate (none: the stored rate), selects and
    /// analyses it; returns the new file's final path, or none (the status says why).
    QCoro::Task<std::optional<QString>> importURL(QString text, bool allowWebExtraction,
                                                  std::optional<AudioBitRate> bitRate = std::nullopt);
    /// Stops the running import, leaving no work files.
    void cancelImport();
    /// Stops the running import, trim, analysis and MP3 encoding; each ends with its cancelled
    /// status and leaves no work files.
    void cancelWork();
    /// Opens the web address \a item came from, asking its browser afresh when none was stored.
    QCoro::Task<> openSource(RecordingItem item);

signals:
    void folderURLChanged();
    void recordingsChanged();
    void selectedIDsChanged();
    void captureStateChanged();
    void elapsedTextChanged();
    void livePeaksChanged();
    void activeCaptureURLChanged();
    void statusMessageChanged();
    void isAnalyzingChanged();
    void isTrimmingChanged();
    void isImportingURLChanged();
    /// Bytes of the running URL import received so far, and its total (-1 when unknown).
    void urlImportProgress(qint64 received, qint64 total);
    void lastSavedTrimUndoChanged();
    /// A rename or an analysis moved the recording at \a from to \a to. The list and the
    /// selection name it so right after this signal; a rescan follows.
    void recordingMoved(const QString &from, const QString &to);
    void activeRecordingInputSourceChanged();
    void recordingFormatChanged();
    void aacBitRateChanged();
    void analysisModeChanged();
    /// Emitted after each refresh has published its result.
    void refreshFinished();
    /// Emitted when the start-up recovery of left-over takes, and the sweep of the work files
    /// stopped processes left, is done.
    void recoveryFinished();
    /// A take that ended by itself has been kept and listed as \a url.
    void interruptedTakeSaved(const QString &url);
    /// The kept window's length, input or listening changed.
    void keptWindowChanged();
    void playingApplicationsChanged();

private:
    QString folder() const override { return m_folderURL; }
    void setStatus(const QString &text) override { setStatusMessage(text); }
    void prepareWaveform(const QString &url) override;
    FileOperations &files() const override;
    QCoro::Task<> startUp();
    /// Publishes the list the library's cache remembers, unless a scan was quicker.
    QCoro::Task<> showRememberedLibrary();
    /// \a scanned: the list comes from a scan (not from what was remembered), which
    /// refreshFinished announces.
    void publishRecordings(QVector<RecordingItem> items, const std::optional<QString> &url, bool scanned);
    void followMove(const QString &from, const QString &to);

    StoreEnvironment m_env;
    std::unique_ptr<StoreSettings> m_settings;
    QString m_folderURL;
    QVector<RecordingItem> m_recordings;
    QStringList m_unlistedNames;
    QSet<QString> m_selectedIDs;
    bool m_hasStarted = false;
    quint64 m_scansStarted = 0;
    quint64 m_newestPublishedScan = 0; ///< none until a scan has published its list
    std::unique_ptr<UrlOpener> m_ownUrlOpener;
    // Declared last so they go first: each may still use what is declared above it.
    std::unique_ptr<WaveformService> m_waveforms;
    std::unique_ptr<StatusLine> m_status;
    std::unique_ptr<TakeFinalizer> m_finalizer;
    std::unique_ptr<EditingCommands> m_editing;
    std::unique_ptr<RecordingWorkflow> m_workflow;
    std::unique_ptr<ImportCommands> m_import;
    std::unique_ptr<LibraryWatch> m_watch;
};
