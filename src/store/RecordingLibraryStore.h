#pragma once

#include "capture/AudioBitRate.h"
#include "capture/CaptureState.h"
#include "capture/RecordingOutputFormat.h"
#include "library/RecordingInputSource.h"
#include "library/RecordingItem.h"
#include "store/SavedTrimUndo.h"
#include "store/StoreEnvironment.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

class AudioAnalyzer;
class AudioTrimmer;
class MP3EncoderService;
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

private:
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
};
