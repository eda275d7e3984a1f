// The desktop's start with a large library: the time until the library window is first painted,
// until its list paints its first row and until the start-up scan has corrected the list, and the
// process's peak memory; once with nothing remembered and twice with the cache the scan before
// left. Each start runs in a process of its own.
//
//   build/bin/bench_startup [TAKES] [--dir DIR]

#include "library/MetadataStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/library/LibraryWindow.h"
#include "ui/style/ThemeController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

// A tree without the remembered list (to measure the code before it) starts with its scan alone.
#if __has_include("library/LibrarySnapshot.h")
#define REMEMBERS_LIST 1
#endif

namespace {

/// TAKES copies of twenty ffmpeg-encoded originals of 1 to 3 s, a quarter each WAV, AIFF, M4A
/// and MP3, each with a sidecar; made once in \a root/library.
QString makeLibrary(const QString &root, int takes)
{
    const QStringList extensions{"wav", "aiff", "m4a", "mp3"};
    const auto folder = QDir(root).filePath("library");
    QDir().mkpath(folder);
    QStringList originals;
    for (int i = 0; i < 20; ++i) {
        const auto path = QDir(root).filePath(QStringLiteral("orig%1.%2").arg(i).arg(extensions[i % 4]));
        if (!QFileInfo::exists(path)
            && QProcess::execute(
                   "ffmpeg",
                   {"-v", "error", "-y", "-f", "lavfi", "-i",
                    QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2").arg(220 + 20 * i).arg(1 + i % 3),
                    "-ac", "2", path})
                != 0)
            qFatal("ffmpeg failed");
        originals << path;
    }
    const QDateTime start(QDate(2024, 1, 1), QTime(9, 0));
    for (int i = 0; i < takes; ++i) {
        const auto &source = originals[i % originals.size()];
        const auto target = QDir(folder).filePath(QStringLiteral("Take %1.%2").arg(i).arg(QFileInfo(source).suffix()));
        if (QFileInfo::exists(target))
            continue;
        QFile::copy(source, target);
        auto metadata = RecordingMetadata::fresh(start.addSecs(i * 60));
        metadata.bpm = 80 + i % 90;
        metadata.musicalKey = QStringLiteral("A minor");
        MetadataStore::save(metadata, target);
    }
    return folder;
}

/// Notes the window's first paint (of any of its widgets) and the list's first paint with rows.
class PaintWatch : public QObject {
public:
    PaintWatch(QElapsedTimer &clock, QAbstractItemView &list) : m_clock(clock), m_list(list) {}
    qint64 windowPainted = -1;
    qint64 rowPainted = -1;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched != m_list.viewport() && windowPainted < 0)
                windowPainted = m_clock.elapsed();
            if (watched == m_list.viewport() && rowPainted < 0 && m_list.model()->rowCount() > 0)
                rowPainted = m_clock.elapsed();
        }
        return false;
    }

private:
    QElapsedTimer &m_clock;
    QAbstractItemView &m_list;
};

/// One start of the desktop's store and library window on \a folder; prints its figures.
int startOnce(const QString &folder, const QString &settingsFile)
{
    QElapsedTimer clock;
    clock.start();
    int argc = 1;
    char name[] = "bench_startup";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QSettings settings(settingsFile, QSettings::IniFormat);
    SystemClock systemClock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    StoreEnvironment environment{&settings, &systemClock, &trash, &dialogs, folder, {}};
#ifdef REMEMBERS_LIST
    environment.showRememberedLibrary = true;
#endif
    RecordingLibraryStore store(environment);
    ThemeController theme(store.settings());
    LibraryWindow window(store, theme);
    window.resize(1320, 760);
    auto *list = window.findChild<QAbstractItemView *>();
    if (!list)
        qFatal("the window has no list");
    PaintWatch watch(clock, *list);
    app.installEventFilter(&watch);
    qint64 listed = -1;
    qsizetype rowsAtFirstPaint = 0;
    QObject::connect(&store, &RecordingLibraryStore::refreshFinished, &app, [&] {
        if (listed < 0)
            listed = clock.elapsed();
    });
    window.show();
    const qint64 shown = clock.elapsed();
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (watch.rowPainted >= 0 && rowsAtFirstPaint == 0)
            rowsAtFirstPaint = list->model()->rowCount();
        if (listed >= 0 && watch.rowPainted >= 0)
            app.quit();
    });
    poll.start();
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    app.exec();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("  window shown %4lld ms, painted %4lld ms; first row painted %5lld ms (%lld ms after the window's "
                "paint, %lld rows); scan corrected the list at %5lld ms (%lld rows); max RSS %.1f MiB\n",
                shown, watch.windowPainted, watch.rowPainted, watch.rowPainted - watch.windowPainted,
                qlonglong(rowsAtFirstPaint), listed, qlonglong(store.recordings().size()),
                double(usage.ru_maxrss) / 1024);
    std::fflush(stdout);
    return watch.rowPainted >= 0 && listed >= 0 ? 0 : 1;
}

/// startOnce in a child process, so its time and memory start from nothing.
int inChild(const QString &folder, const QString &settingsFile)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(startOnce(folder, settingsFile));
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchSupport::preferOffscreen();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    std::optional<QTemporaryDir> temporary;
    QString root;
    if (const auto at = arguments.indexOf("--dir"); at >= 0 && at + 1 < arguments.size()) {
        root = arguments.at(at + 1);
        arguments.remove(at, 2);
        QDir().mkpath(root);
    } else {
        temporary.emplace();
        root = temporary->path();
    }
    const int takes = arguments.isEmpty() ? 10000 : arguments.first().toInt();
    QString folder;
    {
        int dummyArgc = 1;
        QCoreApplication app(dummyArgc, argv);
        folder = makeLibrary(root, takes);
    }
    const auto settingsFile = QDir(root).filePath("settings.ini");
    std::printf("library: %d takes (a quarter each WAV, AIFF, M4A, MP3), each with a sidecar; offscreen\n", takes);
    int failures = 0;
    QDir(QDir(folder).filePath(".vespertone/cache")).removeRecursively();
    std::printf("nothing remembered:\n");
    failures += inChild(folder, settingsFile);
    for (int run = 1; run <= 2; ++run) {
        std::printf("remembered (run %d):\n", run);
        failures += inChild(folder, settingsFile);
    }
    return failures == 0 ? 0 : 1;
}
