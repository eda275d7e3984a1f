#include "ui/editor/RecordingDetailView.h"

#include "analysis/AudioAnalyzer.h"
#include "analysis/LoopFinderService.h"
#include "base/AppError.h"
#include "editor/TrimSelectionModel.h"
#include "library/Formatters.h"
#include "media/AudioPlaybackService.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "ui/common/ElidedButton.h"
#include "ui/common/ElidedLabel.h"
#include "ui/common/FileBrowser.h"
#include "ui/editor/ChipText.h"
#include "ui/editor/GothicWaveformRule.h"
#include "ui/editor/HeaderSourceView.h"
#include "ui/editor/RailButton.h"
#include "ui/editor/RailRowLayout.h"
#include "ui/editor/WaveformTrimView.h"
#include "ui/style/PanelFrame.h"
#include "ui/style/TextStyles.h"
#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneTheme.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

using namespace VespertoneTheme;

namespace {
/// The shortest selection a trim saves.
constexpr double minimumTrimLength = 0.02;
/// Loop search needs this much envelope and audio.
constexpr int minimumLoopPeaks = 32;
constexpr double minimumLoopDuration = 1.0;
constexpr int loopSuggestionLimit = 6;
/// How far the playhead runs on past the player's last tick.
constexpr double maximumExtrapolation = 0.1;

std::optional<PanelParameters> waveformFrameStyle(AppThemeChoice theme)
{
    if (theme == AppThemeChoice::studioGlass)
        return std::nullopt;
    return PanelParameters{16, Material::thin, 0.18, 0.38, 0.35};
}

std::optional<PanelParameters> railStyle(AppThemeChoice theme)
{
    auto parameters = panel(PanelUse::controlRail, theme);
    parameters.cornerRadius = 14;
    return parameters;
}

std::optional<PanelParameters> metadataStyle(AppThemeChoice theme)
{
    if (theme == AppThemeChoice::studioGlass)
        return PanelParameters{12, Material::ultraThin, 0.08, 0.12, 0.14};
    return PanelParameters{12, Material::thin, 0.40, 0.26, 0.16};
}

QLabel *label(const QFont &font, QWidget *parent)
{
    auto *text = new QLabel(parent);
    text->setFont(font);
    text->setTextInteractionFlags(Qt::NoTextInteraction);
    return text;
}
} // namespace

RecordingDetailView::RecordingDetailView(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent)
    : RecordingDetailView(store, theme, nullptr, nullptr, parent)
{}

RecordingDetailView::RecordingDetailView(RecordingLibraryStore &store, ThemeController &theme, Clock *clock,
                                         AudioPlaybackService *player, QWidget *parent)
    : QWidget(parent), m_store(store), m_theme(theme), m_ownClock(clock ? nullptr : std::make_unique<SystemClock>()),
      m_player(player ? player : new AudioPlaybackService(this)), m_analyzer(new AudioAnalyzer(this)),
      m_loopFinder(new LoopFinderService(this)), m_trim(new TrimSelectionModel(clock ? *clock : *m_ownClock, this)),
      m_frameTimer(new QTimer(this))
{
    m_player->setParent(this);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 16, 20, 16);
    column->setSpacing(10);
    column->addWidget(buildHeader());
    m_rule = new GothicWaveformRule(this);
    column->addWidget(m_rule);

    m_waveformFrame = new PanelFrame(waveformFrameStyle, this);
    auto *frameColumn = new QVBoxLayout(m_waveformFrame);
    m_timeline = new WaveformTrimView(m_waveformFrame);
    m_waveformErrorText = label(TextStyles::caption(), m_waveformFrame);
    m_waveformErrorText->setWordWrap(true);
    frameColumn->addWidget(m_timeline, 1);
    frameColumn->addWidget(m_waveformErrorText);
    column->addWidget(m_waveformFrame, 3);

    column->addWidget(buildRail());
    auto *texts = new QHBoxLayout;
    m_selectionText = label(TextStyles::callout(QFont::Medium), this);
    m_loopText = label(TextStyles::callout(), this);
    texts->addWidget(m_selectionText);
    texts->addSpacing(16);
    texts->addWidget(m_loopText, 1);
    column->addLayout(texts);
    column->addWidget(buildMetadata());
    column->addStretch(1);

    connect(m_trim, &TrimSelectionModel::rangeChanged, this, [this] {
        showTrim();
        updatePlaybackSelection();
        updateControls();
    });
    connect(m_trim, &TrimSelectionModel::undoRangeChanged, this, &RecordingDetailView::updateControls);
    connect(m_timeline, &WaveformTrimView::trimEdited, m_trim, &TrimSelectionModel::edit);
    connect(m_timeline, &WaveformTrimView::viewportEdited, this, [this](double zoom, double start) {
        m_viewport.zoom = zoom;
        m_viewport.start = start;
        m_viewport.clamp();
        showViewport();
    });
    m_frameTimer->setTimerType(Qt::PreciseTimer);
    connect(m_frameTimer, &QTimer::timeout, this, &RecordingDetailView::advancePlayhead);
    connect(m_player, &AudioPlaybackService::isPlayingChanged, this, [this](bool playing) {
        if (playing) {
            m_tickTime = m_player->currentTime();
            m_sinceTick.start();
            // Between the player's ticks the playhead moves on at the display's rate.
            const auto *display = screen();
            const auto rate = display && display->refreshRate() > 1 ? display->refreshRate() : 60.0;
            m_frameTimer->start(int(1000 / rate));
            showPlayhead(m_tickTime);
        } else {
            m_frameTimer->stop();
            m_timeline->setPlayheadTime(std::nullopt);
        }
        updateControls();
    });
    connect(m_player, &AudioPlaybackService::currentTimeChanged, this, [this](double time) {
        // The frame timer draws it.
        m_tickTime = time;
        m_sinceTick.start();
    });
    connect(m_player, &AudioPlaybackService::failed, &m_store,
            [this](const QString &text) { m_store.setStatusMessage(text); });
    connect(m_source, &HeaderSourceView::clicked, this, [this] {
        if (m_item)
            emit openSourceRequested(*m_item);
    });

    connect(&m_store, &RecordingLibraryStore::selectedIDsChanged, this, &RecordingDetailView::followSelection);
    connect(&m_store, &RecordingLibraryStore::recordingsChanged, this, &RecordingDetailView::followSelection);
    connect(&m_store, &RecordingLibraryStore::isTrimmingChanged, this, &RecordingDetailView::updateControls);
    connect(&m_store, &RecordingLibraryStore::isAnalyzingChanged, this, &RecordingDetailView::updateControls);
    connect(&m_store, &RecordingLibraryStore::lastSavedTrimUndoChanged, this, &RecordingDetailView::updateControls);
    connect(&m_store, &RecordingLibraryStore::captureStateChanged, this, &RecordingDetailView::stopBeforeCapture);
    connect(&m_theme, &ThemeController::themeChanged, this, &RecordingDetailView::applyTheme);

    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, &RecordingDetailView::togglePlayback);
    auto *undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, this, &RecordingDetailView::performUndo);

    applyTheme();
    followSelection();
    updateControls();
}

RecordingDetailView::~RecordingDetailView() = default;

QWidget *RecordingDetailView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    // A long name shortens in its middle and leaves the chips in place.
    m_title = new ElidedLabel(header);
    m_title->setFont(TextStyles::sized(22, QFont::Bold));
    m_bpmChip = new ChipText(header);
    m_keyChip = new ChipText(header);
    titleRow->addWidget(m_title, 1);
    titleRow->addWidget(m_bpmChip);
    titleRow->addWidget(m_keyChip);
    column->addLayout(titleRow);
    m_date = label(TextStyles::callout(), header);
    column->addWidget(m_date);
    m_source = new HeaderSourceView(header);
    column->addWidget(m_source);
    return header;
}

QWidget *RecordingDetailView::buildRail()
{
    using Symbol = RailButton::Symbol;
    m_rail = new PanelFrame(railStyle, this);
    auto *row = new RailRowLayout(m_rail);
    row->setContentsMargins(6 + int(controlRailPadding), 6 + int(controlRailPadding), 6 + int(controlRailPadding),
                            6 + int(controlRailPadding));
    row->setSpacing(6);
    auto add = [this, row](Symbol symbol, const QString &text, const QString &help, auto slot) {
        auto *button = new RailButton(symbol, text, m_rail);
        button->setToolTip(help);
        connect(button, &RailButton::clicked, this, slot);
        row->addWidget(button);
        return button;
    };
    m_play = add(Symbol::play, QStringLiteral("Play Selection"), QStringLiteral("Play Selection"),
                 &RecordingDetailView::togglePlayback);
    // Play and Stop take one width, so nothing to their right moves when playback starts.
    m_play->setFaceTexts({QStringLiteral("Play Selection"), QStringLiteral("Stop")});
    m_loop = add(Symbol::loop, QStringLiteral("Loop"), QStringLiteral("Loop Selection"),
                 [this] { setLoopEnabled(!m_loopEnabled); });
    m_loop->setAccessibleName(QStringLiteral("Loop Selection"));
    m_loop->setCheckable(true);
    m_findLoop =
        add(Symbol::findLoop, QStringLiteral("Find Loop"), QStringLiteral("Find Loop"), [this] { findLoop(); });
    row->addSpacing(6);
    m_zoomOut = add(Symbol::zoomOut, QStringLiteral("Zoom Out"), QStringLiteral("Zoom Out"),
                    [this] { adjustWaveformZoom(2.0 / 3.0); });
    m_zoomIn =
        add(Symbol::zoomIn, QStringLiteral("Zoom In"), QStringLiteral("Zoom In"), [this] { adjustWaveformZoom(1.5); });
    m_zoomReset = add(Symbol::resetZoom, QStringLiteral("Reset Zoom"), QStringLiteral("Reset Zoom"),
                      &RecordingDetailView::resetZoom);
    for (auto *button : {m_zoomOut, m_zoomIn, m_zoomReset})
        button->setSymbolOnly(true);
    row->addSpacing(6);
    m_undo = add(Symbol::undo, QStringLiteral("Undo"), QStringLiteral("Undo"), &RecordingDetailView::performUndo);
    m_undo->setSymbolOnly(true);
    m_saveTrim = add(Symbol::scissors, QStringLiteral("Save Trim"), QStringLiteral("Save Trim"), [this] {
        if (m_item)
            m_store.trim(*m_item, m_trim->range().start, m_trim->range().end);
    });
    m_analyze = add(Symbol::metronome, QStringLiteral("Analyze"), QStringLiteral("Analyze"), [this] {
        if (m_item)
            m_store.analyze(m_item->url);
    });
    row->addStretch(1);
    m_reveal = add(Symbol::reveal, QStringLiteral("Reveal"), QStringLiteral("Show in Folder"), [this] {
        if (m_item)
            FileBrowser::showInFolder(m_item->url);
    });
    m_reveal->setSymbolOnly(true);
    m_delete = add(Symbol::trash, QStringLiteral("Delete"), QStringLiteral("Move Recording to Trash"),
                   &RecordingDetailView::confirmDelete);
    m_delete->setSymbolOnly(true);
    return m_rail;
}

QWidget *RecordingDetailView::buildMetadata()
{
    m_metadata = new PanelFrame(metadataStyle, this);
    auto *grid = new QGridLayout(m_metadata);
    grid->setContentsMargins(22, 16, 22, 16);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(2);
    const QStringList titles{QStringLiteral("File"), QStringLiteral("Duration"), QStringLiteral("Format"),
                             QStringLiteral("BPM"), QStringLiteral("Key")};
    for (int column = 0; column < titles.size(); ++column) {
        auto *title = label(TextStyles::caption(), m_metadata);
        title->setText(titles[column]);
        m_metadataTitles.append(title);
        grid->addWidget(title, 0, column);
    }
    m_fileValue = new ElidedButton(m_metadata);
    m_fileValue->setToolTip(QStringLiteral("Show in Folder"));
    m_fileValue->setFont(TextStyles::callout(QFont::Medium));
    connect(m_fileValue, &ElidedButton::clicked, this, [this] {
        if (m_item)
            FileBrowser::showInFolder(m_item->url);
    });
    grid->addWidget(m_fileValue, 1, 0);
    m_durationValue = label(TextStyles::callout(QFont::Medium), m_metadata);
    m_formatValue = label(TextStyles::callout(QFont::Medium), m_metadata);
    m_bpmValue = label(TextStyles::callout(QFont::Medium), m_metadata);
    m_keyValue = label(TextStyles::callout(QFont::Medium), m_metadata);
    grid->addWidget(m_durationValue, 1, 1);
    grid->addWidget(m_formatValue, 1, 2);
    grid->addWidget(m_bpmValue, 1, 3);
    grid->addWidget(m_keyValue, 1, 4);
    grid->setColumnStretch(0, 3);
    for (int column = 1; column < 5; ++column)
        grid->setColumnStretch(column, 1);
    return m_metadata;
}

void RecordingDetailView::followSelection()
{
    if (const auto item = m_store.selectedItem())
        setRecording(*item);
    else
        m_player->stop();
}

void RecordingDetailView::setRecording(const RecordingItem &item)
{
    const bool sameFile = m_item && m_item->url == item.url;
    m_item = item;
    showItemTexts();
    if (!sameFile)
        loadWaveform();
    updateControls();
}

QCoro::Task<> RecordingDetailView::loadWaveform()
{
    QPointer<RecordingDetailView> self(this);
    const auto generation = ++m_loadGeneration;
    const auto item = *m_item;
    m_player->stop();
    m_viewport = WaveformViewport{item.duration, 1, 0};
    m_trim->load(item.duration, item.metadata.trimStart, item.metadata.trimEnd);
    m_isLoadingWaveform = true;
    m_waveformError.reset();
    setLoopSuggestionMessage(std::nullopt);
    m_loops.reset();
    m_peaks.clear();
    m_timeline->setPeaks({}, item.duration);
    m_timeline->setLoading(true);
    showViewport();
    showTrim();
    updateControls();

    QVector<float> peaks;
    std::optional<QString> error;
    try {
        auto task = m_analyzer->waveformPeaks(item.url, peakCount);
        peaks = co_await std::move(task);
    } catch (const std::exception &failure) {
        error = errorText(failure);
    }
    if (!self || generation != m_loadGeneration)
        co_return;
    m_peaks = std::move(peaks);
    m_waveformError = error;
    m_isLoadingWaveform = false;
    m_timeline->setPeaks(m_peaks, item.duration);
    m_timeline->setLoading(false);
    m_waveformErrorText->setText(m_waveformError.value_or(QString()));
    m_waveformErrorText->setVisible(m_waveformError.has_value());
    updateControls();
    emit waveformLoaded();
}

void RecordingDetailView::togglePlayback()
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

void RecordingDetailView::setLoopEnabled(bool enabled)
{
    m_loopEnabled = enabled;
    updatePlaybackSelection();
    updateControls();
}

void RecordingDetailView::updatePlaybackSelection()
{
    const auto range = m_trim->range();
    m_player->updateSelection(range.start, range.end, m_loopEnabled);
}

QCoro::Task<> RecordingDetailView::findLoop()
{
    if (m_isFindingLoop || !m_item)
        co_return;
    if (!m_loops.isEmpty()) {
        if (const auto next = m_loops.advance())
            applyLoopSuggestion(*next);
        co_return;
    }
    QPointer<RecordingDetailView> self(this);
    const auto generation = m_loadGeneration;
    const auto item = *m_item;
    m_isFindingLoop = true;
    setLoopSuggestionMessage(std::nullopt);
    updateControls();
    QVector<LoopSuggestion> found;
    try {
        auto task = m_loopFinder->findLoops(m_peaks, item.duration, item.metadata.bpm, loopSuggestionLimit);
        found = co_await std::move(task);
    } catch (const std::exception &) {
        // The finder reports nothing found as an empty list; a failure reads the same.
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
    updateControls();
}

void RecordingDetailView::applyLoopSuggestion(const LoopSuggestion &suggestion)
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

void RecordingDetailView::performUndo()
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

QString RecordingDetailView::undoHelpText() const
{
    if (m_trim->undoRange())
        return QStringLiteral("Undo Trim Change");
    if (m_item && m_store.canUndoSavedTrim(*m_item))
        return QStringLiteral("Undo Saved Trim");
    return QStringLiteral("Undo");
}

QString RecordingDetailView::selectionText() const
{
    const auto range = m_trim->range();
    return TimeText::editorClock(range.start) + QStringLiteral(" - ") + TimeText::editorClock(range.end);
}

void RecordingDetailView::adjustWaveformZoom(double factor)
{
    const auto range = m_trim->range();
    const auto anchor = m_player->isPlaying() ? m_player->currentTime() : (range.start + range.end) / 2;
    setWaveformZoom(factor * m_viewport.zoom, anchor);
}

void RecordingDetailView::resetZoom()
{
    m_viewport.zoom = 1;
    m_viewport.start = 0;
    showViewport();
}

void RecordingDetailView::setWaveformZoom(double zoom, double anchorTime)
{
    m_viewport.zoomAround(zoom, anchorTime);
    showViewport();
}

void RecordingDetailView::advancePlayhead()
{
    // Real time since the last tick, at most a few ticks' worth; a loop folds it back to its start.
    auto time = m_tickTime + std::min(double(m_sinceTick.elapsed()) / 1000, maximumExtrapolation);
    const auto &selection = m_player->selection();
    if (selection.end && time >= *selection.end)
        time = selection.loop ? selection.start + (time - *selection.end) : *selection.end;
    showPlayhead(time);
}

void RecordingDetailView::showPlayhead(double time)
{
    keepTimeVisible(time);
    m_timeline->setPlayheadTime(time);
}

void RecordingDetailView::keepTimeVisible(double time)
{
    const auto before = m_viewport.start;
    m_viewport.keepVisible(time);
    if (m_viewport.start != before)
        showViewport();
}

void RecordingDetailView::setLoopSuggestionMessage(std::optional<QString> message)
{
    m_loopSuggestionMessage = std::move(message);
    m_loopText->setText(m_loopSuggestionMessage.value_or(QString()));
}

void RecordingDetailView::confirmDelete()
{
    if (!m_item)
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Move Recording to Trash"),
                                QStringLiteral("Move “%1” to the Trash?").arg(QFileInfo(m_item->url).fileName()),
                                QMessageBox::NoButton, this);
    auto *confirm = box->addButton(QStringLiteral("Move to Trash"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    const auto item = *m_item;
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm, item](QAbstractButton *button) {
        if (button != confirm)
            return;
        m_player->stop();
        m_store.deleteRecordings({item});
    });
    box->open();
}

void RecordingDetailView::stopBeforeCapture()
{
    const auto &state = m_store.captureState();
    if (state.isTaking())
        m_player->stop();
}

void RecordingDetailView::hideEvent(QHideEvent *event)
{
    // A minimised window keeps playing; a hidden editor does not.
    if (!event->spontaneous())
        m_player->stop();
    QWidget::hideEvent(event);
}

void RecordingDetailView::showItemTexts()
{
    if (!m_item)
        return;
    const auto &item = *m_item;
    const QFileInfo file(item.url);
    const auto &metadata = item.metadata;
    m_title->setText(file.completeBaseName());
    m_date->setText(AppDateFormatters::listDate(metadata.createdAt));
    m_bpmChip->setVisible(metadata.bpm.has_value());
    if (metadata.bpm)
        m_bpmChip->setText(roundedBPMText(*metadata.bpm));
    m_keyChip->setVisible(metadata.musicalKey.has_value());
    if (metadata.musicalKey)
        m_keyChip->setText(*metadata.musicalKey);
    m_source->setSource(metadata.source);
    m_fileValue->setText(file.fileName());
    m_durationValue->setText(TimeText::clock(item.duration));
    m_formatValue->setText(file.suffix().toUpper());
    m_bpmValue->setText(metadata.bpm ? roundedBPMText(*metadata.bpm) : QStringLiteral("Unknown"));
    m_keyValue->setText(metadata.musicalKey.value_or(QStringLiteral("Unknown")));
}

void RecordingDetailView::showTrim()
{
    m_timeline->setTrimRange(m_trim->range());
    m_selectionText->setText(selectionText());
}

void RecordingDetailView::showViewport()
{
    m_timeline->setViewport(m_viewport.zoom, m_viewport.start);
}

void RecordingDetailView::updateControls()
{
    const bool hasItem = m_item.has_value();
    const bool playing = m_player->isPlaying();
    m_play->setText(playing ? QStringLiteral("Stop") : QStringLiteral("Play Selection"));
    m_play->setAccessibleName(m_play->text());
    m_play->setSymbol(playing ? RailButton::Symbol::stop : RailButton::Symbol::play);
    m_play->setToolTip(playing ? QStringLiteral("Stop Playback") : QStringLiteral("Play Selection"));
    m_play->setEnabled(hasItem);
    m_loop->setChecked(m_loopEnabled);
    m_loop->setToolTip(m_loopEnabled ? QStringLiteral("Loop Selection On") : QStringLiteral("Loop Selection"));
    m_findLoop->setEnabled(hasItem && m_peaks.size() >= minimumLoopPeaks && m_item->duration >= minimumLoopDuration);
    m_undo->setToolTip(undoHelpText());
    m_undo->setEnabled(m_trim->undoRange().has_value() || (hasItem && m_store.canUndoSavedTrim(*m_item)));
    const auto range = m_trim->range();
    m_saveTrim->setEnabled(hasItem && !m_store.isTrimming() && range.end - range.start >= minimumTrimLength);
    m_analyze->setEnabled(hasItem && !m_store.isAnalyzing());
    for (auto *button : {m_zoomOut, m_zoomIn, m_zoomReset, m_reveal, m_delete})
        button->setEnabled(hasItem);
    m_selectionText->setText(selectionText());
}

void RecordingDetailView::applyTheme()
{
    const auto theme = m_theme.theme();
    const bool gothic = theme == AppThemeChoice::gothic;
    auto palette = darkAppearance(theme);
    palette.setColor(QPalette::Window, Qt::transparent);
    setPalette(palette);
    m_timeline->setTheme(theme);
    m_rule->setVisible(gothic);
    m_waveformFrame->setTheme(theme);
    // The gothic frame pads the timeline 18 points left and right.
    m_waveformFrame->layout()->setContentsMargins(gothic ? 24 : 0, gothic ? 16 : 0, gothic ? 24 : 0, gothic ? 12 : 0);
    m_rail->setTheme(theme);
    m_metadata->setTheme(theme);
    m_bpmChip->setTheme(theme);
    m_keyChip->setTheme(theme);
    m_source->setTheme(theme);
    for (auto *button : m_rail->findChildren<RailButton *>())
        button->setTheme(theme);
    const auto primary = gothic ? color(bone) : primaryText();
    const auto secondary = gothic ? color(dimBone) : secondaryText();
    const auto textColour = [](QWidget *widget, const QColor &colour) {
        auto palette = widget->palette();
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::ButtonText, colour);
        widget->setPalette(palette);
    };
    textColour(m_title, gothic ? color(lavender) : primary);
    textColour(m_date, secondary);
    textColour(m_selectionText, gothic ? color(lavender) : primary);
    textColour(m_loopText, secondary);
    textColour(m_waveformErrorText, secondary);
    for (auto *title : m_metadataTitles)
        textColour(title, secondary);
    for (QWidget *value : {static_cast<QWidget *>(m_fileValue), static_cast<QWidget *>(m_durationValue),
                           static_cast<QWidget *>(m_formatValue), static_cast<QWidget *>(m_bpmValue),
                           static_cast<QWidget *>(m_keyValue)})
        textColour(value, primary);
    update();
}
