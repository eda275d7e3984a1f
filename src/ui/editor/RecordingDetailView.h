#pragma once

#include "library/RecordingItem.h"

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <optional>

class ChipText;
class ElidedButton;
class ElidedLabel;
class GothicWaveformRule;
class HeaderSourceView;
class PanelFrame;
class QGridLayout;
class QLabel;
class QTimer;
class RailButton;
class RecordingEditor;
class ThemeController;
class WaveformTrimView;

/// The detail editor's widgets for the take of a RecordingEditor: header, waveform timeline,
/// control rail and metadata. It shows what the editor holds and calls its commands.
class RecordingDetailView : public QWidget {
    Q_OBJECT
public:
    /// \a editor and \a theme outlive the view.
    RecordingDetailView(RecordingEditor &editor, ThemeController &theme, QWidget *parent = nullptr);
    ~RecordingDetailView() override;

    [[nodiscard]] RecordingEditor &editor() const { return m_editor; }
    [[nodiscard]] WaveformTrimView &timeline() const { return *m_timeline; }
    /// Asks to move the recording to the trash; confirming stops playback and trashes it.
    void confirmDelete();

signals:
    /// The header's source line asks to open the recording's source.
    void openSourceRequested(const RecordingItem &item);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildRail();
    QWidget *buildMetadata();
    void applyTheme();
    void showRecording();
    void showItemTexts();
    void showPeaks();
    void showTrim();
    void showViewport();
    void showLoop();
    void showPlayback(bool playing);
    void updateControls();
    /// Moves the playhead on from the last tick by the time passed since.
    void advancePlayhead();
    void showPlayhead(double time);
    /// Dims \a chip for a low \a confidence and lets it offer alternatives when there are any.
    void showConfidence(ChipText &chip, std::optional<double> confidence, bool hasAlternatives);
    /// A menu under \a chip of the stored figure and \a choices (text and command each).
    void offerChoices(ChipText &chip, const QString &current,
                      const QVector<std::pair<QString, std::function<void()>>> &choices);
    void offerTempoChoices();
    void offerKeyChoices();

    RecordingEditor &m_editor;
    ThemeController &m_theme;
    QTimer *m_frameTimer;      ///< moves the playhead at the display's rate while playing
    QElapsedTimer m_sinceTick; ///< since the player's last time tick
    double m_tickTime = 0;     ///< the time of that tick

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
