#pragma once

#include "editor/LoopSuggestionCycle.h"
#include "editor/TrimRange.h"
#include "editor/WaveformViewport.h"
#include "library/RecordingItem.h"
#include "ui/style/AppThemeChoice.h"

#include <QElapsedTimer>
#include <QVector>
#include <QWidget>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class AudioAnalyzer;
class AudioPlaybackService;
class ChipText;
class ElidedButton;
class ElidedLabel;
class Clock;
class GothicWaveformRule;
class HeaderSourceView;
class LoopFinderService;
class PanelFrame;
class QGridLayout;
class QLabel;
class QTimer;
class RailButton;
class RecordingLibraryStore;
class ThemeController;
class TrimSelectionModel;
class WaveformTrimView;

/// The editor of the one selected recording: header, waveform timeline, control rail and
/// metadata. It follows the store's selection, plays and loops the trim selection, finds
/// loops, keeps one undoable trim edit and hands library changes to the store.
class RecordingDetailView : public QWidget {
    Q_OBJECT
public:
    /// The envelope's length.
    static constexpr int peakCount = 1100;

    /// \a store and \a theme outlive the view; playback goes to the desktop's sound server.
    RecordingDetailView(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent = nullptr);
    /// The same with \a clock for the trim edits' settling and \a player for playback (owned
    /// from here on); none makes the defaults.
    RecordingDetailView(RecordingLibraryStore &store, ThemeController &theme, Clock *clock,
                        AudioPlaybackService *player, QWidget *parent = nullptr);
    ~RecordingDetailView() override;

    /// Shows \a item: a new file loads afresh, the same file only updates its texts.
    void setRecording(const RecordingItem &item);
    [[nodiscard]] const std::optional<RecordingItem> &recording() const { return m_item; }

    // Commands of the rail, also for tests.
    void togglePlayback();
    void setLoopEnabled(bool enabled);
    /// Cycles to the next loop candidate, or searches for candidates.
    QCoro::Task<> findLoop();
    void performUndo();
    /// Asks to move the recording to the trash; confirming stops playback and trashes it.
    void confirmDelete();
    /// Zooms by \a factor around the selection's middle, or the playhead while playing.
    void adjustWaveformZoom(double factor);
    void resetZoom();
    /// Sets \a zoom keeping \a anchorTime in place in the window.
    void setWaveformZoom(double zoom, double anchorTime);

    [[nodiscard]] AudioPlaybackService &player() const { return *m_player; }
    [[nodiscard]] TrimSelectionModel &trimSelection() const { return *m_trim; }
    [[nodiscard]] WaveformTrimView &timeline() const { return *m_timeline; }
    [[nodiscard]] const WaveformViewport &viewport() const { return m_viewport; }
    [[nodiscard]] bool loopEnabled() const { return m_loopEnabled; }
    [[nodiscard]] bool isLoadingWaveform() const { return m_isLoadingWaveform; }
    [[nodiscard]] const QVector<float> &peaks() const { return m_peaks; }
    [[nodiscard]] const std::optional<QString> &loopSuggestionMessage() const { return m_loopSuggestionMessage; }
    [[nodiscard]] const LoopSuggestionCycle &loopSuggestions() const { return m_loops; }
    /// "Undo Trim Change", "Undo Saved Trim" or "Undo".
    [[nodiscard]] QString undoHelpText() const;
    /// "00:01.50 - 00:03.25": the selection in the editor clock.
    [[nodiscard]] QString selectionText() const;

signals:
    /// The header's source line asks to open the recording's source.
    void openSourceRequested(const RecordingItem &item);
    /// The envelope of the current recording finished loading (or failed).
    void waveformLoaded();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildRail();
    QWidget *buildMetadata();
    QCoro::Task<> loadWaveform();
    void followSelection();
    void applyTheme();
    void showItemTexts();
    void showTrim();
    void showViewport();
    void updateControls();
    void updatePlaybackSelection();
    /// Moves the playhead on from the last tick by the time passed since.
    void advancePlayhead();
    void showPlayhead(double time);
    void keepTimeVisible(double time);
    void applyLoopSuggestion(const LoopSuggestion &suggestion);
    void setLoopSuggestionMessage(std::optional<QString> message);
    void stopBeforeCapture();

    RecordingLibraryStore &m_store;
    ThemeController &m_theme;
    std::unique_ptr<Clock> m_ownClock;
    AudioPlaybackService *m_player;
    AudioAnalyzer *m_analyzer;
    LoopFinderService *m_loopFinder;
    TrimSelectionModel *m_trim;
    QTimer *m_frameTimer;      ///< moves the playhead at the display's rate while playing
    QElapsedTimer m_sinceTick; ///< since the player's last time tick
    double m_tickTime = 0;     ///< the time of that tick

    std::optional<RecordingItem> m_item;
    QVector<float> m_peaks;
    bool m_isLoadingWaveform = false;
    std::optional<QString> m_waveformError;
    bool m_loopEnabled = false;
    WaveformViewport m_viewport;
    bool m_isFindingLoop = false;
    std::optional<QString> m_loopSuggestionMessage;
    LoopSuggestionCycle m_loops;
    quint64 m_loadGeneration = 0; ///< counts loads, so a late envelope of an earlier one is dropped

    ElidedLabel *m_title = nullptr;
    QLabel *m_date = nullptr;
    ChipText *m_bpmChip = nullptr;
    ChipText *m_keyChip = nullptr;
    HeaderSourceView *m_source = nullptr;
    GothicWaveformRule *m_rule = nullptr;
    PanelFrame *m_waveformFrame = nullptr;
    WaveformTrimView *m_timeline = nullptr;
    QLabel *m_waveformErrorText = nullptr;
    PanelFrame *m_rail = nullptr;
    RailButton *m_play = nullptr;
    RailButton *m_loop = nullptr;
    RailButton *m_findLoop = nullptr;
    RailButton *m_zoomOut = nullptr;
    RailButton *m_zoomIn = nullptr;
    RailButton *m_zoomReset = nullptr;
    RailButton *m_undo = nullptr;
    RailButton *m_saveTrim = nullptr;
    RailButton *m_analyze = nullptr;
    RailButton *m_reveal = nullptr;
    RailButton *m_delete = nullptr;
    QLabel *m_selectionText = nullptr;
    QLabel *m_loopText = nullptr;
    PanelFrame *m_metadata = nullptr;
    ElidedButton *m_fileValue = nullptr;
    QLabel *m_durationValue = nullptr;
    QLabel *m_formatValue = nullptr;
    QLabel *m_bpmValue = nullptr;
    QLabel *m_keyValue = nullptr;
    QList<QLabel *> m_metadataTitles;
};
