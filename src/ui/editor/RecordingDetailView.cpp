#include "ui/editor/RecordingDetailView.h"

#include "editor/RecordingEditor.h"
#include "editor/TrimSelectionModel.h"
#include "library/Formatters.h"
#include "media/AudioPlaybackService.h"
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
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

using namespace VespertoneTheme;

namespace {
/// How far the playhead runs on past the player's last tick.
constexpr double maximumExtrapolation = 0.1;
/// Below this confidence a tempo or key chip is dimmed.
constexpr double lowConfidence = 0.5;

QString percentText(double confidence)
{
    return QStringLiteral("%1 %").arg(std::lround(confidence * 100));
}

QString tempoChoiceText(double bpm, std::optional<double> confidence)
{
    const auto tempo = QStringLiteral("%1 BPM").arg(bpm, 0, 'f', 1);
    return confidence ? tempo + QStringLiteral(" · ") + percentText(*confidence) : tempo;
}

QString keyChoiceText(const QString &key, std::optional<double> confidence)
{
    return confidence ? key + QStringLiteral(" · ") + percentText(*confidence) : key;
}

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

RecordingDetailView::RecordingDetailView(RecordingEditor &editor, ThemeController &theme, QWidget *parent)
    : QWidget(parent), m_editor(editor), m_theme(theme), m_frameTimer(new QTimer(this))
{
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

    auto &trim = m_editor.trimSelection();
    connect(&trim, &TrimSelectionModel::rangeChanged, this, &RecordingDetailView::showTrim);
    connect(m_timeline, &WaveformTrimView::trimEdited, &m_editor, &RecordingEditor::editTrim);
    connect(m_timeline, &WaveformTrimView::viewportEdited, &m_editor, &RecordingEditor::setViewport);
    m_frameTimer->setTimerType(Qt::PreciseTimer);
    connect(m_frameTimer, &QTimer::timeout, this, &RecordingDetailView::advancePlayhead);
    auto &player = m_editor.player();
    connect(&player, &AudioPlaybackService::isPlayingChanged, this, &RecordingDetailView::showPlayback);
    connect(&player, &AudioPlaybackService::currentTimeChanged, this, [this](double time) {
        // The frame timer draws it.
        m_tickTime = time;
        m_sinceTick.start();
    });
    connect(m_bpmChip, &ChipText::clicked, this, &RecordingDetailView::offerTempoChoices);
    connect(m_keyChip, &ChipText::clicked, this, &RecordingDetailView::offerKeyChoices);
    connect(m_source, &HeaderSourceView::clicked, this, [this] {
        if (m_editor.recording())
            emit openSourceRequested(*m_editor.recording());
    });

    connect(&m_editor, &RecordingEditor::recordingChanged, this, &RecordingDetailView::showRecording);
    connect(&m_editor, &RecordingEditor::itemChanged, this, &RecordingDetailView::showItemTexts);
    connect(&m_editor, &RecordingEditor::peaksChanged, this, &RecordingDetailView::showPeaks);
    connect(&m_editor, &RecordingEditor::viewportChanged, this, &RecordingDetailView::showViewport);
    connect(&m_editor, &RecordingEditor::loopChanged, this, &RecordingDetailView::showLoop);
    connect(&m_editor, &RecordingEditor::commandsChanged, this, &RecordingDetailView::updateControls);
    connect(&m_theme, &ThemeController::themeChanged, this, &RecordingDetailView::applyTheme);

    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, &m_editor, &RecordingEditor::togglePlayback);
    auto *undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, &m_editor, &RecordingEditor::performUndo);

    applyTheme();
    showRecording();
    showPlayback(player.isPlaying());
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
        connect(button, &RailButton::clicked, &m_editor, slot);
        row->addWidget(button);
        return button;
    };
    m_play = add(Symbol::play, QStringLiteral("Play Selection"), QStringLiteral("Play Selection"),
                 &RecordingEditor::togglePlayback);
    // Play and Stop take one width, so nothing to their right moves when playback starts.
    m_play->setFaceTexts({QStringLiteral("Play Selection"), QStringLiteral("Stop")});
    m_loop = add(Symbol::loop, QStringLiteral("Loop"), QStringLiteral("Loop Selection"),
                 [this] { m_editor.setLoopEnabled(!m_editor.loopEnabled()); });
    m_loop->setAccessibleName(QStringLiteral("Loop Selection"));
    m_loop->setCheckable(true);
    m_findLoop = add(Symbol::findLoop, QStringLiteral("Find Loop"), QStringLiteral("Find Loop"),
                     [this] { m_editor.findLoop(); });
    row->addSpacing(6);
    m_zoomOut = add(Symbol::zoomOut, QStringLiteral("Zoom Out"), QStringLiteral("Zoom Out"),
                    [this] { m_editor.adjustWaveformZoom(2.0 / 3.0); });
    m_zoomIn = add(Symbol::zoomIn, QStringLiteral("Zoom In"), QStringLiteral("Zoom In"),
                   [this] { m_editor.adjustWaveformZoom(1.5); });
    m_zoomReset =
        add(Symbol::resetZoom, QStringLiteral("Reset Zoom"), QStringLiteral("Reset Zoom"), &RecordingEditor::resetZoom);
    for (auto *button : {m_zoomOut, m_zoomIn, m_zoomReset})
        button->setSymbolOnly(true);
    row->addSpacing(6);
    m_undo = add(Symbol::undo, QStringLiteral("Undo"), QStringLiteral("Undo"), &RecordingEditor::performUndo);
    m_undo->setSymbolOnly(true);
    m_saveTrim =
        add(Symbol::scissors, QStringLiteral("Save Trim"), QStringLiteral("Save Trim"), &RecordingEditor::saveTrim);
    m_analyze = add(Symbol::metronome, QStringLiteral("Analyze"), QStringLiteral("Analyze"), &RecordingEditor::analyze);
    row->addStretch(1);
    m_reveal = add(Symbol::reveal, QStringLiteral("Reveal"), QStringLiteral("Show in Folder"), [this] {
        if (const auto &item = m_editor.recording())
            FileBrowser::showInFolder(item->url);
    });
    m_reveal->setSymbolOnly(true);
    m_delete = add(Symbol::trash, QStringLiteral("Delete"), QStringLiteral("Move Recording to Trash"),
                   [this] { confirmDelete(); });
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
        if (const auto &item = m_editor.recording())
            FileBrowser::showInFolder(item->url);
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

void RecordingDetailView::showRecording()
{
    showItemTexts();
    showPeaks();
    showViewport();
    showTrim();
    showLoop();
    updateControls();
}

void RecordingDetailView::showPeaks()
{
    const auto &error = m_editor.waveformError();
    m_timeline->setPeaks(m_editor.peaks(), m_editor.viewport().duration);
    m_timeline->setLoading(m_editor.isLoadingWaveform());
    m_waveformErrorText->setText(error.value_or(QString()));
    m_waveformErrorText->setVisible(error.has_value());
}

void RecordingDetailView::showLoop()
{
    m_loopText->setText(m_editor.loopSuggestionMessage().value_or(QString()));
}

void RecordingDetailView::showPlayback(bool playing)
{
    auto &player = m_editor.player();
    if (playing) {
        m_tickTime = player.currentTime();
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
}

void RecordingDetailView::advancePlayhead()
{
    // Real time since the last tick, at most a few ticks' worth; a loop folds it back to its start.
    auto time = m_tickTime + std::min(double(m_sinceTick.elapsed()) / 1000, maximumExtrapolation);
    const auto &selection = m_editor.player().selection();
    if (selection.end && time >= *selection.end)
        time = selection.loop ? selection.start + (time - *selection.end) : *selection.end;
    showPlayhead(time);
}

void RecordingDetailView::showPlayhead(double time)
{
    m_editor.keepTimeVisible(time);
    m_timeline->setPlayheadTime(time);
}

void RecordingDetailView::confirmDelete()
{
    const auto &item = m_editor.recording();
    if (!item)
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Move Recording to Trash"),
                                QStringLiteral("Move “%1” to the Trash?").arg(QFileInfo(item->url).fileName()),
                                QMessageBox::NoButton, this);
    auto *confirm = box->addButton(QStringLiteral("Move to Trash"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton *button) {
        if (button == confirm)
            m_editor.deleteRecording();
    });
    box->open();
}

void RecordingDetailView::hideEvent(QHideEvent *event)
{
    // A minimised window keeps playing; a hidden editor does not.
    if (!event->spontaneous())
        m_editor.stopPlayback();
    QWidget::hideEvent(event);
}

void RecordingDetailView::showItemTexts()
{
    if (!m_editor.recording())
        return;
    const auto &item = *m_editor.recording();
    const QFileInfo file(item.url);
    const auto &metadata = item.metadata;
    m_title->setText(file.completeBaseName());
    m_date->setText(AppDateFormatters::listDate(metadata.createdAt));
    m_bpmChip->setVisible(metadata.bpm.has_value());
    if (metadata.bpm)
        m_bpmChip->setText(roundedBPMText(*metadata.bpm));
    showConfidence(*m_bpmChip, metadata.bpmConfidence, !metadata.bpmAlternatives.isEmpty());
    m_keyChip->setVisible(metadata.musicalKey.has_value());
    if (metadata.musicalKey)
        m_keyChip->setText(*metadata.musicalKey);
    showConfidence(*m_keyChip, metadata.keyConfidence, !metadata.keyAlternatives.isEmpty());
    m_source->setSource(metadata.source);
    m_fileValue->setText(file.fileName());
    m_durationValue->setText(TimeText::clock(item.duration));
    m_formatValue->setText(file.suffix().toUpper());
    m_bpmValue->setText(metadata.bpm ? roundedBPMText(*metadata.bpm) : QStringLiteral("Unknown"));
    m_keyValue->setText(metadata.musicalKey.value_or(QStringLiteral("Unknown")));
}

void RecordingDetailView::showConfidence(ChipText &chip, std::optional<double> confidence, bool hasAlternatives)
{
    chip.setDimmed(confidence && *confidence < lowConfidence);
    chip.setClickable(hasAlternatives);
    QString help;
    if (confidence)
        help = QStringLiteral("Confidence ") + percentText(*confidence);
    if (hasAlternatives)
        help += (help.isEmpty() ? QString() : QStringLiteral(". ")) + QStringLiteral("Click to choose another.");
    chip.setToolTip(help);
    chip.setAccessibleName(chip.text());
    chip.setAccessibleDescription(help);
}

void RecordingDetailView::offerChoices(ChipText &chip, const QString &current,
                                       const QVector<std::pair<QString, std::function<void()>>> &choices)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto *stored = menu->addAction(current);
    stored->setCheckable(true);
    stored->setChecked(true);
    stored->setEnabled(false);
    menu->addSeparator();
    for (const auto &[text, choose] : choices)
        connect(menu->addAction(text), &QAction::triggered, this, choose);
    menu->popup(chip.mapToGlobal(QPoint(0, chip.height())));
}

void RecordingDetailView::offerTempoChoices()
{
    const auto &item = m_editor.recording();
    if (!item || !item->metadata.bpm || !m_editor.canChooseFigures())
        return;
    const auto &metadata = item->metadata;
    QVector<std::pair<QString, std::function<void()>>> choices;
    for (const auto &alternative : metadata.bpmAlternatives)
        choices.append({tempoChoiceText(alternative.bpm, alternative.confidence),
                        [this, bpm = alternative.bpm] { m_editor.chooseTempo(bpm); }});
    if (!choices.isEmpty())
        offerChoices(*m_bpmChip, tempoChoiceText(*metadata.bpm, metadata.bpmConfidence), choices);
}

void RecordingDetailView::offerKeyChoices()
{
    const auto &item = m_editor.recording();
    if (!item || !item->metadata.musicalKey || !m_editor.canChooseFigures())
        return;
    const auto &metadata = item->metadata;
    QVector<std::pair<QString, std::function<void()>>> choices;
    for (const auto &alternative : metadata.keyAlternatives)
        choices.append({keyChoiceText(alternative.musicalKey, alternative.confidence),
                        [this, key = alternative.musicalKey] { m_editor.chooseKey(key); }});
    if (!choices.isEmpty())
        offerChoices(*m_keyChip, keyChoiceText(*metadata.musicalKey, metadata.keyConfidence), choices);
}

void RecordingDetailView::showTrim()
{
    m_timeline->setTrimRange(m_editor.trimSelection().range());
    m_selectionText->setText(m_editor.selectionText());
}

void RecordingDetailView::showViewport()
{
    const auto &viewport = m_editor.viewport();
    m_timeline->setViewport(viewport.zoom, viewport.start);
}

void RecordingDetailView::updateControls()
{
    const bool hasItem = m_editor.recording().has_value();
    const bool playing = m_editor.player().isPlaying();
    const bool loop = m_editor.loopEnabled();
    m_play->setText(playing ? QStringLiteral("Stop") : QStringLiteral("Play Selection"));
    m_play->setAccessibleName(m_play->text());
    m_play->setSymbol(playing ? RailButton::Symbol::stop : RailButton::Symbol::play);
    m_play->setToolTip(playing ? QStringLiteral("Stop Playback") : QStringLiteral("Play Selection"));
    m_play->setEnabled(hasItem);
    m_loop->setChecked(loop);
    m_loop->setToolTip(loop ? QStringLiteral("Loop Selection On") : QStringLiteral("Loop Selection"));
    m_findLoop->setEnabled(m_editor.canFindLoop());
    m_undo->setToolTip(m_editor.undoHelpText());
    m_undo->setEnabled(m_editor.canUndo());
    m_saveTrim->setEnabled(m_editor.canSaveTrim());
    m_analyze->setEnabled(m_editor.canAnalyze());
    for (auto *button : {m_zoomOut, m_zoomIn, m_zoomReset, m_reveal, m_delete})
        button->setEnabled(hasItem);
    m_selectionText->setText(m_editor.selectionText());
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
