#pragma once

#include "capture/CaptureState.h"
#include "library/RecordingInputSource.h"

#include <QAbstractButton>
#include <QList>
#include <optional>

class BusySpinner;
class PulseAnimation;

/// A record toggle of the toolbar whose face follows the capture state: a spinner while its
/// source prepares or saves, a pulsing red face while it records.
class ToolbarFaceButton : public QAbstractButton {
    Q_OBJECT
public:
    /// Shows \a state of a take from \a activeSource (none between takes).
    void setCaptureState(const CaptureState &state, std::optional<RecordingInputSource> activeSource);
    /// True while one of this button's sources records.
    [[nodiscard]] bool isActive() const;
    /// True while one of this button's sources prepares or saves.
    [[nodiscard]] bool isWorking() const;
    /// 0...1: how far the recording face has faded towards its dim end.
    [[nodiscard]] double pulse() const;
    [[nodiscard]] bool isPulsing() const;
    [[nodiscard]] QSize sizeHint() const override;

protected:
    /// A toggle of the takes of \a sources.
    ToolbarFaceButton(QList<RecordingInputSource> sources, QWidget *parent);
    /// The face's width in the current state; its height is 24.
    [[nodiscard]] virtual int faceWidth() const = 0;
    /// Paints the face (not shown while working).
    virtual void paintFace(QPainter &painter) = 0;
    /// Sets the accessible name and help text for the current state.
    virtual void describe() = 0;
    [[nodiscard]] const CaptureState &state() const { return m_state; }
    [[nodiscard]] std::optional<RecordingInputSource> activeSource() const { return m_activeSource; }
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void followActivity();

    QList<RecordingInputSource> m_sources;
    CaptureState m_state;
    std::optional<RecordingInputSource> m_activeSource;
    BusySpinner *m_spinner;
    PulseAnimation *m_pulse;
};
