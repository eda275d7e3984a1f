#include "ui/tray/TrayMenu.h"

#include "hotkeys/HotKeyStore.h"
#include "store/RecordingLibraryStore.h"
#include "ui/common/ApplicationActions.h"
#include "ui/common/FileBrowser.h"
#include "ui/style/MenuAppearance.h"
#include "ui/style/Symbols.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

namespace {
constexpr int statusWidth = 260;
}

TrayMenu::TrayMenu(RecordingLibraryStore &store, HotKeyStore &hotKeys, Commands commands, QObject *parent)
    : QObject(parent), m_store(store), m_hotKeys(hotKeys), m_commands(std::move(commands)),
      m_menu(std::make_unique<QMenu>()), m_tray(new QSystemTrayIcon(this))
{
    auto &menu = *m_menu;
    menu.addAction(QStringLiteral("Launch App"), this, [this] { m_commands.openLibrary(); });
    menu.addSeparator();
    m_elapsed = menu.addAction(QString());
    m_elapsed->setEnabled(false);
    m_elapsed->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_status = menu.addAction(QString());
    m_status->setEnabled(false);
    m_recordSystem = menu.addAction(QString(), this, &TrayMenu::recordSystemAudio);
    m_recordMicrophone = menu.addAction(QString(), this, &TrayMenu::recordMicrophone);
    m_applications = menu.addMenu(QStringLiteral("Record Application"));
    m_saveKept = menu.addAction(QString(), this, &TrayMenu::saveKeptWindow);
    menu.addSeparator();
    m_import = menu.addAction(QStringLiteral("Import URL..."), this, [this] {
        m_commands.openLibrary();
        m_commands.importURL();
    });
    menu.addAction(QStringLiteral("Open Library"), this, [this] { m_commands.openLibrary(); });
    menu.addAction(QStringLiteral("Choose Folder"), this, [this] { m_store.chooseFolder(); });
    menu.addAction(QStringLiteral("Reveal Folder"), this, [this] { FileBrowser::showInFolder(m_store.folderURL()); });
    menu.addAction(QStringLiteral("Settings..."), this, [this] { m_commands.openSettings(); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Quit"), this, [this] { m_commands.quit(); });

    m_tray->setContextMenu(m_menu.get());
    m_tray->setToolTip(QStringLiteral("Vespertone"));
    m_tray->setIcon(icon(Activity::idle, m_theme));
    // A left click opens the same menu as a right click.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(m_tray->geometry().bottomLeft());
    });
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        refresh();
        wireHotKeys();
    });
    for (auto signal : {&RecordingLibraryStore::captureStateChanged, &RecordingLibraryStore::elapsedTextChanged,
                        &RecordingLibraryStore::statusMessageChanged, &RecordingLibraryStore::isImportingURLChanged,
                        &RecordingLibraryStore::activeRecordingInputSourceChanged,
                        &RecordingLibraryStore::keptWindowChanged, &RecordingLibraryStore::playingApplicationsChanged})
        connect(&m_store, signal, this, &TrayMenu::refresh);
    m_store.watchPlayingApplications();
    refresh();
    // Without a tray the menu never appears; the hotkeys still work from the start.
    wireHotKeys();
}

TrayMenu::~TrayMenu() = default;

void TrayMenu::wireHotKeys()
{
    m_hotKeys.setToggleRecordingAction([this] { recordSystemAudio(); });
    m_hotKeys.setOpenLibraryAction([this] { m_commands.openLibrary(); });
    m_hotKeys.setSaveLastSecondsAction([this] { saveKeptWindow(); });
    m_hotKeys.registerAll();
}

void TrayMenu::recordSystemAudio()
{
    record(CaptureTarget::defaultOutput());
}

void TrayMenu::recordMicrophone()
{
    record(CaptureTarget::defaultInput());
}

void TrayMenu::recordApplication(const CaptureTarget &target)
{
    record(target);
}

void TrayMenu::saveKeptWindow()
{
    m_store.saveKeptWindow();
}

void TrayMenu::record(const CaptureTarget &target)
{
    // A new take shows the library; stopping one leaves the windows as they are.
    const auto &state = m_store.captureState();
    if (state.is(CaptureState::Kind::idle) || state.is(CaptureState::Kind::failed))
        m_commands.openLibrary();
    m_store.toggleRecording(target);
}

void TrayMenu::rebuildApplications()
{
    m_applications->clear();
    ApplicationActions::add(*m_applications, m_store,
                            [this](const CaptureTarget &target) { recordApplication(target); });
}

void TrayMenu::refresh()
{
    const auto &state = m_store.captureState();
    const bool recording = state.is(CaptureState::Kind::recording);
    m_elapsed->setText(m_store.elapsedText());
    m_elapsed->setVisible(recording);
    const auto &status = m_store.statusMessage();
    const bool hasStatus = status && !status->isEmpty();
    m_status->setVisible(hasStatus);
    if (hasStatus) {
        m_status->setText(QFontMetrics(m_menu->font()).elidedText(*status, Qt::ElideMiddle, statusWidth));
        m_status->setToolTip(*status);
    }
    const auto system = RecordingInputSource::macAudio;
    const auto microphone = RecordingInputSource::microphone;
    m_recordSystem->setText(m_store.isRecording(system) ? QStringLiteral("Stop System Audio")
                                                        : QStringLiteral("Record System Audio"));
    m_recordSystem->setEnabled(m_store.canToggleRecording(system));
    m_recordMicrophone->setText(m_store.isRecording(microphone) ? QStringLiteral("Stop Microphone")
                                                                : QStringLiteral("Record Microphone"));
    m_recordMicrophone->setEnabled(m_store.canToggleRecording(microphone));
    rebuildApplications();
    const int kept = m_store.keptSeconds();
    m_saveKept->setVisible(kept > 0);
    m_saveKept->setText(QStringLiteral("Save the Last %1 Seconds").arg(kept));
    m_saveKept->setEnabled(m_store.isListening());
    const bool capturing =
        state.is(CaptureState::Kind::preparing) || recording || state.is(CaptureState::Kind::finishing);
    m_import->setEnabled(m_commands.importURL && !m_store.isImportingURL() && !capturing);
    const auto activity = recording ? Activity::recording
        : m_store.isListening()     ? Activity::listening
                                    : Activity::idle;
    if (activity != m_shownActivity) {
        m_shownActivity = activity;
        m_tray->setIcon(icon(activity, m_theme));
    }
    auto tip = QStringLiteral("Vespertone");
    if (recording)
        tip = QStringLiteral("Vespertone: recording %1").arg(m_store.elapsedText());
    else if (activity == Activity::listening)
        tip = QStringLiteral("Vespertone: keeping the last %1 seconds").arg(kept);
    m_tray->setToolTip(tip);
}

void TrayMenu::applyTheme(AppThemeChoice theme)
{
    MenuAppearance::apply(*m_menu, theme);
    MenuAppearance::apply(*m_applications, theme);
    m_theme = theme;
    m_tray->setIcon(icon(m_shownActivity.value_or(Activity::idle), theme));
}

QIcon TrayMenu::icon(Activity activity, AppThemeChoice theme)
{
    using namespace VespertoneTheme;
    const bool recording = activity == Activity::recording;
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(0.5, 0.5, size - 1, size - 1);
        // A dark rim keeps the disc's edge on a light panel, the white mark its middle on a dark one.
        const auto disc = box.adjusted(size * 0.04, size * 0.04, -size * 0.04, -size * 0.04);
        painter.setPen(QPen(color(black, 0.45), std::max(1.0, size / 16.0)));
        painter.setBrush(recording ? recordingRed() : accent(theme));
        painter.drawEllipse(disc);
        if (recording) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(color(white));
            const double r = size * 0.18;
            painter.drawEllipse(box.center(), r, r);
        } else {
            // While listening a white ring inside the disc says the desktop's sound is being kept.
            const bool listening = activity == Activity::listening;
            if (listening) {
                painter.setPen(QPen(color(white), std::max(1.2, size / 12.0)));
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(disc.adjusted(size * 0.1, size * 0.1, -size * 0.1, -size * 0.1));
            }
            Symbols::waveform(painter, box, size * (listening ? 0.36 : 0.5), color(white));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
