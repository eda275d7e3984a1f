#include "ui/library/LibraryWindow.h"

#include "store/RecordingLibraryStore.h"
#include "ui/common/BusySpinner.h"
#include "ui/common/FileBrowser.h"
#include "ui/library/ContentView.h"
#include "ui/library/MicrophoneToolbarLabel.h"
#include "ui/library/RecordMenu.h"
#include "ui/library/RecordToolbarLabel.h"
#include "ui/library/ShareMenu.h"
#include "ui/style/AppGlassBackground.h"
#include "ui/style/MenuAppearance.h"
#include "ui/style/Symbols.h"
#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>

namespace {
constexpr QSize minimumWindowSize(1120, 640);

QIcon glyphIcon(Symbols::Glyph glyph)
{
    QIcon icon;
    for (const double scale : {1.0, 2.0}) {
        for (const auto mode : {QIcon::Normal, QIcon::Disabled}) {
            QPixmap pixmap(QSize(16, 16) * scale);
            pixmap.setDevicePixelRatio(scale);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            Symbols::glyph(painter, glyph, QRectF(0, 0, 16, 16), 14,
                           VespertoneTheme::toolbarIcon(mode == QIcon::Normal));
            painter.end();
            icon.addPixmap(pixmap, mode);
        }
    }
    return icon;
}
} // namespace

LibraryWindow::LibraryWindow(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent)
    : QMainWindow(parent), m_store(store), m_theme(theme), m_background(new AppGlassBackground(theme.theme(), this)),
      m_content(new ContentView(store, theme, this))
{
    setWindowTitle(QStringLiteral("Vespertone"));
    setMinimumSize(minimumWindowSize);
    resize(1320, 760);
    m_background->lower();
    setCentralWidget(m_content);
    buildToolbar();
    auto *remove = new QShortcut(QKeySequence::Delete, this);
    connect(remove, &QShortcut::activated, m_content, &ContentView::confirmDeleteSelection);

    for (auto signal :
         {&RecordingLibraryStore::captureStateChanged, &RecordingLibraryStore::activeRecordingInputSourceChanged,
          &RecordingLibraryStore::isImportingURLChanged, &RecordingLibraryStore::playingApplicationsChanged})
        connect(&m_store, signal, this, &LibraryWindow::showRecordingState);
    connect(&m_store, &RecordingLibraryStore::keptWindowChanged, this, &LibraryWindow::showKeptWindow);
    connect(&m_store, &RecordingLibraryStore::selectedIDsChanged, this, &LibraryWindow::showSelection);
    connect(&m_theme, &ThemeController::themeChanged, this, &LibraryWindow::applyTheme);
    applyTheme();
    showRecordingState();
    showSelection();
    showKeptWindow();
}

QToolButton *LibraryWindow::addItem(const QString &name, int glyph, const QString &help)
{
    auto *button = new QToolButton(this);
    button->setText(name);
    button->setIcon(glyphIcon(Symbols::Glyph(glyph)));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setToolTip(help);
    button->setAccessibleName(help);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    // Icon, 6 points, text, 9 points of padding on each side.
    button->setFixedWidth(16 + 6 + button->fontMetrics().horizontalAdvance(name) + 18);
    return button;
}

void LibraryWindow::buildToolbar()
{
    auto *toolbar = addToolBar(QStringLiteral("Library"));
    toolbar->setObjectName(QStringLiteral("libraryToolbar"));
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(16, 16));
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    auto *spring = new QWidget(toolbar);
    spring->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spring);

    m_recordSystem = new RecordToolbarLabel(toolbar);
    connect(m_recordSystem, &QAbstractButton::clicked, this, [this] {
        // The face stops whatever it shows recording, an application's take too.
        const auto target = m_store.activeRecordingTarget();
        if (target && m_store.activeRecordingInputSource() == RecordingInputSource::application)
            m_store.toggleRecording(*target);
        else
            m_store.toggleRecording(RecordingInputSource::macAudio);
    });
    m_recordMenu = new RecordMenu(m_store, this);
    connect(m_recordSystem, &RecordToolbarLabel::menuRequested, this, &LibraryWindow::popUpRecordMenu);
    m_recordMicrophone = new MicrophoneToolbarLabel(toolbar);
    connect(m_recordMicrophone, &QAbstractButton::clicked, this,
            [this] { m_store.toggleRecording(RecordingInputSource::microphone); });
    m_saveKept = addItem(QString(), int(Symbols::Glyph::keptWindow), QString());
    m_saveKept->setObjectName(QStringLiteral("saveKeptWindow"));
    connect(m_saveKept, &QToolButton::clicked, this, [this] { m_store.saveKeptWindow(); });
    m_import =
        addItem(QStringLiteral("Import URL"), int(Symbols::Glyph::linkPlus), QStringLiteral("Import URL to MP3"));
    connect(m_import, &QToolButton::clicked, this, [this] { m_store.promptImportURL(); });
    auto *folder =
        addItem(QStringLiteral("Folder"), int(Symbols::Glyph::folder), QStringLiteral("Open Samples Folder"));
    connect(folder, &QToolButton::clicked, this, [this] { FileBrowser::showInFolder(m_store.folderURL()); });
    auto *settings = addItem(QStringLiteral("Settings"), int(Symbols::Glyph::gear), QStringLiteral("Settings"));
    connect(settings, &QToolButton::clicked, this, &LibraryWindow::settingsRequested);
    m_share = addItem(QStringLiteral("Share"), int(Symbols::Glyph::share), QStringLiteral("Share Selected Recording"));
    m_shareMenu = new ShareMenu(m_share);
    m_share->setMenu(m_shareMenu);
    m_share->setPopupMode(QToolButton::InstantPopup);
    auto *refresh = addItem(QStringLiteral("Refresh"), int(Symbols::Glyph::refresh), QStringLiteral("Refresh"));
    connect(refresh, &QToolButton::clicked, this, [this] { m_store.refresh(); });

    toolbar->addWidget(m_recordSystem);
    toolbar->addWidget(m_recordMicrophone);
    m_saveKeptItem = toolbar->addWidget(m_saveKept);
    m_importItem = toolbar->addWidget(m_import);
    m_importSpinnerItem = toolbar->addWidget(new BusySpinner(16, toolbar));
    for (QWidget *item : {folder, settings, m_share, refresh})
        toolbar->addWidget(item);
}

void LibraryWindow::applyTheme()
{
    const auto theme = m_theme.theme();
    setPalette(VespertoneTheme::darkAppearance(theme));
    m_background->setTheme(theme);
    m_content->setTheme(theme);
    MenuAppearance::apply(*m_recordMenu, theme);
    const auto accent = VespertoneTheme::accent(theme);
    findChild<QToolBar *>(QStringLiteral("libraryToolbar"))
        ->setStyleSheet(
            QStringLiteral("QToolBar { background: transparent; border: none; padding: 7px 12px; spacing: 6px; }"
                           "QToolButton { color: %2; border-radius: %6px;"
                           " padding: 4px 8px; border: 1px solid transparent; }"
                           "QToolButton:hover { background: %3; }"
                           "QToolButton:pressed { background: %4; }"
                           "QToolButton:focus { border-color: %1; }"
                           "QToolButton:disabled { color: %5; }"
                           "QToolButton::menu-indicator { image: none; width: 0; }")
                .arg(accent.name(), VespertoneTheme::styleSheetColor(VespertoneTheme::toolbarIcon(true)),
                     VespertoneTheme::styleSheetColor(VespertoneTheme::toolbarHover(false)),
                     VespertoneTheme::styleSheetColor(VespertoneTheme::toolbarHover(true)),
                     VespertoneTheme::styleSheetColor(VespertoneTheme::toolbarIcon(false)))
                .arg(VespertoneTheme::toolbarButtonCornerRadius));
}

void LibraryWindow::showRecordingState()
{
    const auto &state = m_store.captureState();
    const auto active = m_store.activeRecordingInputSource();
    m_recordSystem->setCaptureState(state, active);
    const auto target = m_store.activeRecordingTarget();
    m_recordSystem->setApplicationTitle(
        target && target->kind == CaptureTarget::Kind::application ? m_store.targetTitle(*target) : QString());
    // While an application records, the face stops it.
    m_recordSystem->setEnabled(m_store.canToggleRecording(RecordingInputSource::macAudio)
                               || m_store.isRecording(RecordingInputSource::application));
    m_recordMicrophone->setCaptureState(state, active);
    m_recordMicrophone->setEnabled(m_store.canToggleRecording(RecordingInputSource::microphone));
    const bool importing = m_store.isImportingURL();
    m_import->setEnabled(!importing && !state.isTaking());
    m_importItem->setVisible(!importing);
    m_importSpinnerItem->setVisible(importing);
}

void LibraryWindow::showKeptWindow()
{
    const int seconds = m_store.keptSeconds();
    m_saveKeptItem->setVisible(seconds > 0);
    if (seconds == 0)
        return;
    const auto label = QStringLiteral("Last %1 s").arg(seconds);
    const auto command = QStringLiteral("Save the Last %1 Seconds").arg(seconds);
    m_saveKept->setText(label);
    m_saveKept->setFixedWidth(16 + 6 + m_saveKept->fontMetrics().horizontalAdvance(label) + 18);
    m_saveKept->setAccessibleName(command);
    // A window that does not listen says why.
    const auto problem = m_store.keptWindowProblem();
    m_saveKept->setEnabled(m_store.isListening());
    m_saveKept->setToolTip(problem.isEmpty() ? command : command + QStringLiteral(": ") + problem);
}

void LibraryWindow::popUpRecordMenu()
{
    m_recordMenu->popup(m_recordSystem->mapToGlobal(QPoint(0, m_recordSystem->height() + 4)));
}

void LibraryWindow::showSelection()
{
    const auto item = m_store.selectedItem();
    m_share->setEnabled(item.has_value());
    m_shareMenu->setFile(item ? item->url : QString());
}

void LibraryWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    m_background->setGeometry(rect());
}

void LibraryWindow::fitToScreen()
{
    const auto *display = screen();
    if (!display)
        return;
    // The frame the window manager adds is known once the window has been shown.
    const auto frame = frameGeometry().size() - size();
    const auto available = display->availableGeometry().size() - frame;
    // A screen smaller than the usual minimum (a small one at a large scale) gets the whole screen.
    setMinimumSize(minimumWindowSize.boundedTo(available));
    if (width() > available.width() || height() > available.height())
        resize(size().boundedTo(available));
}

void LibraryWindow::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        fitToScreen();
    QMainWindow::showEvent(event);
    // The library is scanned when a window first appears, unless the store's own first scan
    // is still running.
    if (!m_refreshedOnShow) {
        m_refreshedOnShow = true;
        if (m_store.hasStarted())
            m_store.refresh();
    }
}
