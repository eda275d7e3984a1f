#pragma once

#include "base/AudioBitRate.h"
#include "capture/CaptureState.h"
#include "capture/RecordingEncodingSettings.h"
#include "capture/RecordingOutputFormat.h"
#include "library/RecordingInputSource.h"
#include "library/RecordingItem.h"
#include "library/RecordingSourceContext.h"
#include "platform/RunningApplication.h"
#include "store/SavedTrimUndo.h"
#include "store/StoreEnvironment.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <utility>

class AudioAnalyzer;
class AudioCaptureService;
class AudioTrimmer;
class MP3EncoderService;
class QLockFile;
class SoundServer;
class Timer;

/// The one owner of library state: folder, recordings, selection, status and settings.
/// Every user command runs through it on the GUI thread; views observe its signals.
class RecordingLibraryStore : public QObject {
    Q_OBJECT
public:
    /// How long a status text stays when nothing replaces it.
    static constexpr std::chrono::milliseconds statusDismissDelay{3600};

    explicit RecordingLibraryStore(StoreEnvironment environment, QObject *parent = nullptr);
    ~RecordingLibraryStore() override;

    [[nodiscard]] const QString &folderURL() const { return m_folderURL; }
    [[nodiscard]] const QVector<RecordingItem> &recordings() const { return m_recordings; }
    [[nodiscard]] const QSet<QString> &selectedIDs() const { return m_selectedIDs; }
    void setSelectedIDs(const QSet<QString> &ids);
    [[nodiscard]] const CaptureState &captureState() const { return m_captureState; }
    [[nodiscard]] const QString &elapsedText() const { return m_elapsedText; }
    [[nodiscard]] const std::optional<QString> &statusMessage() const { return m_statusMessage; }
    /// Sets the status text and schedules its dismissal.
    void setStatusMessage(const std::optional<QString> &message);
    [[nodiscard]] bool isAnalyzing() const { return m_isAnalyzing; }
    [[nodiscard]] bool isTrimming() const { return m_isTrimming; }
    [[nodiscard]] bool isImportingURL() const { return m_isImportingURL; }
    [[nodiscard]] const std::optional<SavedTrimUndo> &lastSavedTrimUndo() const { return m_lastSavedTrimUndo; }
    [[nodiscard]] std::optional<RecordingInputSource> activeRecordingInputSource() const
    {
        return m_activeRecordingInputSource;
    }
    [[nodiscard]] RecordingOutputFormat recordingFormat() const { return m_recordingFormat; }
    void setRecordingFormat(RecordingOutputFormat format);
    [[nodiscard]] AudioBitRate aacBitRate() const { return m_aacBitRate; }
    void setAacBitRate(AudioBitRate rate);

    /// The single selected recording, or none when zero or several are selected.
    [[nodiscard]] std::optional<RecordingItem> selectedItem() const;
    /// The selected recordings in library order.
    [[nodiscard]] QVector<RecordingItem> selectedItems() const;
    /// True while recording, analysing, trimming or importing: status texts then stay.
    [[nodiscard]] bool isStatusBusy() const;

    /// Creates the save folder (reporting a failure as the status) and refreshes.
    QCoro::Task<> ensureFolderAndRefresh();
    /// Rescans the folder off the GUI thread, then selects \a url, or keeps what still exists,
    /// or the newest recording.
    QCoro::Task<> refresh(std::optional<QString> url = std::nullopt);
    /// Asks for a new save folder and adopts it.
    void chooseFolder();
    /// Stores \a folder as the save folder and rescans it.
    void setFolder(const QString &folder);

    /// Creation (birth) time, else modification time, else now.
    [[nodiscard]] static QDateTime fileCreationDate(const QString &url);

    [[nodiscard]] AudioAnalyzer *analyzer() const { return m_analyzer; }
    [[nodiscard]] MP3EncoderService *mp3Encoder() const { return m_mp3Encoder; }
    [[nodiscard]] AudioTrimmer *trimmer() const { return m_trimmer; }
    [[nodiscard]] AudioCaptureService *captureService() const { return m_captureService; }

    /// The identifier this program's own windows and streams carry.
    static constexpr auto ownBundleIdentifier = "vespertone";

    /// Starts a take of \a source when idle or failed, stops the running take of \a source;
    /// ignored otherwise. Returns at once.
    void toggleRecording(RecordingInputSource source);
    /// Whether the toggle of \a source is enabled now.
    [[nodiscard]] bool canToggleRecording(RecordingInputSource source) const;
    /// Whether a take of \a source is running.
    [[nodiscard]] bool isRecording(RecordingInputSource source) const;
    /// Starts a take of \a source with the stored format and bit rate, or with \a format and
    /// \a bitRate for this take only (nothing is stored). The status reports the outcome.
    QCoro::Task<> startRecording(RecordingInputSource source, std::optional<RecordingOutputFormat> format = {},
                                 std::optional<AudioBitRate> bitRate = {});
    /// Finishes the take, encodes an MP3 take, stores its source, selects and analyses it.
    /// Returns the recording's final path (after the analysis renamed it), or none on failure.
    QCoro::Task<std::optional<QString>> stopRecording();
    void requestScreenCapturePermission();
    void requestMicrophonePermission();
    /// Fixes the source of the next take of \a source (a prepared Mac-audio source stays).
    void prepareActiveSourceContext(RecordingInputSource source);
    /// Takes the best guess of where the computer's sound comes from as the active source.
    void capturePendingSourceContext();
    /// The capture file as a library file: MP3 takes are encoded into the save folder (kept as
    /// WAV when that fails). Returns the final path and the status text; throws when the file
    /// cannot be kept.
    QCoro::Task<std::pair<QString, QString>> finalizedRecordingURL(QString captureURL,
                                                                   RecordingEncodingSettings settings);
    /// Writes the active source into \a url's sidecar; throws AppError on failure.
    void saveActiveSourceIfNeeded(const QString &url);
    /// Runs the elapsed clock while \a state is recording, else shows "00:00".
    void updateElapsedTimer(const CaptureState &state);
    /// Moves capture files that a killed MP3 take left in the work folder into the library.
    /// Files whose lock a live process holds are left alone. Returns the recovered paths.
    QCoro::Task<QStringList> recoverLeftoverTakes();

    [[nodiscard]] const std::optional<RecordingEncodingSettings> &activeRecordingSettings() const
    {
        return m_activeRecordingSettings;
    }
    [[nodiscard]] const std::optional<RecordingSourceContext> &activeRecordingSource() const
    {
        return m_activeRecordingSource;
    }
    void setActiveRecordingSource(const std::optional<RecordingSourceContext> &source);
    [[nodiscard]] const std::optional<RunningApplication> &latestForegroundSourceApp() const
    {
        return m_latestForegroundSourceApp;
    }
    /// The status label of \a format: "M4A", "MP3", "WAV" or "AIFF".
    [[nodiscard]] static QString formatLabel(RecordingOutputFormat format);
    /// The status label of \a source: "Mac" or "Mic".
    [[nodiscard]] static QString inputLabel(RecordingInputSource source);

    /// Stores tempo and key of \a url in its sidecar and gives it a tempo name; returns the
    /// file's path afterwards, or none when the analysis failed (the status says why).
    QCoro::Task<std::optional<QString>> analyze(QString url);
    /// Renames \a url to end in "_bpm_" and the rounded tempo, replacing an older suffix; the
    /// sidecar follows. Returns the path afterwards; throws AppError when the move fails.
    static QString renameForBPMIfNeeded(const QString &url, double bpm);
    /// Cuts start...end seconds of \a item into a new file, analyses it and offers its undo;
    /// returns the new file's final path, or none on failure.
    QCoro::Task<std::optional<QString>> trim(RecordingItem item, double start, double end);
    /// True when \a item is the existing result of the last saved trim.
    [[nodiscard]] bool canUndoSavedTrim(const RecordingItem &item) const;
    /// Moves the trimmed file and its sidecar to the Trash and selects the original again.
    QCoro::Task<> undoSavedTrim(RecordingItem item);
    /// Forgets the undo when either of its files is among \a urls.
    void clearSavedTrimUndoIfNeeded(const QStringList &urls);
    /// Follows a rename of either file of the undo.
    void updateSavedTrimUndoAfterRename(const QString &from, const QString &to);
    /// Asks for a new base name and renames \a item to it.
    QCoro::Task<> promptRename(RecordingItem item);
    /// Renames \a item to the sanitised \a name, keeping its extension and never replacing a
    /// file; returns the path afterwards, or none when nothing could be renamed.
    QCoro::Task<std::optional<QString>> rename(RecordingItem item, QString name);
    /// Moves each item's sidecar, then its audio file to the Trash, stopping at the first
    /// audio file that cannot be moved; true when all went. Asks no question.
    QCoro::Task<bool> deleteRecordings(QVector<RecordingItem> items);

    /// Every "/", ":", newline and control character becomes a space; then trimmed.
    [[nodiscard]] static QString sanitizeFilename(const QString &name);
    /// \a proposedName with \a url's folder and extension; \a url itself when that is the same
    /// path, else the first free name with a counter.
    [[nodiscard]] static QString uniqueRenameURL(const QString &url, const QString &proposedName);

signals:
    void folderURLChanged();
    void recordingsChanged();
    void selectedIDsChanged();
    void captureStateChanged();
    void elapsedTextChanged();
    void statusMessageChanged();
    void isAnalyzingChanged();
    void isTrimmingChanged();
    void isImportingURLChanged();
    void lastSavedTrimUndoChanged();
    void activeRecordingInputSourceChanged();
    void recordingFormatChanged();
    void aacBitRateChanged();
    /// Emitted after each refresh has published its result.
    void refreshFinished();
    /// Emitted when the start-up recovery of left-over takes is done.
    void recoveryFinished();
    /// Emitted when an interrupted take has been kept and listed; \a url is its path.
    void interruptedTakeSaved(const QString &url);

private:
    QCoro::Task<> startUp();
    void mirrorCaptureState();
    void tickElapsedTimer();
    void noteForegroundApplication(const RunningApplication &application);
    void setActiveRecordingInputSource(const std::optional<RecordingInputSource> &source);
    void clearActiveRecording();
    void lockTakeFile(const std::optional<QString> &url);
    void releaseTakeLock();
    QCoro::Task<> keepInterruptedTake(QString url, QString failure);
    QCoro::Task<std::optional<QString>> recoverTake(QString wav);
    void scheduleStatusAutoDismiss(const std::optional<QString> &message);
    void dismissStatusIfUnchanged();
    void setFolderURL(const QString &folder);
    void setIsAnalyzing(bool analyzing);
    void setIsTrimming(bool trimming);
    void setLastSavedTrimUndo(const std::optional<SavedTrimUndo> &undo);
    /// Trashes the sidecar, then the audio file; the error text when the audio stays.
    std::optional<QString> trashRecording(const QString &url);

    StoreEnvironment m_env;
    QString m_folderURL;
    QVector<RecordingItem> m_recordings;
    QSet<QString> m_selectedIDs;
    CaptureState m_captureState;
    QString m_elapsedText = QStringLiteral("00:00");
    std::optional<QString> m_statusMessage;
    bool m_isAnalyzing = false;
    bool m_isTrimming = false;
    bool m_isImportingURL = false;
    std::optional<SavedTrimUndo> m_lastSavedTrimUndo;
    std::optional<RecordingInputSource> m_activeRecordingInputSource;
    RecordingOutputFormat m_recordingFormat = RecordingOutputFormat::aacM4A;
    AudioBitRate m_aacBitRate = AudioBitRate::kbps192;

    AudioAnalyzer *m_analyzer = nullptr;
    MP3EncoderService *m_mp3Encoder = nullptr;
    AudioTrimmer *m_trimmer = nullptr;
    Timer *m_statusDismissTimer = nullptr;
    QString m_statusDismissTarget;

    std::unique_ptr<SoundServer> m_fallbackSoundServer;
    AudioCaptureService *m_captureService = nullptr;
    Timer *m_elapsedTimer = nullptr;
    std::optional<RecordingEncodingSettings> m_activeRecordingSettings;
    std::optional<RecordingSourceContext> m_activeRecordingSource;
    std::optional<RunningApplication> m_latestForegroundSourceApp;
    /// True from a successful start until the stop begins: a failure then is an interruption.
    bool m_takeRunning = false;
    /// What an interrupted take needs to be kept: its settings and source.
    std::optional<std::pair<RecordingEncodingSettings, std::optional<RecordingSourceContext>>> m_interrupted;
    /// Held on the work file of the running MP3 take, so no recovery takes it.
    std::unique_ptr<QLockFile> m_takeLock;
};
