#pragma once

#include "analysis/AnalysisMode.h"
#include "library/RecordingItem.h"
#include "platform/FileOperations.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <optional>
#include <qcoro/qcorotask.h>

class AudioAnalyzer;
class AudioTrimmer;
class Dialogs;
class StoreContext;
class StoreSettings;
class Trash;
class TrimUndo;

/// The library's editing commands: analysis, trims with their undo, renames and deletions.
/// Each reports its outcome as the status and ends with a rescan that selects the result.
class EditingCommands : public QObject {
    Q_OBJECT
public:
    /// \a context, \a settings, \a trash and \a dialogs outlive the commands.
    EditingCommands(StoreContext &context, StoreSettings &settings, Trash &trash, Dialogs &dialogs,
                    QObject *parent = nullptr);

    [[nodiscard]] bool isAnalyzing() const { return m_isAnalyzing; }
    [[nodiscard]] bool isTrimming() const { return m_isTrimming; }
    [[nodiscard]] TrimUndo &trimUndo() const { return *m_trimUndo; }

    /// Stores tempo and key of \a url in its sidecar and gives it a tempo name; returns the
    /// file's path afterwards, or none when the analysis failed (the status says why). The
    /// analysis is \a mode, else the one the settings choose.
    QCoro::Task<std::optional<QString>> analyze(QString url, std::optional<AnalysisMode> mode = std::nullopt);
    /// Stores \a bpm as the tempo of \a url, the tempo it replaces becoming an alternative,
    /// and gives the file its tempo name; returns the path afterwards, or none on failure.
    QCoro::Task<std::optional<QString>> chooseTempo(QString url, double bpm);
    /// Stores \a musicalKey as the key of \a url, the key it replaces becoming an alternative;
    /// returns the path, or none on failure.
    QCoro::Task<std::optional<QString>> chooseKey(QString url, QString musicalKey);
    /// Renames \a url to end in "_bpm_" and the rounded tempo, replacing an older suffix; the
    /// sidecar follows. Returns the path afterwards; throws AppError when the move fails.
    static QString renameForBPMIfNeeded(const QString &url, double bpm,
                                        FileOperations &files = FileOperations::system());
    /// Cuts start...end seconds of \a item into a new file, analyses it and offers its undo;
    /// returns the new file's final path, or none on failure.
    QCoro::Task<std::optional<QString>> trim(RecordingItem item, double start, double end);
    /// Stops the running trims and analyses; they end with their cancelled status and store
    /// nothing.
    void cancel();
    /// Moves the trimmed file and its sidecar to the Trash and selects the original again.
    QCoro::Task<> undoSavedTrim(RecordingItem item);
    /// Asks for a new base name and renames \a item to it.
    QCoro::Task<> promptRename(RecordingItem item);
    /// Renames \a item to the sanitised \a name, keeping its extension and never replacing a
    /// file; returns the path afterwards, or none when nothing could be renamed.
    QCoro::Task<std::optional<QString>> rename(RecordingItem item, QString name);
    /// Moves each item's audio file, then its sidecar, to the Trash, stopping at the first that
    /// cannot be moved; true when all went. Asks no question.
    QCoro::Task<bool> deleteRecordings(QVector<RecordingItem> items);

    /// \a proposedName with \a url's folder and extension; \a url itself when that is the same
    /// path, else the first free name with a counter.
    [[nodiscard]] static QString uniqueRenameURL(const QString &url, const QString &proposedName);

signals:
    void isAnalyzingChanged();
    void isTrimmingChanged();
    /// A rename or a tempo name moved the recording at \a from to \a to, sidecar and all.
    void recordingMoved(const QString &from, const QString &to);

private:
    /// True (with the status set) when \a url belongs to a take that is still being written.
    bool refuseRunningTake(const QString &url);
    void setIsAnalyzing(bool analyzing);
    void setIsTrimming(bool trimming);

    StoreContext &m_context;
    StoreSettings &m_settings;
    Trash &m_trash;
    Dialogs &m_dialogs;
    AudioAnalyzer *m_analyzer;
    AudioTrimmer *m_trimmer;
    TrimUndo *m_trimUndo;
    quint64 m_cancellations = 0; ///< how many times cancel() was called
    bool m_isAnalyzing = false;
    bool m_isTrimming = false;
};
