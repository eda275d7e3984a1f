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
#include <QVector>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

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

    Timer *m_statusDismissTimer = nullptr;
    QString m_statusDismissTarget;
};
