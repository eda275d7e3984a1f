#include "editor/TrimSelectionModel.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cmath>

namespace {
/// The shortest selection the editor writes.
constexpr double minimumLength = 0.02;
} // namespace

TrimSelectionModel::TrimSelectionModel(Clock &clock, QObject *parent)
    : QObject(parent), m_settle(clock.createTimer(this))
{
    connect(m_settle, &Timer::timeout, this, &TrimSelectionModel::commitPendingUndo);
}

void TrimSelectionModel::load(double duration, std::optional<double> storedStart, std::optional<double> storedEnd)
{
    m_settle->stop();
    m_pendingBase.reset();
    setUndoRange(std::nullopt);
    m_duration = std::isfinite(duration) ? std::max(duration, 0.0) : 0;
    const auto start = std::max(storedStart.value_or(0), 0.0);
    auto end = storedEnd.value_or(m_duration);
    if (end <= start || end > m_duration)
        end = m_duration;
    write({std::isfinite(start) ? start : 0, end});
    m_lastCommitted = m_range;
}

void TrimSelectionModel::edit(TrimRange range)
{
    write(range);
    if (!m_lastCommitted || *m_lastCommitted == m_range)
        return;
    if (!m_pendingBase) {
        m_pendingBase = m_lastCommitted;
        setUndoRange(m_lastCommitted);
    }
    m_settle->start(std::chrono::milliseconds(settleMilliseconds), false);
}

void TrimSelectionModel::commitPendingUndo()
{
    if (m_pendingBase) {
        const auto base = *m_pendingBase;
        m_pendingBase.reset();
        m_settle->stop();
        if (m_range != base)
            setUndoRange(base);
        else if (m_undoRange == base)
            setUndoRange(std::nullopt);
    }
    m_lastCommitted = m_range;
}

void TrimSelectionModel::setRange(TrimRange requested, bool recordUndo)
{
    m_settle->stop();
    m_pendingBase.reset();
    if (recordUndo && m_range != requested)
        setUndoRange(m_range);
    TrimRange range;
    if (m_duration < minimumLength) {
        range = {0, m_duration};
    } else {
        range.start = std::isfinite(requested.start) ? std::clamp(requested.start, 0.0, m_duration - minimumLength) : 0;
        const auto end = std::isfinite(requested.end) ? requested.end : m_duration;
        range.end = std::min(m_duration, std::max(end, range.start + minimumLength));
    }
    write(range);
    m_lastCommitted = m_range;
}

bool TrimSelectionModel::undo()
{
    if (!m_undoRange)
        return false;
    const auto range = *m_undoRange;
    setUndoRange(std::nullopt);
    setRange(range, false);
    return true;
}

void TrimSelectionModel::write(TrimRange range)
{
    if (m_range == range)
        return;
    m_range = range;
    emit rangeChanged();
}

void TrimSelectionModel::setUndoRange(std::optional<TrimRange> range)
{
    if (m_undoRange == range)
        return;
    m_undoRange = range;
    emit undoRangeChanged();
}
