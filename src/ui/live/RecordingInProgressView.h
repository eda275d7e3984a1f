#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QWidget>

class ElapsedClock;
class ElidedLabel;
class GlassControlRail;
class LiveRecordingWaveformView;
class QLabel;
class QPushButton;
class RecordingBadge;
class RecordingLibraryStore;
class ThemedPanel;

/// The detail pane while a take is prepared, recorded or saved: its phase, file, elapsed time,
/// live waveform and the stop button on the space bar.
class RecordingInProgressView : public QWidget {
    Q_OBJECT
public:
    RecordingInProgressView(RecordingLibraryStore &store, AppThemeChoice theme, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString subtitle() const;
    [[nodiscard]] QPushButton *stopButton() const { return m_stop; }

private:
    void showState();
    void showFile();
    void showStatus();

    RecordingLibraryStore &m_store;
    AppThemeChoice m_theme;
    RecordingBadge *m_badge;
    QLabel *m_title;
    ElidedLabel *m_subtitle;
    ElapsedClock *m_clock;
    ThemedPanel *m_waveformPanel;
    LiveRecordingWaveformView *m_waveform;
    GlassControlRail *m_rail;
    QPushButton *m_stop;
    ElidedLabel *m_status;
};
