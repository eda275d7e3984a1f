#include "ui/live/RecordingInProgressView.h"

#include "store/RecordingLibraryStore.h"
#include "ui/common/ElidedLabel.h"
#include "ui/live/ElapsedClock.h"
#include "ui/live/LiveRecordingWaveformView.h"
#include "ui/live/RecordingBadge.h"
#include "ui/style/GlassControlRail.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextStyles.h"
#include "ui/style/ThemedPanel.h"
#include "ui/style/VespertoneTheme.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace Theme = VespertoneTheme;

namespace {
QString phaseTitle(CaptureState::Kind kind)
{
    switch (kind) {
    case CaptureState::Kind::recording: return QStringLiteral("Recording");
    case CaptureState::Kind::preparing: return QStringLiteral("Preparing Recording");
    case CaptureState::Kind::finishing: return QStringLiteral("Saving Recording");
    case CaptureState::Kind::idle: return QStringLiteral("Ready");
    case CaptureState::Kind::failed: return QStringLiteral("Recording Paused");
    }
    return {};
}

QIcon stopIcon(double scale)
{
    QPixmap glyph(QSize(14, 14) * scale);
    glyph.setDevicePixelRatio(scale);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    Symbols::glyph(painter, Symbols::Glyph::stop, QRectF(0, 0, 14, 14), 11, Qt::white);
    return glyph;
}
} // namespace

RecordingInProgressView::RecordingInProgressView(RecordingLibraryStore &store, AppThemeChoice theme, QWidget *parent)
    : QWidget(parent), m_store(store), m_theme(theme), m_badge(new RecordingBadge(theme, this)),
      m_title(new QLabel(this)), m_subtitle(new ElidedLabel(this)), m_clock(new ElapsedClock(this)),
      m_waveformPanel(new ThemedPanel(Theme::PanelUse::liveWaveform, theme, 0, this)),
      m_waveform(new LiveRecordingWaveformView(theme, m_waveformPanel)), m_rail(new GlassControlRail(12, theme, this)),
      m_stop(new QPushButton(m_rail)), m_status(new ElidedLabel(m_rail))
{
    m_title->setFont(TextStyles::sized(17, QFont::DemiBold));
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    m_status->setForegroundRole(QPalette::PlaceholderText);
    auto *heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(m_title);
    heading->addWidget(m_subtitle);
    auto *header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(m_badge);
    header->addLayout(heading, 1);
    header->addWidget(m_clock);

    (new QVBoxLayout(m_waveformPanel))->addWidget(m_waveform);
    m_waveformPanel->layout()->setContentsMargins(0, 0, 0, 0);

    m_stop->setIcon(stopIcon(devicePixelRatioF()));
    m_stop->setMinimumWidth(180);
    m_stop->setMinimumHeight(30);
    m_stop->setFont(TextStyles::sized(13, QFont::DemiBold));
    m_stop->setStyleSheet(QStringLiteral("QPushButton { color: white; border-radius: 7px; padding: 5px 14px;"
                                         " background: %1; border: 1px solid %2; }"
                                         "QPushButton:pressed { background: %3; }"
                                         "QPushButton:disabled { background: %4; color: %5; }")
                              .arg(Theme::styleSheetColor(Theme::recordingRed(0.86)),
                                   Theme::styleSheetColor(Theme::color(Theme::white, 0.18)),
                                   Theme::styleSheetColor(Theme::color(Theme::recordingPressed, 0.95)),
                                   Theme::styleSheetColor(Theme::recordingRed(0.36)),
                                   Theme::styleSheetColor(Theme::color(Theme::white, 0.5))));
    connect(m_stop, &QPushButton::clicked, this, [this] { m_store.stopRecording(); });
    // The space bar stops the take anywhere in the window, without modifiers.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, m_stop, &QPushButton::animateClick);
    m_rail->row()->addWidget(m_stop);
    m_rail->row()->addWidget(m_status, 1);

    auto *page = new QVBoxLayout(this);
    // The bottom keeps clear of the status pill, which floats 18 points above the window's edge.
    page->setContentsMargins(28, 28, 28, 28 + 60);
    page->setSpacing(22);
    page->addLayout(header);
    page->addWidget(m_waveformPanel, 1);
    page->addWidget(m_rail);

    connect(&store, &RecordingLibraryStore::captureStateChanged, this, &RecordingInProgressView::showState);
    connect(&store, &RecordingLibraryStore::elapsedTextChanged, this,
            [this] { m_clock->setText(m_store.elapsedText()); });
    connect(&store, &RecordingLibraryStore::livePeaksChanged, this,
            [this] { m_waveform->setPeaks(m_store.livePeaks()); });
    connect(&store, &RecordingLibraryStore::activeCaptureURLChanged, this, &RecordingInProgressView::showFile);
    connect(&store, &RecordingLibraryStore::folderURLChanged, this, &RecordingInProgressView::showFile);
    connect(&store, &RecordingLibraryStore::statusMessageChanged, this, &RecordingInProgressView::showStatus);
    m_clock->setText(store.elapsedText());
    m_waveform->setPeaks(store.livePeaks());
    setTheme(theme);
    showState();
    showFile();
    showStatus();
}

void RecordingInProgressView::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    m_badge->setTheme(theme);
    m_waveformPanel->setTheme(theme);
    m_waveform->setTheme(theme);
    m_rail->setTheme(theme);
    m_clock->setColor(theme == AppThemeChoice::gothic ? Theme::color(Theme::lavender) : Theme::primaryText());
}

QString RecordingInProgressView::title() const
{
    return m_title->text();
}

QString RecordingInProgressView::subtitle() const
{
    return m_subtitle->text();
}

void RecordingInProgressView::showState()
{
    const auto kind = m_store.captureState().kind();
    m_title->setText(phaseTitle(kind));
    const bool finishing = kind == CaptureState::Kind::finishing;
    m_stop->setText(finishing ? QStringLiteral("Saving") : QStringLiteral("Stop Recording"));
    m_stop->setEnabled(kind != CaptureState::Kind::preparing && !finishing);
}

void RecordingInProgressView::showFile()
{
    const auto &url = m_store.activeCaptureURL();
    m_subtitle->setText(url ? QFileInfo(*url).fileName() : m_store.folderURL());
}

void RecordingInProgressView::showStatus()
{
    m_status->setText(m_store.statusMessage().value_or(QString()));
}
