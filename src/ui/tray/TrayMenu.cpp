#include "ui/tray/TrayMenu.h"

#include "hotkeys/HotKeyStore.h"
#include "store/RecordingLibraryStore.h"
#include "ui/common/FileBrowser.h"
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
    m_tray->setIcon(icon(false, m_theme));
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
                        &RecordingLibraryStore::activeRecordingInputSourceChanged})
        connect(&m_store, signal, this, &TrayMenu::refresh);
    refresh();
    // Without a tray the menu never appears; the hotkeys still work from the start.
    wireHotKeys();
}

TrayMenu::~TrayMenu() = default;

void TrayMenu::wireHotKeys()
{
    m_hotKeys.setToggleRecordingAction([this] { recordSystemAudio(); });
    m_hotKeys.setOpenLibraryAction([this] { m_commands.openLibrary(); });
    m_hotKeys.registerAll();
}

void TrayMenu::recordSystemAudio()
{
    record(int(RecordingInputSource::macAudio));
}

void TrayMenu::recordMicrophone()
{
    record(int(RecordingInputSource::microphone));
}

void TrayMenu::record(int source)
{
    // A new take shows the library; stopping one leaves the windows as they are.
    const auto &state = m_store.captureState();
    if (state.is(CaptureState::Kind::idle) || state.is(CaptureState::Kind::failed))
        m_commands.openLibrary();
    m_store.toggleRecording(RecordingInputSource(source));
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
    const bool capturing =
        state.is(CaptureState::Kind::preparing) || recording || state.is(CaptureState::Kind::finishing);
    m_import->setEnabled(m_commands.importURL && !m_store.isImportingURL() && !capturing);
    if (recording != m_showsRecording) {
        m_showsRecording = recording;
        m_tray->setIcon(icon(recording, m_theme));
    }
    m_tray->setToolTip(recording ? QStringLiteral("Vespertone: recording %1").arg(m_store.elapsedText())
                                 : QStringLiteral("Vespertone"));
}

void TrayMenu::applyTheme(AppThemeChoice theme)
{
    m_menu->setPalette(VespertoneTheme::darkAppearance(theme));
    m_theme = theme;
    m_tray->setIcon(icon(m_showsRecording, theme));
}

QIcon TrayMenu::icon(bool recording, AppThemeChoice theme)
{
    using namespace VespertoneTheme;
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
            Symbols::waveform(painter, box, size * 0.5, color(white));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
