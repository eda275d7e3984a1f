// Times the sidebar's work on the GUI thread with a library of 10,000 takes: each sort order, a
// refresh that adds one take, selecting one and all rows, and one repaint of the visible rows.
//
//   build/bin/bench_sidebar [TAKES]

#include "library/MetadataStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/library/SidebarSortColumn.h"
#include "ui/library/SidebarSortOrder.h"
#include "ui/library/SidebarView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {
const char *const keys[] = {"C major", "A minor", "F# minor", "D# major", "G minor", "B major"};

/// TAKES hard links to one 10-frame WAV, each with a sidecar: a date, mostly a tempo and a key.
void fill(const QString &folder, int takes)
{
    const auto tiny = folder + QStringLiteral("/.tiny");
    BenchSupport::writeWav(tiny, 10, [](int) { return qint16(0); });
    auto random = QRandomGenerator(7);
    const QDateTime start(QDate(2024, 1, 1), QTime(9, 0));
    for (int take = 0; take < takes; ++take) {
        const auto path = folder + QStringLiteral("/Take %1.wav").arg(take);
        if (::link(QFile::encodeName(tiny).constData(), QFile::encodeName(path).constData()) != 0)
            qFatal("cannot link %s", qPrintable(path));
        auto metadata = RecordingMetadata::fresh(start.addSecs(random.bounded(3600 * 24 * 300)));
        if (random.bounded(10) > 0)
            metadata.bpm = 60 + random.bounded(120.0);
        if (random.bounded(10) > 1)
            metadata.musicalKey = QString::fromLatin1(keys[random.bounded(6)]);
        MetadataStore::save(metadata, path);
    }
    QFile::remove(tiny);
}

void waitFor(QObject *sender, const char *signal)
{
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, SLOT(quit()));
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
}

void report(const char *what, qint64 nanoseconds)
{
    std::printf("%-34s %8.2f ms%s\n", what, nanoseconds / 1e6, nanoseconds > 50'000'000 ? "  (over 50 ms)" : "");
}
} // namespace

int main(int argc, char *argv[])
{
    BenchSupport::preferOffscreen();
    QApplication app(argc, argv);
    const int takes = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir root;
    const auto folder = root.filePath(QStringLiteral("Library"));
    QDir().mkpath(folder);
    fill(folder, takes);

    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}});
    waitFor(&store, SIGNAL(recoveryFinished()));
    std::printf("%lld takes listed\n", qlonglong(store.recordings().size()));

    // The timer starts before the sidebar's model follows a new listing and stops after it.
    QElapsedTimer timer;
    qint64 refreshed = 0;
    QObject::connect(&store, &RecordingLibraryStore::recordingsChanged, [&timer] { timer.start(); });
    QElapsedTimer built;
    built.start();
    SidebarView view(store);
    report("build the sidebar", built.nsecsElapsed());
    QObject::connect(&store, &RecordingLibraryStore::recordingsChanged, [&] { refreshed = timer.nsecsElapsed(); });
    view.resize(470, 700);
    view.show();
    QCoreApplication::processEvents();

    for (const auto column : SidebarSortColumns::all) {
        for (int direction = 0; direction < 2; ++direction) {
            timer.start();
            view.setSort(column);
            const auto sorted = timer.nsecsElapsed();
            const auto name =
                QStringLiteral("sort by %1 %2")
                    .arg(SidebarSortColumns::headerTitle(column),
                         view.sortOrder().isAscending() ? QStringLiteral("ascending") : QStringLiteral("descending"));
            report(qPrintable(name), sorted);
        }
    }
    timer.start();
    SidebarSortOrder(SidebarSortColumn::title, true).save(store.settings());
    report("store a sort order", timer.nsecsElapsed());
    timer.start();
    view.repaint();
    report("repaint the visible rows", timer.nsecsElapsed());

    const auto added = folder + QStringLiteral("/Take new.wav");
    QFile::copy(store.recordings().front().url, added);
    store.refresh(added);
    waitFor(&store, SIGNAL(refreshFinished()));
    report("refresh adding one take", refreshed);

    QSet<QString> all;
    for (const auto &item : store.recordings())
        all.insert(item.id());
    timer.start();
    store.setSelectedIDs(all);
    report("select all rows", timer.nsecsElapsed());
    timer.start();
    store.setSelectedIDs({store.recordings().front().id()});
    report("select one row", timer.nsecsElapsed());
    return 0;
}
