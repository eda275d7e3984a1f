// What the window looks like to a person: every menu, tooltip, popup and dialog that opens over
// it is dark in both themes and follows a theme change while open; long names keep both ends in
// view; the control rail fits at every window width and playing moves none of its buttons; the
// status pill never shows a new text cut.

#include "editor/RecordingEditor.h"
#include "hotkeys/HotKeyStore.h"
#include "library/MetadataStore.h"
#include "media/AudioPlaybackService.h"
#include "platform/HotKeyGrabber.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/ProgramHome.h"
#include "support/TestEnvironment.h"
#include "support/WidgetLookup.h"
#include "support/XvfbServer.h"
#include "ui/common/ElidedButton.h"
#include "ui/common/ElidedLabel.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/editor/ChipText.h"
#include "ui/editor/RailButton.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/library/ContentView.h"
#include "ui/library/LibraryWindow.h"
#include "ui/library/SidebarView.h"
#include "ui/library/StatusPill.h"
#include "ui/settings/SettingsView.h"
#include "ui/style/ApplicationAppearance.h"
#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneTheme.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <functional>

namespace {
const QString longName =
    QStringLiteral("Vocal chop from the rehearsal with a rather long name that cannot fit_bpm_172");

/// The mean colour of what \a widget shows.
QColor meanColor(QWidget &widget)
{
    const auto image = widget.grab().toImage();
    double red = 0, green = 0, blue = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            const auto pixel = image.pixelColor(x, y);
            red += pixel.redF();
            green += pixel.greenF();
            blue += pixel.blueF();
            ++count;
        }
    }
    return count ? QColor::fromRgbF(float(red / count), float(green / count), float(blue / count)) : Qt::white;
}

/// What opened over the windows: a popup, a dialog or a tooltip.
QWidget *openedPiece()
{
    if (auto *popup = QApplication::activePopupWidget())
        return popup;
    if (auto *modal = QApplication::activeModalWidget())
        return modal;
    for (auto *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() == Qt::ToolTip)
            return window;
    }
    return nullptr;
}
} // namespace

class AppearanceTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment m_env;
    FakeSoundServer m_server;
    WidgetDialogs m_dialogs;
    UnavailableHotKeyGrabber m_grabber;
    std::unique_ptr<RecordingLibraryStore> m_store;
    std::unique_ptr<ThemeController> m_theme;
    std::unique_ptr<ApplicationAppearance> m_appearance;
    std::unique_ptr<HotKeyStore> m_hotKeys;
    std::unique_ptr<LibraryWindow> m_window;
    std::unique_ptr<SettingsView> m_settings;

    RecordingDetailView *editor() const { return m_window->content()->findChild<RecordingDetailView *>(); }

    void selectLongTake()
    {
        for (const auto &item : m_store->recordings()) {
            if (item.url.contains(longName))
                m_store->setSelectedIDs({item.id()});
        }
        QVERIFY(editor());
    }

private slots:
    void initTestCase()
    {
        AudioFixtures::tone(m_env.path(longName + ".m4a"), 2);
        auto metadata = RecordingMetadata::fresh(QDateTime::currentDateTime());
        metadata.bpm = 172;
        metadata.musicalKey = QStringLiteral("D# major");
        MetadataStore::save(metadata, m_env.path(longName + ".m4a"));
        AudioFixtures::tone(m_env.path("Short.wav"), 1);
        auto environment = m_env.storeEnvironment();
        environment.dialogs = &m_dialogs;
        environment.soundServer = &m_server;
        m_store = startStore(environment);
        m_theme = std::make_unique<ThemeController>(m_store->settings());
        m_appearance = std::make_unique<ApplicationAppearance>(*m_theme);
        m_window = std::make_unique<LibraryWindow>(*m_store, *m_theme);
        m_dialogs.setParentWindow(m_window.get());
        m_hotKeys = std::make_unique<HotKeyStore>(m_store->settings(), m_grabber);
        m_settings = std::make_unique<SettingsView>(*m_store, *m_hotKeys, *m_theme);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        selectLongTake();
    }

    void darkEverywhere_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("theme");
        for (const auto theme : AppThemeChoices::all) {
            for (const char *piece : {"row menu", "share menu", "tooltip", "delete confirmation", "rename dialog",
                                      "import dialog", "folder dialog", "format popup"}) {
                QTest::addRow("%s, %s", piece, qPrintable(AppThemeChoices::rawValue(theme))) << piece << int(theme);
            }
        }
    }

    void darkEverywhere()
    {
        QFETCH(QString, piece);
        QFETCH(int, theme);
        m_theme->setTheme(AppThemeChoice(theme));
        const auto other =
            AppThemeChoice(theme) == AppThemeChoice::gothic ? AppThemeChoice::studioGlass : AppThemeChoice::gothic;
        QString checked;
        auto *folder = WidgetLookup::button<QToolButton>(*m_window, "Folder");
        const auto hover = [folder] {
            QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), folder->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(folder, &event);
        };
        // Looks at the piece while it is open in both themes, then closes it.
        const auto look = [&] {
            auto *opened = openedPiece();
            if (!opened)
                return;
            const auto first = meanColor(*opened);
            m_theme->setTheme(other);
            QCoreApplication::processEvents();
            // A tooltip lives seconds: the next one shows the new theme.
            if (opened->windowType() == Qt::ToolTip) {
                QToolTip::hideText();
                QTRY_VERIFY(!openedPiece());
                hover();
                opened = openedPiece();
                if (!opened)
                    return;
            }
            const auto afterSwitch = meanColor(*opened);
            // The other theme's surface tints what shows: the picture changes.
            const bool follows = std::abs(first.redF() - afterSwitch.redF())
                    + std::abs(first.greenF() - afterSwitch.greenF()) + std::abs(first.blueF() - afterSwitch.blueF())
                > 0.02;
            checked =
                QStringList{first.lightnessF() < 0.3 ? "dark" : first.name(),
                            afterSwitch.lightnessF() < 0.3 ? "dark" : afterSwitch.name(), follows ? "follows" : "stays"}
                    .join(u' ');
            if (auto *dialog = qobject_cast<QDialog *>(opened))
                dialog->reject();
            else
                opened->close();
        };

        auto *sidebar = m_window->content()->sidebar();
        auto *list = sidebar->findChild<QListView *>();
        if (piece == "row menu") {
            const auto row = list->visualRect(list->model()->index(0, 0)).center();
            QContextMenuEvent click(QContextMenuEvent::Mouse, row, list->viewport()->mapToGlobal(row));
            QApplication::sendEvent(list->viewport(), &click);
        } else if (piece == "share menu") {
            // The menu runs its own loop until it closes: look from inside it.
            QTimer::singleShot(0, this, look);
            QTest::mouseClick(WidgetLookup::button<QToolButton>(*m_window, "Share"), Qt::LeftButton);
        } else if (piece == "tooltip") {
            hover();
        } else if (piece == "delete confirmation") {
            m_window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
            QTest::keyClick(m_window.get(), Qt::Key_Delete);
        } else if (piece == "rename dialog") {
            const auto row = list->visualRect(list->model()->index(0, 0)).center();
            auto *menu = sidebar->contextMenu(m_store->recordings().front());
            menu->popup(list->viewport()->mapToGlobal(row));
            menu->actions().front()->trigger();
            menu->close();
        } else if (piece == "import dialog") {
            QTest::mouseClick(WidgetLookup::button<QToolButton>(*m_window, "Import URL"), Qt::LeftButton);
        } else if (piece == "folder dialog") {
            m_settings->show();
            auto *choose = WidgetLookup::button<QPushButton>(*m_settings, "Choose");
            QVERIFY(choose);
            QTest::mouseClick(choose, Qt::LeftButton);
        } else if (piece == "format popup") {
            m_settings->show();
            auto *format = m_settings->findChild<QComboBox *>();
            QTest::mouseClick(format, Qt::LeftButton);
        }
        if (checked.isEmpty())
            look();
        m_settings->hide();
        QCOMPARE(checked, QStringLiteral("dark dark follows"));
        QTRY_VERIFY(!QApplication::activeModalWidget() && !QApplication::activePopupWidget());
    }

    // The title and the File cell keep both ends of a long name and stay clear of the chips.
    void longNamesKeepTheirEnds_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("shortened");
        QTest::newRow("minimum size") << 1120 << true;
        QTest::newRow("wide window") << 1900 << false;
    }

    void longNamesKeepTheirEnds()
    {
        QFETCH(int, width);
        QFETCH(bool, shortened);
        m_window->resize(width, 700);
        selectLongTake();
        QTest::qWait(0);
        auto *view = editor();
        auto *title = view->findChild<ElidedLabel *>();
        auto *file = view->findChild<ElidedButton *>();
        const auto chips = view->findChildren<ChipText *>();
        QTRY_COMPARE(title->width(), title->geometry().width());
        QCOMPARE(title->text(), longName);
        QCOMPARE(title->shownText() != longName, shortened);
        QVERIFY(title->shownText().startsWith("Vocal"));
        QVERIFY(title->shownText().endsWith("_bpm_172"));
        QCOMPARE(title->toolTip(), shortened ? longName : QString());
        QCOMPARE(chips.size(), 2);
        for (auto *chip : chips)
            QVERIFY(chip->isVisible() && title->geometry().right() < chip->geometry().left());
        QVERIFY(file->shownText().endsWith("_bpm_172.m4a"));
        QVERIFY(file->shownText().startsWith("Vocal"));
    }

    // Every rail button lies inside the rail, clear of its neighbours; Stop takes Play's place
    // and moves nothing to its right.
    void railFitsAndPlayMovesNothing_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("everyLabel");
        QTest::newRow("minimum size") << 1120 << false;
        QTest::newRow("default size") << 1320 << true;
        QTest::newRow("wide window") << 1900 << true;
    }

    void railFitsAndPlayMovesNothing()
    {
        QFETCH(int, width);
        QFETCH(bool, everyLabel);
        m_window->resize(width, 700);
        selectLongTake();
        auto *view = editor();
        QTRY_VERIFY(view->width() > 0);
        QTest::qWait(0);
        auto buttons = view->findChildren<RailButton *>();
        std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
        auto *rail = buttons.front()->parentWidget();
        const auto inside = rail->contentsRect();
        for (int index = 0; index < buttons.size(); ++index) {
            // Inside the rail and at its full size: nothing clipped.
            QVERIFY2(inside.contains(buttons[index]->geometry()), qPrintable(buttons[index]->accessibleName()));
            QCOMPARE(buttons[index]->size(), buttons[index]->sizeHint());
            if (index > 0)
                QVERIFY(buttons[index - 1]->geometry().right() < buttons[index]->x());
        }
        const auto labelled = std::count_if(buttons.begin(), buttons.end(), [](auto *b) { return b->showsLabel(); });
        QCOMPARE(labelled == 5, everyLabel);
        // The buttons that go symbol-only go from the right: Play keeps its label longest.
        QVERIFY(buttons.front()->showsLabel());

        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("playing needs the PulseAudio daemon of scripts/with-test-services.sh");
        QList<int> places;
        for (auto *button : buttons)
            places << button->x();
        view->editor().togglePlayback();
        QTRY_VERIFY_WITH_TIMEOUT(view->editor().player().isPlaying(), 10000);
        QTest::qWait(0);
        QCOMPARE(buttons.front()->accessibleName(), QStringLiteral("Stop"));
        QList<int> playing;
        for (auto *button : buttons)
            playing << button->x();
        view->editor().togglePlayback();
        QTRY_VERIFY(!view->editor().player().isPlaying());
        QCOMPARE(playing, places);
    }

    // The program on a screen of its own: the window opens within the screen, even one smaller than
    // the usual minimum at the scale the desktop asks for.
    void windowFitsItsScreen_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QSize>("largest"); // in the screen's pixels
        QTest::newRow("small screen at scale 2") << "1600x1000x24"
                                                 << "2" << QSize(1600, 1000);
        QTest::newRow("narrower than the window") << "1280x1024x24"
                                                  << "1" << QSize(1280, 1024);
    }

    void windowFitsItsScreen()
    {
        QFETCH(QString, screen);
        QFETCH(QString, scale);
        QFETCH(QSize, largest);
        XvfbServer x11(screen);
        QVERIFY2(x11.isRunning(), "Xvfb did not start");
        ProgramHome home(x11.display());
        home.environment().insert("QT_SCALE_FACTOR", scale);
        QProcess program;
        QVERIFY(home.start(program));
        const auto geometry = x11.xdotool(
            {"search", "--sync", "--onlyvisible", "--name", "^Vespertone$", "getwindowgeometry", "--shell"});
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QVERIFY(geometry);
        QSize size;
        for (const auto &line : geometry->split('\n')) {
            if (line.startsWith("WIDTH="))
                size.setWidth(line.mid(6).toInt());
            if (line.startsWith("HEIGHT="))
                size.setHeight(line.mid(7).toInt());
        }
        QVERIFY2(size.width() > 0 && size.width() <= largest.width() && size.height() <= largest.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
    }

    // A new text is never shown cut, whether the pill widens, narrows or makes room for its spinner.
    void pillNeverCutsTheNewText_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("busy");
        const QString longer = QStringLiteral("Analyzing Vespertone 2024-05-01 21.14.09_bpm_124.mp3");
        QTest::newRow("widens") << "Saved" << longer << false;
        QTest::newRow("narrows") << longer << "Saved" << false;
        QTest::newRow("spinner joins") << longer << longer << true;
        QTest::newRow("too long for the pill") << "Saved" << QString(longer + u' ').repeated(8) << false;
    }

    void pillNeverCutsTheNewText()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, busy);
        auto *pill = m_window->content()->statusPill();
        pill->setBusy(false);
        m_store->setStatusMessage(first);
        QTRY_VERIFY(pill->isVisible());
        m_store->setStatusMessage(second);
        pill->setBusy(busy);
        const bool fits = second.size() < 100;
        const auto check = [&] {
            const auto shown = pill->shownText();
            if (fits)
                return shown == second;
            // Too long for any pill: shortened in the middle, both ends kept.
            return shown != second && shown.startsWith("Analyzing") && shown.endsWith(second.right(8));
        };
        // At every frame of the width's change, and after it.
        QElapsedTimer watching;
        watching.start();
        while (watching.elapsed() < 400) {
            QVERIFY2(check(), qPrintable(pill->shownText()));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        pill->setBusy(false);
        m_store->setStatusMessage(QString());
    }
};

QTEST_MAIN(AppearanceTest)
#include "test_appearance.moc"
