#include "ui/settings/SettingsView.h"

#include "base/AppError.h"
#include "capture/PlayingApplication.h"
#include "hotkeys/HotKeyStore.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "ui/common/AppInfo.h"
#include "ui/common/ApplicationActions.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/style/TextStyles.h"
#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneTheme.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

namespace {
constexpr int folderTextWidth = 250;

QString css(const QColor &color)
{
    return VespertoneTheme::styleSheetColor(color);
}

QHBoxLayout *row(QVBoxLayout &section, const QString &label)
{
    auto *line = new QHBoxLayout;
    line->setSpacing(8);
    line->addWidget(new QLabel(label));
    line->addStretch(1);
    section.addLayout(line);
    return line;
}
} // namespace

SettingsView::SettingsView(RecordingLibraryStore &store, HotKeyStore &hotKeys, ThemeController &theme, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(store), m_hotKeys(hotKeys), m_theme(theme)
{
    setWindowTitle(QStringLiteral("Settings"));
    setObjectName(QStringLiteral("settings"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 20, 20, 20);
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("settingsPanel"));
    outer->addWidget(panel);
    auto *form = new QVBoxLayout(panel);
    form->setContentsMargins(20, 20, 20, 20);
    form->setSpacing(10);

    // Appearance.
    auto *appearance = addSection(*form, QStringLiteral("Appearance"));
    auto *themeRow = row(*appearance, QStringLiteral("Theme"));
    m_themes = new QButtonGroup(this);
    auto *segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (auto choice : AppThemeChoices::all) {
        auto *segment = new QPushButton(AppThemeChoices::title(choice), panel);
        segment->setCheckable(true);
        segment->setObjectName(choice == AppThemeChoices::all.front() ? QStringLiteral("segmentFirst")
                                                                      : QStringLiteral("segmentLast"));
        m_themes->addButton(segment, int(choice));
        segments->addWidget(segment);
    }
    themeRow->addLayout(segments);
    connect(m_themes, &QButtonGroup::idClicked, this, [this](int id) {
        // A theme that cannot be stored still applies for this run.
        try {
            m_theme.setTheme(AppThemeChoice(id));
        } catch (const AppError &error) {
            m_store.setStatusMessage(error.text());
        }
    });
    m_themeCaption = caption(QString());
    appearance->addWidget(m_themeCaption);

    // Capture. Linux asks no permission for either input, so the permission rows are absent.
    auto *capture = addSection(*form, QStringLiteral("Capture"));
    auto *folderRow = row(*capture, QStringLiteral("Save Folder"));
    m_folder = new QLabel(panel);
    m_folder->setObjectName(QStringLiteral("secondary"));
    folderRow->addWidget(m_folder);
    auto *choose = new QPushButton(QStringLiteral("Choose"), panel);
    connect(choose, &QPushButton::clicked, this, [this] { m_store.chooseFolder(); });
    folderRow->addWidget(choose);
    capture->addWidget(caption(QStringLiteral("System Audio records what the desktop plays through its default "
                                              "output. Microphone mode uses the default mic input. An application "
                                              "take records that application alone.")));
    m_keepSeconds = new QComboBox(panel);
    m_keepSeconds->setAccessibleName(QStringLiteral("Keep the last … seconds"));
    for (const int seconds : StoreSettings::keepSecondsChoices)
        m_keepSeconds->addItem(seconds ? QStringLiteral("%1 seconds").arg(seconds) : QStringLiteral("Off"), seconds);
    row(*capture, QStringLiteral("Keep the last"))->addWidget(m_keepSeconds);
    connect(m_keepSeconds, &QComboBox::activated, this,
            [this](int index) { m_store.setKeptSeconds(m_keepSeconds->itemData(index).toInt()); });
    m_keptInput = new QComboBox(panel);
    m_keptInput->setAccessibleName(QStringLiteral("Kept input"));
    row(*capture, QStringLiteral("Of"))->addWidget(m_keptInput);
    connect(m_keptInput, &QComboBox::activated, this, &SettingsView::chooseKeptInput);
    m_preRoll = new QCheckBox(QStringLiteral("Start takes from the kept window"), panel);
    capture->addWidget(m_preRoll);
    connect(m_preRoll, &QCheckBox::toggled, this, [this](bool on) { m_store.setStartsFromKeptWindow(on); });
    m_keptStatus = caption(QString());
    capture->addWidget(m_keptStatus);

    // Recording format.
    auto *format = addSection(*form, QStringLiteral("Recording Format"));
    m_format = new QComboBox(panel);
    m_format->setAccessibleName(QStringLiteral("File Type"));
    for (auto choice : RecordingOutputFormats::all)
        m_format->addItem(RecordingOutputFormats::title(choice), int(choice));
    row(*format, QStringLiteral("File Type"))->addWidget(m_format);
    m_bitRate = new QComboBox(panel);
    m_bitRate->setAccessibleName(QStringLiteral("Bit Rate"));
    for (auto rate : AudioBitRates::all)
        m_bitRate->addItem(AudioBitRates::title(rate), AudioBitRates::rawValue(rate));
    row(*format, QStringLiteral("Bitrate"))->addWidget(m_bitRate);
    format->addWidget(
        caption(QStringLiteral("AAC and MP3 keep files compact. WAV and AIFF are larger uncompressed captures.")));
    connect(m_format, &QComboBox::activated, this, [this](int index) {
        m_store.setRecordingFormat(RecordingOutputFormat(m_format->itemData(index).toInt()));
    });
    connect(m_bitRate, &QComboBox::activated, this,
            [this](int index) { m_store.setAacBitRate(AudioBitRate(m_bitRate->itemData(index).toInt())); });

    // Tempo and key.
    auto *analysis = addSection(*form, QStringLiteral("Tempo and Key"));
    m_analysisMode = new QComboBox(panel);
    for (auto mode : AnalysisModes::all)
        m_analysisMode->addItem(AnalysisModes::title(mode), int(mode));
    row(*analysis, QStringLiteral("Analysis"))->addWidget(m_analysisMode);
    analysis->addWidget(caption(QStringLiteral(
        "Precise measures the tempo to a fraction of a BPM and hears every semitone of five octaves for the key; "
        "it says how sure it is and offers alternatives on the editor's tempo and key. Takes keep their figures "
        "until they are analysed again.")));
    connect(m_analysisMode, &QComboBox::activated, this,
            [this](int index) { m_store.setAnalysisMode(AnalysisMode(m_analysisMode->itemData(index).toInt())); });

    // Hotkeys.
    auto *hotKeysSection = addSection(*form, QStringLiteral("Hotkeys"));
    m_toggleRow = new ShortcutRow(
        QStringLiteral("Toggle Recording"), [this] { return m_hotKeys.toggleRecording(); },
        [this](std::optional<HotKeyShortcut> shortcut) { m_hotKeys.setToggleRecording(shortcut); }, panel);
    m_libraryRow = new ShortcutRow(
        QStringLiteral("Open Library"), [this] { return m_hotKeys.openLibrary(); },
        [this](std::optional<HotKeyShortcut> shortcut) { m_hotKeys.setOpenLibrary(shortcut); }, panel);
    m_saveKeptRow = new ShortcutRow(
        QStringLiteral("Save the Last Seconds"), [this] { return m_hotKeys.saveLastSeconds(); },
        [this](std::optional<HotKeyShortcut> shortcut) { m_hotKeys.setSaveLastSeconds(shortcut); }, panel);
    // While a row waits for a chord the hotkeys are let go, so pressing one reaches the row.
    for (auto *shortcutRow : {m_toggleRow, m_libraryRow, m_saveKeptRow})
        connect(shortcutRow, &ShortcutRow::recordingChanged, this, [this](bool recording) {
            if (recording)
                m_hotKeys.center().unregisterAll();
            else
                m_hotKeys.registerAll();
        });
    hotKeysSection->addWidget(m_toggleRow);
    hotKeysSection->addWidget(m_libraryRow);
    hotKeysSection->addWidget(m_saveKeptRow);
    m_hotKeyMessage = caption(QString());
    hotKeysSection->addWidget(m_hotKeyMessage);
    m_hotKeyFallback =
        caption(QStringLiteral("Bind the commands “vespertone --toggle-recording” and “vespertone --show-library” "
                               "in the desktop's keyboard settings instead."));
    m_hotKeyFallback->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hotKeysSection->addWidget(m_hotKeyFallback);

    // About.
    auto *about = addSection(*form, QStringLiteral("About"));
    auto *version = new QLabel(AppInfo::versionText(), panel);
    version->setObjectName(QStringLiteral("secondary"));
    row(*about, QStringLiteral("Version"))->addWidget(version);
    m_website = new QLabel(panel);
    m_website->setOpenExternalLinks(true);
    m_website->setTextFormat(Qt::RichText);
    row(*about, QStringLiteral("Website"))->addWidget(m_website);

    connect(&m_theme, &ThemeController::themeChanged, this, &SettingsView::applyTheme);
    connect(&m_store, &RecordingLibraryStore::folderURLChanged, this, &SettingsView::showFolder);
    connect(&m_store, &RecordingLibraryStore::recordingFormatChanged, this, &SettingsView::showFormat);
    connect(&m_store, &RecordingLibraryStore::aacBitRateChanged, this, &SettingsView::showFormat);
    connect(&m_store, &RecordingLibraryStore::analysisModeChanged, this, &SettingsView::showAnalysisMode);
    connect(&m_hotKeys, &HotKeyStore::toggleRecordingChanged, m_toggleRow, &ShortcutRow::refresh);
    connect(&m_hotKeys, &HotKeyStore::openLibraryChanged, m_libraryRow, &ShortcutRow::refresh);
    connect(&m_hotKeys, &HotKeyStore::saveLastSecondsChanged, m_saveKeptRow, &ShortcutRow::refresh);
    for (auto signal : {&RecordingLibraryStore::keptWindowChanged, &RecordingLibraryStore::playingApplicationsChanged})
        connect(&m_store, signal, this, &SettingsView::showKeptWindow);
    m_store.watchPlayingApplications();
    connect(&m_hotKeys, &HotKeyStore::registrationMessageChanged, this, &SettingsView::showHotKeyMessage);
    applyTheme();
    showFolder();
    showFormat();
    showAnalysisMode();
    showHotKeyMessage();
    showKeptWindow();
    setFixedWidth(540);
    resize(540, std::max(520, sizeHint().height()));
}

QVBoxLayout *SettingsView::addSection(QVBoxLayout &form, const QString &title)
{
    if (form.count() > 0) {
        auto *rule = new QFrame;
        rule->setObjectName(QStringLiteral("rule"));
        rule->setFixedHeight(1);
        form.addSpacing(4);
        form.addWidget(rule);
        form.addSpacing(4);
    }
    auto *header = new QLabel(title);
    header->setObjectName(QStringLiteral("sectionHeader"));
    header->setFont(TextStyles::caption(QFont::DemiBold));
    form.addWidget(header);
    auto *section = new QVBoxLayout;
    section->setSpacing(8);
    form.addLayout(section);
    return section;
}

QLabel *SettingsView::caption(const QString &text)
{
    auto *label = new QLabel(text);
    label->setObjectName(QStringLiteral("secondary"));
    label->setFont(TextStyles::caption());
    label->setWordWrap(true);
    return label;
}

void SettingsView::applyTheme()
{
    const auto theme = m_theme.theme();
    const bool gothic = theme == AppThemeChoice::gothic;
    setPalette(VespertoneTheme::darkAppearance(theme));
    m_themes->button(int(theme))->setChecked(true);
    m_themeCaption->setText(gothic ? QStringLiteral("Purple vampire sampler mode.")
                                   : QStringLiteral("Black glass, glossy, and restrained."));
    const auto look = VespertoneTheme::panel(VespertoneTheme::PanelUse::settingsForm, theme);
    const auto accent = VespertoneTheme::accent(theme);
    auto fill = VespertoneTheme::material(look.material);
    const auto tint = gothic ? VespertoneTheme::color(VespertoneTheme::plum) : accent;
    fill = QColor::fromRgbF(fill.redF() * (1 - look.tintOpacity) + tint.redF() * look.tintOpacity,
                            fill.greenF() * (1 - look.tintOpacity) + tint.greenF() * look.tintOpacity,
                            fill.blueF() * (1 - look.tintOpacity) + tint.blueF() * look.tintOpacity, fill.alphaF());
    auto border = gothic ? VespertoneTheme::color(VespertoneTheme::violetHot, look.borderOpacity)
                         : VespertoneTheme::color(VespertoneTheme::white, look.borderOpacity);
    const auto primary = VespertoneTheme::primaryText();
    const auto secondary = VespertoneTheme::secondaryText();
    const auto header = gothic ? VespertoneTheme::color(VespertoneTheme::lavender) : primary;
    const auto control = VespertoneTheme::settingsControl(theme);
    const auto controlBorder = gothic ? VespertoneTheme::color(VespertoneTheme::violet, 0.45)
                                      : VespertoneTheme::color(VespertoneTheme::white, 0.18);
    const auto selected = gothic ? VespertoneTheme::color(VespertoneTheme::violet, 0.85)
                                 : VespertoneTheme::color(VespertoneTheme::studioAccent, 0.85);
    setStyleSheet(
        QStringLiteral("QLabel { color: %1; }"
                       "QLabel#secondary { color: %2; }"
                       "QLabel#sectionHeader { color: %3; letter-spacing: 1px; }"
                       "QFrame#settingsPanel { background: %4; border: %11px solid %5; border-radius: %12px; }"
                       "QFrame#rule { background: %5; border: none; }"
                       "QPushButton, QComboBox { color: %1; background: %6; border: 1px solid %7;"
                       " border-radius: %13px; padding: 4px 10px; min-height: 18px; }"
                       "QComboBox { combobox-popup: 0; }"
                       "QPushButton:hover, QComboBox:hover { border-color: %8; }"
                       "QPushButton:disabled, QComboBox:disabled { color: %2; }"
                       "QPushButton:focus { border-color: %8; }"
                       "QPushButton#segmentFirst { border-top-right-radius: 0; border-bottom-right-radius: 0; }"
                       "QPushButton#segmentLast { border-top-left-radius: 0; border-bottom-left-radius: 0;"
                       " border-left: none; }"
                       "QPushButton:checked { background: %9; border-color: %8; color: white; }"
                       "QComboBox QAbstractItemView { color: %1; background: %10; border: none; outline: 0px;"
                       " selection-background-color: %9; }"
                       "QComboBox QAbstractItemView::item { border: none; padding: 3px 6px; }"
                       "QComboBox QAbstractItemView::item:selected, QComboBox QAbstractItemView::item:hover"
                       " { background: %9; color: white; border: none; }"
                       "QToolButton { border: none; background: transparent; }"
                       "QCheckBox { color: %1; spacing: 8px; }"
                       "QCheckBox:disabled { color: %2; }"
                       "QCheckBox::indicator { width: 13px; height: 13px; border: 1px solid %7;"
                       " border-radius: 4px; background: %6; }"
                       "QCheckBox::indicator:checked { background: %9; border-color: %8; }")
            .arg(css(primary), css(secondary), css(header), css(fill), css(border), css(control), css(controlBorder),
                 css(accent), css(selected), css(VespertoneTheme::surface(theme)))
            .arg(gothic ? VespertoneTheme::gothicPanelBorderWidth : VespertoneTheme::glassPanelBorderWidth)
            .arg(look.cornerRadius)
            .arg(VespertoneTheme::controlCornerRadius));
    // Rich text takes its link colour from the markup, not from the style sheet.
    const auto website = AppInfo::websiteURL();
    const auto linkColor = gothic ? VespertoneTheme::color(VespertoneTheme::lavender) : accent.lighter(130);
    m_website->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
            .arg(website.toString(QUrl::FullyEncoded), linkColor.name(), website.host().toHtmlEscaped()));
    update();
}

void SettingsView::showFolder()
{
    const auto &path = m_store.folderURL();
    m_folder->setText(m_folder->fontMetrics().elidedText(path, Qt::ElideMiddle, folderTextWidth));
    m_folder->setToolTip(path);
}

void SettingsView::showFormat()
{
    const auto format = m_store.recordingFormat();
    m_format->setCurrentIndex(m_format->findData(int(format)));
    m_bitRate->setCurrentIndex(m_bitRate->findData(AudioBitRates::rawValue(m_store.aacBitRate())));
    m_bitRate->setEnabled(RecordingOutputFormats::usesBitRate(format));
}

void SettingsView::showKeptWindow()
{
    const int seconds = m_store.keptSeconds();
    m_keepSeconds->setCurrentIndex(std::max(0, m_keepSeconds->findData(seconds)));
    // The inputs, the applications playing now, and the kept one even when it plays nothing.
    const auto input = m_store.keptInput();
    const auto application = m_store.keptApplication();
    m_keptInput->clear();
    m_keptInput->addItem(QStringLiteral("System Audio"), QStringList{QStringLiteral("macAudio")});
    m_keptInput->addItem(QStringLiteral("Microphone"), QStringList{QStringLiteral("microphone")});
    bool listed = false;
    for (const auto &playing : m_store.playingApplications()) {
        m_keptInput->addItem(ApplicationActions::icon(playing), playing.title,
                             QStringList{QStringLiteral("application"), playing.name});
        listed = listed || playing.name.compare(application, Qt::CaseInsensitive) == 0;
    }
    if (input == RecordingInputSource::application && !application.isEmpty() && !listed)
        m_keptInput->addItem(application + QStringLiteral(" (not playing)"),
                             QStringList{QStringLiteral("application"), application});
    int current = input == RecordingInputSource::microphone ? 1 : 0;
    for (int i = 2; i < m_keptInput->count(); ++i) {
        if (input == RecordingInputSource::application
            && m_keptInput->itemData(i).toStringList().value(1).compare(application, Qt::CaseInsensitive) == 0)
            current = i;
    }
    m_keptInput->setCurrentIndex(current);
    m_keptInput->setEnabled(seconds > 0);
    const QSignalBlocker blocker(m_preRoll);
    m_preRoll->setChecked(m_store.startsFromKeptWindow());
    m_preRoll->setEnabled(seconds > 0);

    QString status = QStringLiteral("Off: nothing is kept.");
    if (seconds > 0 && m_store.isListening())
        status = QStringLiteral("Listening: the last %1 seconds of %2 stay in memory, never on disk.")
                     .arg(seconds)
                     .arg(m_keptInput->currentText());
    else if (seconds > 0)
        status =
            QStringLiteral("Not listening: %1")
                .arg(m_store.keptWindowProblem().isEmpty() ? QStringLiteral("starting.") : m_store.keptWindowProblem());
    m_keptStatus->setText(status);
}

void SettingsView::chooseKeptInput(int index)
{
    const auto choice = m_keptInput->itemData(index).toStringList();
    const auto input = RecordingInputSources::fromRawValue(choice.value(0)).value_or(RecordingInputSource::macAudio);
    m_store.setKeptInput(input, choice.value(1));
}

void SettingsView::showAnalysisMode()
{
    m_analysisMode->setCurrentIndex(m_analysisMode->findData(int(m_store.analysisMode())));
}

void SettingsView::showHotKeyMessage()
{
    const auto &message = m_hotKeys.registrationMessage();
    m_hotKeyMessage->setText(message.value_or(QString()));
    m_hotKeyMessage->setVisible(message.has_value());
    m_hotKeyFallback->setVisible(message.has_value());
}

void SettingsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool gothic = m_theme.theme() == AppThemeChoice::gothic;
    QLinearGradient background(rect().topLeft(), rect().bottomRight());
    using namespace VespertoneTheme;
    background.setColorAt(0, color(gothic ? midnight : studioBlack));
    background.setColorAt(0.55, color(gothic ? ink : studioInk));
    background.setColorAt(1, color(gothic ? plum : studioGraphite, gothic ? 0.9 : 1));
    painter.fillRect(rect(), background);
}

void SettingsView::hideEvent(QHideEvent *event)
{
    // A row left waiting would keep the hotkeys let go.
    m_toggleRow->setRecording(false);
    m_libraryRow->setRecording(false);
    m_saveKeptRow->setRecording(false);
    QWidget::hideEvent(event);
}
