#include "editor/RecordingEditor.h"

#include "analysis/LoopFinderService.h"
#include "base/Logging.h"
#include "editor/EnvelopeRequest.h"
#include "editor/LibraryEnvelopeSource.h"
#include "editor/TrimSelectionModel.h"
#include "library/Formatters.h"
#include "media/AudioPlaybackService.h"
#include "platform/Clock.h"
#include "platform/Timer.h"
#include "store/RecordingLibraryStore.h"

#include <QPointer>
#include <utility>

namespace {
/// Loop search needs this much envelope and audio.
constexpr int minimumLoopPeaks = 32;
constexpr double minimumLoopDuration = 1.0;
constexpr int loopSuggestionLimit = 6;
} // namespace

RecordingEditor::RecordingEditor(RecordingLibraryStore &store, QObject *parent)
    : RecordingEditor(store, nullptr, nullptr, parent)
{}

RecordingEditor::RecordingEditor(RecordingLibraryStore &store, AudioPlaybackService *player,
                                 std::unique_ptr<EnvelopeSource> envelopes, QObject *parent)
    : QObject(parent), m_store(store), m_player(player ? player : new AudioPlaybackService(this)),
      m_loopFinder(new LoopFinderService(this)), m_trim(new TrimSelectionModel(store.clock(), this)),
      m_envelopes(envelopes ? std::move(envelopes) : std::make_unique<LibraryEnvelopeSource>(store.waveforms())),
      m_previewPause(store.clock().createTimer(this))
{
    connect(m_previewPause, &Timer::timeout, this, &RecordingEditor::showNextPreview);
    m_player->setParent(this);
    connect(m_trim, &TrimSelectionModel::rangeChanged, this, [this] {
        updatePlaybackSelection();
        emit commandsChanged();
    });
    connect(m_trim, &TrimSelectionModel::undoRangeChanged, this, &RecordingEditor::commandsChanged);
    connect(m_player, &AudioPlaybackService::isPlayingChanged, this, &RecordingEditor::commandsChanged);
    connect(m_player, &AudioPlaybackService::failed, this,
            [this](const QString &text) { m_store.setStatusMessage(text); });

    connect(&m_store, &RecordingLibraryStore::selectedIDsChanged, this, &RecordingEditor::followSelection);
    connect(&m_store, &RecordingLibraryStore::recordingsChanged, this, &RecordingEditor::followSelection);
    connect(&m_store, &RecordingLibraryStore::recordingMoved, this, &RecordingEditor::followMove);
    connect(&m_store, &RecordingLibraryStore::captureStateChanged, this, &RecordingEditor::stopBeforeCapture);
    for (auto signal : {&RecordingLibraryStore::isTrimmingChanged, &RecordingLibraryStore::isAnalyzingChanged,
                        &RecordingLibraryStore::lastSavedTrimUndoChanged})
        connect(&m_store, signal, this, &RecordingEditor::commandsChanged);
    followSelection();
}

RecordingEditor::~RecordingEditor() = default;

void RecordingEditor::followSelection()
{
    const auto item = m_store.selectedItem();
    if (!item) {
        m_player->stop();
        return;
    }
    setRecording(*item);
}

void RecordingEditor::followMove(const QString &from, const QString &to)
{
    if (!m_item || m_item->url != from)
        return;
    m_item->url = to;
    emit itemChanged();
}

void RecordingEditor::setRecording(const RecordingItem &item)
{
    if (!m_item || m_item->url != item.url) {
        load(item);
        return;
    }
    if (*m_item == item)
        return;
    m_item = item;
    emit itemChanged();
    emit commandsChanged();
}

void RecordingEditor::load(const RecordingItem &item)
{
    // The envelope still being read for the take before is not wanted any more.
    m_envelopeRequest.reset();
    m_previewPause->stop();
    m_nextPreview.reset();
    ++m_loadGeneration;
    m_item = item;
    m_player->stop();
    m_viewport = WaveformViewport{item.duration, 1, 0};
    m_trim->load(item.duration, item.metadata.trimStart, item.metadata.trimEnd);
    m_isLoadingWaveform = true;
    m_waveformError.reset();
    m_loopSuggestionMessage.reset();
    m_loops.reset();
    m_peaks.clear();
    emit recordingChanged();
    emit commandsChanged();

    m_envelopeRequest = m_envelopes->load(item.url, peakCount);
    connect(m_envelopeRequest.get(), &EnvelopeRequest::delivered, this, &RecordingEditor::takeEnvelope);
    connect(m_envelopeRequest.get(), &EnvelopeRequest::failed, this, &RecordingEditor::failEnvelope);
}

void RecordingEditor::takeEnvelope(const QVector<float> &peaks, bool complete)
{
    if (!m_isLoadingWaveform)
        return;
    // Each coarse envelope repaints the whole waveform; on a busy machine that takes the cores
    // the decoding needs, so they are shown at most once per pause.
    if (!complete && m_previewPause->isActive()) {
        m_nextPreview = peaks;
        return;
    }
    m_nextPreview.reset();
    if (complete)
        m_previewPause->stop();
    else
        m_previewPause->start(previewPause, false);
    m_peaks = peaks;
    m_isLoadingWaveform = !complete;
    emit peaksChanged();
    if (complete)
        emit waveformLoaded();
    emit commandsChanged();
}

void RecordingEditor::showNextPreview()
{
    if (auto next = std::exchange(m_nextPreview, std::nullopt))
        takeEnvelope(*next, false);
}

void RecordingEditor::failEnvelope(const QString &text)
{
    if (!m_isLoadingWaveform)
        return;
    m_peaks.clear();
    m_waveformError = text;
    m_isLoadingWaveform = false;
    emit peaksChanged();
    emit waveformLoaded();
    emit commandsChanged();
}

void RecordingEditor::togglePlayback()
{
    if (m_player->isPlaying()) {
        m_player->stop();
        return;
    }
    if (!m_item)
        return;
    const auto range = m_trim->range();
    m_player->play(m_item->url, range.start, range.end, m_loopEnabled);
}

void RecordingEditor::stopPlayback()
{
    m_player->stop();
}

void RecordingEditor::setLoopEnabled(bool enabled)
{
    m_loopEnabled = enabled;
    updatePlaybackSelection();
    emit loopChanged();
    emit commandsChanged();
}

void RecordingEditor::updatePlaybackSelection()
{
    const auto range = m_trim->range();
    m_player->updateSelection(range.start, range.end, m_loopEnabled);
}

QCoro::Task<> RecordingEditor::findLoop()
{
    if (m_isFindingLoop || !m_item)
        co_return;
    if (!m_loops.isEmpty()) {
        if (const auto next = m_loops.advance())
            applyLoopSuggestion(*next);
        co_return;
    }
    QPointer<RecordingEditor> self(this);
    const auto generation = m_loadGeneration;
    const auto item = *m_item;
    m_isFindingLoop = true;
    setLoopSuggestionMessage(std::nullopt);
    emit commandsChanged();
    QVector<LoopSuggestion> found;
    try {
        auto task = m_loopFinder->findLoops(m_peaks, item.duration, item.metadata.bpm, loopSuggestionLimit);
        found = co_await std::move(task);
    } catch (const std::exception &error) {
        // The finder reports nothing found as an empty list; a failure reads the same.
        logIgnoredFailure(lcUi(), error);
    }
    if (!self)
        co_return;
    m_isFindingLoop = false;
    if (generation == m_loadGeneration) {
        m_loops.reset(found);
        if (const auto first = m_loops.current())
            applyLoopSuggestion(*first);
        else
            setLoopSuggestionMessage(QStringLiteral("No loop candidate found."));
    }
    emit commandsChanged();
}

void RecordingEditor::applyLoopSuggestion(const LoopSuggestion &suggestion)
{
    m_trim->setRange({suggestion.start, suggestion.end}, true);
    setLoopEnabled(true);
    const auto duration = m_item ? m_item->duration : 0;
    const auto length = suggestion.end - suggestion.start;
    if (length > 0 && length < duration)
        setWaveformZoom(LoopSuggestionCycle::zoomFor(length, duration, m_viewport.zoom),
                        (suggestion.start + suggestion.end) / 2);
    setLoopSuggestionMessage(m_loops.message(suggestion.start, suggestion.end));
    if (m_item) {
        const auto range = m_trim->range();
        m_player->play(m_item->url, range.start, range.end, true);
    }
}

void RecordingEditor::performUndo()
{
    if (m_trim->undoRange()) {
        setLoopSuggestionMessage(std::nullopt);
        m_loops.reset();
        m_trim->undo();
        return;
    }
    if (m_item && m_store.canUndoSavedTrim(*m_item)) {
        m_player->stop();
        m_store.undoSavedTrim(*m_item);
    }
}

void RecordingEditor::editTrim(TrimRange range)
{
    m_trim->edit(range);
}

QString RecordingEditor::undoHelpText() const
{
    if (m_trim->undoRange())
        return QStringLiteral("Undo Trim Change");
    if (m_item && m_store.canUndoSavedTrim(*m_item))
        return QStringLiteral("Undo Saved Trim");
    return QStringLiteral("Undo");
}

QString RecordingEditor::selectionText() const
{
    const auto range = m_trim->range();
    return TimeText::editorClock(range.start) + QStringLiteral(" - ") + TimeText::editorClock(range.end);
}

bool RecordingEditor::canUndo() const
{
    return m_trim->undoRange().has_value() || (m_item && m_store.canUndoSavedTrim(*m_item));
}

bool RecordingEditor::canFindLoop() const
{
    return m_item && !m_isLoadingWaveform && m_peaks.size() >= minimumLoopPeaks
        && m_item->duration >= minimumLoopDuration;
}

bool RecordingEditor::canSaveTrim() const
{
    const auto range = m_trim->range();
    return m_item && !m_store.isTrimming() && range.end - range.start >= minimumTrimLength;
}

bool RecordingEditor::canAnalyze() const
{
    return m_item && !m_store.isAnalyzing();
}

void RecordingEditor::setViewport(double zoom, double start)
{
    m_viewport.zoom = zoom;
    m_viewport.start = start;
    m_viewport.clamp();
    emit viewportChanged();
}

void RecordingEditor::adjustWaveformZoom(double factor)
{
    const auto range = m_trim->range();
    const auto anchor = m_player->isPlaying() ? m_player->currentTime() : (range.start + range.end) / 2;
    setWaveformZoom(factor * m_viewport.zoom, anchor);
}

void RecordingEditor::resetZoom()
{
    m_viewport.zoom = 1;
    m_viewport.start = 0;
    emit viewportChanged();
}

void RecordingEditor::setWaveformZoom(double zoom, double anchorTime)
{
    m_viewport.zoomAround(zoom, anchorTime);
    emit viewportChanged();
}

void RecordingEditor::keepTimeVisible(double time)
{
    const auto before = m_viewport.start;
    m_viewport.keepVisible(time);
    if (m_viewport.start != before)
        emit viewportChanged();
}

void RecordingEditor::saveTrim()
{
    if (!canSaveTrim())
        return;
    const auto range = m_trim->range();
    m_store.trim(*m_item, range.start, range.end);
}

void RecordingEditor::analyze()
{
    if (canAnalyze())
        m_store.analyze(m_item->url);
}

bool RecordingEditor::canChooseFigures() const
{
    return m_item && !m_store.isAnalyzing();
}

void RecordingEditor::chooseTempo(double bpm)
{
    if (canChooseFigures())
        m_store.chooseTempo(m_item->url, bpm);
}

void RecordingEditor::chooseKey(const QString &key)
{
    if (canChooseFigures())
        m_store.chooseKey(m_item->url, key);
}

void RecordingEditor::deleteRecording()
{
    if (!m_item)
        return;
    m_player->stop();
    m_store.deleteRecordings({*m_item});
}

void RecordingEditor::setLoopSuggestionMessage(std::optional<QString> message)
{
    m_loopSuggestionMessage = std::move(message);
    emit loopChanged();
}

void RecordingEditor::stopBeforeCapture()
{
    if (m_store.captureState().isTaking())
        m_player->stop();
}
