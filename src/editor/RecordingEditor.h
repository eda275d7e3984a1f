#pragma once

#include "analysis/WaveformService.h"
#include "editor/EnvelopeSource.h"
#include "editor/LoopSuggestionCycle.h"
#include "editor/TrimRange.h"
#include "editor/WaveformViewport.h"
#include "library/RecordingItem.h"

#include <QObject>
#include <QVector>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class AudioPlaybackService;
class EnvelopeRequest;
class LoopFinderService;
class RecordingLibraryStore;
class Timer;
class TrimSelectionModel;

/// The take of the detail editor and what is done to it there: the trim selection with its
/// undo, the zoomed window, loop candidates, playback of the selection and the envelope. It
/// follows the store's single selection, keeps all of it when the store renames the take, and
/// hands library changes to the store. Views observe its signals and call its commands.
class RecordingEditor : public QObject {
    Q_OBJECT
public:
    /// The envelope's length.
    static constexpr int peakCount = WaveformService::editorPeakCount;
    /// The least time between two coarse envelopes shown while one is read.
    static constexpr std::chrono::milliseconds previewPause{250};
    /// The shortest selection a trim saves.
    static constexpr double minimumTrimLength = 0.02;

    /// \a store outlives the editor and times the settling of trim edits; playback goes to the
    /// desktop's sound server.
    explicit RecordingEditor(RecordingLibraryStore &store, QObject *parent = nullptr);
    /// The same with \a player for playback (owned from here on) and \a envelopes; none makes
    /// the defaults.
    RecordingEditor(RecordingLibraryStore &store, AudioPlaybackService *player,
                    std::unique_ptr<EnvelopeSource> envelopes, QObject *parent = nullptr);
    ~RecordingEditor() override;

    [[nodiscard]] RecordingLibraryStore &store() const { return m_store; }
    /// The take shown; it stays when the selection goes to none or several.
    [[nodiscard]] const std::optional<RecordingItem> &recording() const { return m_item; }
    [[nodiscard]] AudioPlaybackService &player() const { return *m_player; }
    [[nodiscard]] TrimSelectionModel &trimSelection() const { return *m_trim; }
    [[nodiscard]] const WaveformViewport &viewport() const { return m_viewport; }
    [[nodiscard]] bool loopEnabled() const { return m_loopEnabled; }
    /// True until the complete envelope of the take arrived or failed.
    [[nodiscard]] bool isLoadingWaveform() const { return m_isLoadingWaveform; }
    /// The envelope so far: empty, coarse, then complete.
    [[nodiscard]] const QVector<float> &peaks() const { return m_peaks; }
    [[nodiscard]] const std::optional<QString> &waveformError() const { return m_waveformError; }
    [[nodiscard]] bool isFindingLoop() const { return m_isFindingLoop; }
    [[nodiscard]] const std::optional<QString> &loopSuggestionMessage() const { return m_loopSuggestionMessage; }
    [[nodiscard]] const LoopSuggestionCycle &loopSuggestions() const { return m_loops; }
    /// "Undo Trim Change", "Undo Saved Trim" or "Undo".
    [[nodiscard]] QString undoHelpText() const;
    /// "00:01.50 - 00:03.25": the selection in the editor clock.
    [[nodiscard]] QString selectionText() const;

    // What the commands may do now.
    [[nodiscard]] bool canUndo() const;
    [[nodiscard]] bool canFindLoop() const;
    [[nodiscard]] bool canSaveTrim() const;
    [[nodiscard]] bool canAnalyze() const;
    /// True while no analysis runs, so the take's tempo or key may be chosen.
    [[nodiscard]] bool canChooseFigures() const;
    /// Stores \a bpm, one of the analysis's alternatives, as the take's tempo.
    void chooseTempo(double bpm);
    /// Stores \a key, one of the analysis's alternatives, as the take's key.
    void chooseKey(const QString &key);

    /// Shows \a item: another file loads afresh, the same file only takes its new record.
    void setRecording(const RecordingItem &item);
    void togglePlayback();
    void stopPlayback();
    void setLoopEnabled(bool enabled);
    /// Cycles to the next loop candidate, or searches for candidates.
    QCoro::Task<> findLoop();
    /// Undoes the last trim edit, else the store's saved trim of this take.
    void performUndo();
    /// A change the user made on the timeline; it settles into one undo.
    void editTrim(TrimRange range);
    /// A pan or pinch on the timeline moved the window.
    void setViewport(double zoom, double start);
    /// Zooms by \a factor around the selection's middle, or the playhead while playing.
    void adjustWaveformZoom(double factor);
    void resetZoom();
    /// Sets \a zoom keeping \a anchorTime in place in the window.
    void setWaveformZoom(double zoom, double anchorTime);
    /// Scrolls a zoomed window after the playhead at \a time.
    void keepTimeVisible(double time);
    /// Saves the selection as a new take through the store.
    void saveTrim();
    void analyze();
    /// Stops playback and moves the take to the trash; the caller has asked.
    void deleteRecording();

signals:
    /// Another take (or the first) is shown: everything was reset.
    void recordingChanged();
    /// The take's record changed: its name, tempo, key, source or stored trim.
    void itemChanged();
    /// The envelope changed; waveformLoaded() follows on the complete one.
    void peaksChanged();
    /// The complete envelope of the take arrived, or reading it failed.
    void waveformLoaded();
    void viewportChanged();
    /// Loop switch, candidates or their message changed.
    void loopChanged();
    /// What a command may do, or the playback state, may have changed.
    void commandsChanged();

private:
    void followSelection();
    void followMove(const QString &from, const QString &to);
    void load(const RecordingItem &item);
    void takeEnvelope(const QVector<float> &peaks, bool complete);
    void showNextPreview();
    void failEnvelope(const QString &text);
    void updatePlaybackSelection();
    void applyLoopSuggestion(const LoopSuggestion &suggestion);
    void setLoopSuggestionMessage(std::optional<QString> message);
    void stopBeforeCapture();

    RecordingLibraryStore &m_store;
    AudioPlaybackService *m_player;
    LoopFinderService *m_loopFinder;
    TrimSelectionModel *m_trim;
    std::unique_ptr<EnvelopeSource> m_envelopes;
    std::unique_ptr<EnvelopeRequest> m_envelopeRequest; ///< after the source: it goes first

    std::optional<RecordingItem> m_item;
    QVector<float> m_peaks;
    Timer *m_previewPause;                       ///< runs while coarse envelopes wait their turn
    std::optional<QVector<float>> m_nextPreview; ///< the newest coarse envelope not yet shown
    bool m_isLoadingWaveform = false;
    std::optional<QString> m_waveformError;
    bool m_loopEnabled = false;
    WaveformViewport m_viewport;
    bool m_isFindingLoop = false;
    std::optional<QString> m_loopSuggestionMessage;
    LoopSuggestionCycle m_loops;
    quint64 m_loadGeneration = 0; ///< counts loads, so a late loop search of an earlier one is dropped
};
