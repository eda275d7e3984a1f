// render_windows: draws the library window of a generated library to PNG files, in both themes,
// empty, full, with three takes selected, recording, and recording one application while the last
// seconds are kept (with the record face's menu), for looking at the layout without a display. The
// last two scenes need a sound server (scripts/with-test-services.sh provides one) and are skipped
// without it. The full library is also drawn at the minimum size, and with each menu, tooltip and
// dialog open over it.

#include "library/MetadataStore.h"
#include "media/AudioTrimmer.h"
#include "platform/FreedesktopTrash.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/library/ContentView.h"
#include "ui/library/LibraryWindow.h"
#include "ui/library/RecordMenu.h"
#include "ui/library/SidebarView.h"
#include "ui/style/AppThemeChoice.h"
#include "ui/style/ApplicationAppearance.h"
#include "ui/style/ThemeController.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <qcoro/qcorotask.h>

namespace {
struct Take {
    const char *name;
    int minutes;
    std::optional<double> bpm;
    std::optional<QString> key;
};

const Take takes[] = {
    {"Vespertone 2024-05-01 21.14.09_bpm_124", 0, 124.2, QStringLiteral("F# minor")},
    {"Night Drive Loop", 35, 127.5, QStringLiteral("A minor")},
    {"Take 2", 70, std::nullopt, std::nullopt},
    {"Take 10", 95, 90, QStringLiteral("C major")},
    {"Vocal chop from the rehearsal with a rather long name that cannot fit", 140, 172.0, QStringLiteral("D# major")},
    {"Kick", 300, std::nullopt, QStringLiteral("G minor")},
    {"Pad swell 3", 320, 84, QStringLiteral("E major")},
    {"Break 12", 330, 174, std::nullopt},
    {"Break 2", 335, 170, QStringLiteral("B minor")},
    {"Field recording, rain on the roof", 400, std::nullopt, std::nullopt},
    {"Bassline idea", 460, 122, QStringLiteral("C# minor")},
    {"Choir stab", 520, 96, QStringLiteral("F major")},
};

/// \a seconds of a 16-bit stereo 48 kHz sine, swelling twice a second, as a WAV file.
void writeTone(const QString &path, double seconds = 0.5)
{
    constexpr int rate = 48000;
    BenchSupport::writeWav(path, int(rate * seconds), [](int frame) {
        const double swell = 0.55 + 0.45 * std::sin(2 * M_PI * 2 * frame / rate);
        return qint16(std::lround(26000 * swell * std::sin(2 * M_PI * 440 * frame / rate)));
    });
}

/// The take whose long name every view must shorten; an M4A, so the extension shows.
constexpr auto longName = "Vocal chop from the rehearsal with a rather long name that cannot fit";

void fill(const QString &folder)
{
    const QDateTime first(QDate(2024, 5, 1), QTime(21, 14, 9), Qt::LocalTime);
    for (const auto &take : takes) {
        const bool m4a = QLatin1String(take.name) == QLatin1String(longName);
        auto path = folder + u'/' + QString::fromUtf8(take.name) + QStringLiteral(".wav");
        writeTone(path);
        if (m4a) {
            AudioTrimmer trimmer;
            const auto wav = path;
            path.replace(QStringLiteral(".wav"), QStringLiteral(".m4a"));
            QCoro::waitFor(trimmer.trim(wav, 0, 0.5, path));
            QFile::remove(wav);
        }
        auto metadata = RecordingMetadata::fresh(first.addSecs(60 * take.minutes));
        metadata.bpm = take.bpm;
        metadata.musicalKey = take.key;
        MetadataStore::save(metadata, path);
    }
}

/// Waits until the store has scanned its folder.
void waitForStart(RecordingLibraryStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &RecordingLibraryStore::recoveryFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
}

/// Starts a microphone take fed by a swelling tone; false when no sound server takes it.
bool startTake(RecordingLibraryStore &store, QProcess &feed, const QString &tone)
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return false;
    feed.start(QStringLiteral("paplay"), {QStringLiteral("--device=mic_feed"), tone});
    store.startRecording(RecordingInputSource::microphone, RecordingOutputFormat::wavPCM);
    for (int wait = 0; wait < 100 && !store.captureState().is(CaptureState::Kind::recording); ++wait)
        BenchSupport::spin(50);
    BenchSupport::spin(2500);
    return store.captureState().is(CaptureState::Kind::recording);
}

/// Plays \a tone as two applications, keeps the last 30 seconds of system audio and records
/// the first application alone; false when no sound server takes it.
bool startApplicationTake(RecordingLibraryStore &store, QProcess (&players)[2], const QString &tone)
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return false;
    const QString names[] = {QStringLiteral("Groove Player"), QStringLiteral("Chat")};
    for (int i = 0; i < 2; ++i)
        players[i].start(QStringLiteral("paplay"), {QStringLiteral("--client-name=") + names[i], tone});
    store.watchPlayingApplications();
    store.setKeptSeconds(30);
    for (int wait = 0; wait < 100 && (store.playingApplications().size() < 2 || !store.isListening()); ++wait)
        BenchSupport::spin(50);
    store.startRecording(CaptureTarget::application(names[0]), RecordingOutputFormat::wavPCM);
    for (int wait = 0; wait < 100 && !store.captureState().is(CaptureState::Kind::recording); ++wait)
        BenchSupport::spin(50);
    BenchSupport::spin(2500);
    return store.captureState().is(CaptureState::Kind::recording);
}

void save(QWidget &window, const QDir &out, const QString &name)
{
    // Layouts settle over a few turns: a scroll bar that goes away realigns the header.
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
    BenchSupport::spin(250); // the status pill's entrance
    if (!BenchSupport::composite(window, window.devicePixelRatioF()).save(out.filePath(name)))
        qFatal("cannot save %s", qPrintable(name));
    std::printf("%s\n", qPrintable(out.filePath(name)));
}

/// Closes every dialog and popup left open.
void closeAll(QWidget &window)
{
    for (auto *other : QApplication::topLevelWidgets()) {
        if (other == &window || !other->isVisible())
            continue;
        if (auto *dialog = qobject_cast<QDialog *>(other))
            dialog->reject();
        else
            other->hide();
    }
    QToolTip::hideText();
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
}

QToolButton *toolbarItem(QWidget &window, const QString &text)
{
    for (auto *button : window.findChildren<QToolButton *>()) {
        if (button->text() == text)
            return button;
    }
    qFatal("no toolbar item %s", qPrintable(text));
}

/// The full library at the minimum size, and with each menu, tooltip and dialog open over it.
void renderOverlays(RecordingLibraryStore &store, WidgetDialogs &dialogs, LibraryWindow &window, const QDir &out,
                    const QString &prefix)
{
    const auto name = [&](const char *scene) { return prefix + QLatin1String(scene) + QStringLiteral("-%1x.png"); };
    const auto scale = QString::number(window.devicePixelRatioF());
    dialogs.setParentWindow(&window);
    const auto longTake = std::find_if(store.recordings().begin(), store.recordings().end(),
                                       [](const auto &item) { return item.url.contains(QLatin1String(longName)); });
    store.setSelectedIDs({longTake->id()});
    window.resize(window.minimumSize());
    save(window, out, name("minimum").arg(scale));

    auto *sidebar = window.content()->sidebar();
    auto *list = sidebar->findChild<QListView *>();
    const auto row = list->visualRect(list->model()->index(2, 0)).center();
    sidebar->contextMenu(store.recordings()[2])->popup(list->viewport()->mapToGlobal(row));
    save(window, out, name("rowmenu").arg(scale));
    closeAll(window);

    auto *share = toolbarItem(window, QStringLiteral("Share"));
    share->menu()->popup(share->mapToGlobal(QPoint(0, share->height())));
    save(window, out, name("share").arg(scale));
    closeAll(window);

    auto *folder = toolbarItem(window, QStringLiteral("Folder"));
    QToolTip::showText(folder->mapToGlobal(QPoint(8, folder->height() + 4)), folder->toolTip(), folder);
    save(window, out, name("tooltip").arg(scale));
    closeAll(window);

    auto rename = store.promptRename(*longTake);
    save(window, out, name("rename").arg(scale));
    closeAll(window);
    auto import = store.promptImportURL();
    save(window, out, name("import").arg(scale));
    closeAll(window);
    window.content()->confirmDeleteSelection();
    save(window, out, name("delete").arg(scale));
    closeAll(window);
    auto choose = store.chooseFolder();
    save(window, out, name("folder").arg(scale));
    closeAll(window);
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_windows OUTDIR [SCALE]\n");
        return 2;
    }
    const QString scale = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("1");
    qputenv("QT_SCALE_FACTOR", scale.toLocal8Bit());
    BenchSupport::preferOffscreen();
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir root;
    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    PulseSoundServer soundServer;
    const auto tone = root.filePath(QStringLiteral("tone.wav"));
    writeTone(tone, 30);
    for (const char *library : {"empty", "full", "selection", "recording", "application"}) {
        const auto folder = root.filePath(QString::fromLatin1(library));
        QDir().mkpath(folder);
        if (QLatin1String(library) != QLatin1String("empty"))
            fill(folder);
        RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}, &soundServer});
        waitForStart(store);
        if (QLatin1String(library) == QLatin1String("selection"))
            store.setSelectedIDs({store.recordings()[1].id(), store.recordings()[2].id(), store.recordings()[4].id()});
        QProcess feed;
        QProcess players[2];
        if ((QLatin1String(library) == QLatin1String("recording") && !startTake(store, feed, tone))
            || (QLatin1String(library) == QLatin1String("application")
                && !startApplicationTake(store, players, tone))) {
            std::fprintf(stderr, "render_windows: no sound server; the %s scene is skipped\n", library);
            break;
        }
        for (auto theme : AppThemeChoices::all) {
            ThemeController themes(store.settings());
            themes.setTheme(theme);
            ApplicationAppearance appearance(themes);
            LibraryWindow window(store, themes);
            window.show();
            const auto prefix = QStringLiteral("library-%1-").arg(AppThemeChoices::rawValue(theme));
            save(window, out, prefix + QStringLiteral("%1-%2x.png").arg(QLatin1String(library), scale));
            if (QLatin1String(library) == QLatin1String("full"))
                renderOverlays(store, dialogs, window, out, prefix);
            if (QLatin1String(library) != QLatin1String("application"))
                continue;
            auto *menu = window.findChild<RecordMenu *>();
            emit menu->aboutToShow();
            menu->popup(QPoint(0, 0));
            save(*menu, out, QStringLiteral("record-menu-%1-%2x.png").arg(AppThemeChoices::rawValue(theme), scale));
            menu->hide();
        }
        if (store.captureState().is(CaptureState::Kind::recording)) {
            auto stop = store.stopRecording();
            BenchSupport::spin(1500);
        }
        feed.kill();
        feed.waitForFinished();
        for (auto &player : players) {
            player.kill();
            player.waitForFinished();
        }
    }
    return 0;
}
