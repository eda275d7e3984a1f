#include "support/Journey.h"

#include "library/FolderAccess.h"
#include "support/TaskRunner.h"
#include "ui/common/ElidedLabel.h"
#include "ui/library/ContentView.h"
#include "ui/library/SidebarView.h"
#include "ui/library/StatusPill.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

namespace {
void bringToFront(QWidget &window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

/// The modal dialog of type T that opens within a few seconds, or none.
template <typename T>
T *modal()
{
    T *dialog = nullptr;
    [[maybe_unused]] const bool opened = QTest::qWaitFor(
        [&] {
            dialog = qobject_cast<T *>(QApplication::activeModalWidget());
            return dialog && dialog->isVisible();
        },
        5000);
    return dialog;
}

bool clickAction(QMenu &menu, const QString &text)
{
    for (auto *action : menu.actions()) {
        if (action->text() == text && action->isVisible() && action->isEnabled()) {
            QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(action).center());
            return true;
        }
    }
    return false;
}

QMenu *openPopup()
{
    QMenu *menu = nullptr;
    [[maybe_unused]] const bool opened = QTest::qWaitFor(
        [&] {
            menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            return menu != nullptr;
        },
        5000);
    return menu;
}
} // namespace

Journey::Journey(HotKeyGrabber *grabber) : m_grabber(grabber ? grabber : &m_scriptedGrabber)
{
    QDir().mkpath(library());
    QDir().mkpath(encoders());
    QFile::link(QStandardPaths::findExecutable(QStringLiteral("lame")), encoders() + QStringLiteral("/lame"));
    // Qt's own dialogs, whatever the desktop offers, so the test can type into them.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QSettings settings(scratch(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setValue(FolderAccess::pathKey, library());
}

Journey::~Journey()
{
    close();
}

bool Journey::open()
{
    m_settings = std::make_unique<QSettings>(scratch(QStringLiteral("settings.ini")), QSettings::IniFormat);
    StoreEnvironment environment{m_settings.get(), &m_clock,   &m_trash,       &m_dialogs,
                                 std::nullopt,     encoders(), &m_soundServer, &m_monitor};
    environment.folderWatcher = &m_folderWatcher;
    m_store = std::make_unique<RecordingLibraryStore>(environment);
    QSignalSpy started(m_store.get(), &RecordingLibraryStore::recoveryFinished);
    m_theme = std::make_unique<ThemeController>(m_store->settings());
    m_window = std::make_unique<LibraryWindow>(*m_store, *m_theme);
    m_dialogs.setParentWindow(m_window.get());
    m_hotKeys = std::make_unique<HotKeyStore>(m_store->settings(), *m_grabber);
    m_settingsView = std::make_unique<SettingsView>(*m_store, *m_hotKeys, *m_theme);
    auto *window = m_window.get();
    auto *settingsView = m_settingsView.get();
    auto *store = m_store.get();
    m_tray = std::make_unique<TrayMenu>(*m_store, *m_hotKeys,
                                        TrayMenu::Commands{[window] { bringToFront(*window); },
                                                           [settingsView] { bringToFront(*settingsView); },
                                                           [store] { store->promptImportURL(); }, [] {}});
    QObject::connect(window, &LibraryWindow::settingsRequested, settingsView,
                     [settingsView] { bringToFront(*settingsView); });
    QObject::connect(m_theme.get(), &ThemeController::themeChanged, m_tray.get(), &TrayMenu::applyTheme);
    bringToFront(*window);
    return started.wait(20000) && QTest::qWaitForWindowActive(window);
}

void Journey::close()
{
    if (m_store)
        finish(m_store->shutDown());
    m_tray.reset();
    m_settingsView.reset();
    m_hotKeys.reset();
    m_window.reset();
    m_theme.reset();
    m_store.reset();
    m_settings.reset();
}

QListView &Journey::list() const
{
    return *m_window->content()->sidebar()->findChild<QListView *>();
}

QStringList Journey::rows() const
{
    QStringList names;
    const auto *model = list().model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

QStringList Journey::selectedRows() const
{
    QStringList names;
    for (const auto &index : list().selectionModel()->selectedRows())
        names << index.data().toString();
    names.sort();
    return names;
}

QString Journey::pill() const
{
    const auto *pill = m_window->content()->statusPill();
    return pill->isPresent() ? pill->text() : QString();
}

bool Journey::shows(const QWidget &widget, const QString &text)
{
    const auto visible = [&](const QWidget *child) { return child->isVisibleTo(&widget); };
    for (const auto *label : widget.findChildren<QLabel *>())
        if (visible(label) && label->text() == text)
            return true;
    for (const auto *label : widget.findChildren<ElidedLabel *>())
        if (visible(label) && label->text() == text)
            return true;
    for (const auto *button : widget.findChildren<QAbstractButton *>())
        if (visible(button) && button->text() == text)
            return true;
    return false;
}

bool Journey::click(QWidget &window, const QString &name)
{
    QAbstractButton *found = nullptr;
    [[maybe_unused]] const bool ready = QTest::qWaitFor(
        [&] {
            for (auto *button : window.findChildren<QAbstractButton *>()) {
                const bool named =
                    button->text() == name || button->accessibleName() == name || button->toolTip() == name;
                if (named && button->isVisibleTo(&window) && button->isEnabled()) {
                    found = button;
                    return true;
                }
            }
            return false;
        },
        5000);
    if (found)
        QTest::mouseClick(found, Qt::LeftButton);
    return found != nullptr;
}

bool Journey::clickRow(const QString &name, Qt::KeyboardModifiers modifiers)
{
    auto &view = list();
    const auto row = rows().indexOf(name);
    if (row < 0)
        return false;
    const auto index = view.model()->index(int(row), 0);
    view.scrollTo(index);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, view.visualRect(index).center());
    return true;
}

bool Journey::chooseFromRowMenu(const QString &name, const QString &item)
{
    auto &view = list();
    const auto names = rows();
    const auto row = names.indexOf(name);
    if (row < 0)
        return false;
    const auto index = view.model()->index(int(row), 0);
    view.scrollTo(index);
    // Through the window, as the pointer goes: the window turns a right press into the menu.
    const auto at = view.viewport()->mapTo(m_window.get(), view.visualRect(index).center());
    QTest::mouseClick(m_window->windowHandle(), Qt::RightButton, {}, at);
    auto *menu = openPopup();
    return menu && clickAction(*menu, item);
}

bool Journey::chooseFromTray(const QString &item)
{
    emit m_tray->trayIcon().activated(QSystemTrayIcon::Trigger);
    auto *menu = openPopup();
    return menu == &m_tray->menu() && clickAction(*menu, item);
}

namespace Answer {

bool text(const QString &text)
{
    auto *dialog = modal<QInputDialog>();
    auto *field = dialog ? dialog->findChild<QLineEdit *>() : nullptr;
    if (!field)
        return false;
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    return true;
}

bool cancel()
{
    auto *dialog = modal<QDialog>();
    if (!dialog)
        return false;
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
    return true;
}

bool folder(const QString &folder)
{
    auto *dialog = modal<QFileDialog>();
    auto *field = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
    auto *buttons = dialog ? dialog->findChild<QDialogButtonBox *>() : nullptr;
    if (!field || !buttons)
        return false;
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    // Pasted, as a person brings a path: typed letter by letter, the completer takes over.
    QGuiApplication::clipboard()->setText(folder);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    auto *accept = buttons->button(QDialogButtonBox::Open);
    if (!accept)
        return false;
    QTest::mouseClick(accept, Qt::LeftButton);
    return true;
}

bool button(const QString &button, QString *message)
{
    auto *box = modal<QMessageBox>();
    if (!box)
        return false;
    if (message)
        *message = box->text();
    for (auto *candidate : box->buttons()) {
        if (candidate->text().remove(u'&') == button) {
            QTest::mouseClick(candidate, Qt::LeftButton);
            return true;
        }
    }
    return false;
}

} // namespace Answer

QStringList trashedPaths()
{
    const QDir trash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash"));
    QStringList paths;
    const auto infos = QDir(trash.filePath(QStringLiteral("info"))).entryInfoList({QStringLiteral("*.trashinfo")});
    for (const auto &info : infos) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly) || !trash.exists(QStringLiteral("files/") + info.completeBaseName()))
            continue;
        for (const auto &line : file.readAll().split('\n'))
            if (line.startsWith("Path="))
                paths << QUrl::fromPercentEncoding(line.mid(5));
    }
    return paths;
}
