#pragma once

#include "editor/TrimRange.h"

#include <QObject>
#include <optional>

class Clock;
class Timer;

/// The trim selection of the recording in the editor, with one undoable edit: a burst of
/// handle moves settles 0.45 s after the last one and can then be undone as a whole, while a
/// selection written by the editor itself (loading, loops, undo) bypasses the settling.
class TrimSelectionModel : public QObject {
    Q_OBJECT
public:
    /// How long after the last move an edit settles.
    static constexpr int settleMilliseconds = 450;

    /// \a clock outlives the model.
    explicit TrimSelectionModel(Clock &clock, QObject *parent = nullptr);

    [[nodiscard]] TrimRange range() const { return m_range; }
    [[nodiscard]] double duration() const { return m_duration; }
    /// The range the undo restores; none when there is nothing to undo.
    [[nodiscard]] const std::optional<TrimRange> &undoRange() const { return m_undoRange; }
    /// True between an edit and its settling.
    [[nodiscard]] bool isEditing() const { return m_pendingBase.has_value(); }

    /// Shows a new recording: the stored trim (start 0 and end the duration when absent or
    /// invalid), no pending edit and nothing to undo.
    void load(double duration, std::optional<double> storedStart, std::optional<double> storedEnd);
    /// A change made by the user on the timeline; undo is offered at once and settles later.
    void edit(TrimRange range);
    /// Writes \a requested kept inside the recording with the 0.02 s minimum length; with
    /// \a recordUndo the range it replaces becomes the undo.
    void setRange(TrimRange requested, bool recordUndo);
    /// Restores the undo range; false when there is none.
    bool undo();

signals:
    /// The range changed, by an edit or by the editor.
    void rangeChanged();
    void undoRangeChanged();

private:
    void commitPendingUndo();
    void write(TrimRange range);
    void setUndoRange(std::optional<TrimRange> range);

    Timer *m_settle;
    double m_duration = 0;
    TrimRange m_range;
    std::optional<TrimRange> m_lastCommitted;
    std::optional<TrimRange> m_pendingBase;
    std::optional<TrimRange> m_undoRange;
};
