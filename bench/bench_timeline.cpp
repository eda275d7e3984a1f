// The detail editor with a long take: how long its waveform takes to appear and how responsive
// the GUI thread stays meanwhile, then the GUI thread's CPU share while the take plays with the
// timeline zoomed in and following the playhead.
// Usage: bash scripts/with-test-services.sh build/bin/bench_timeline [--minutes M] [--play S] [--file PATH]

#include "analysis/AudioAnalyzer.h"
#include "analysis/WaveformService.h"
#include "editor/RecordingEditor.h"
#include "media/AudioPlaybackService.h"
#include "platform/FreedesktopTrash.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/editor/WaveformTrimView.h"
#include "ui/style/ThemeController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

/// Counts paint events of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

/// The longest the event loop went without running a 5 ms timer.
class StallMeter : public QObject {
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { m_longest = std::max(m_longest, m_since.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_since.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};
} // namespace

int main(int argc, char *argv[])
{
    BenchSupport::preferOffscreen();
    QApplication app(argc, argv);
    int minutes = 60;
    int playSeconds = 10;
    QString file;
    const auto args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--minutes")
            minutes = args[i + 1].toInt();
        else if (args[i] == u"--play")
            playSeconds = args[i + 1].toInt();
        else if (args[i] == u"--file")
            file = args[i + 1];
    }

    QTemporaryDir root;
    const auto folder = root.filePath(QStringLiteral("Library"));
    QDir().mkpath(folder);
    const auto take = folder + u'/' + (file.isEmpty() ? QStringLiteral("Long take.wav") : QFileInfo(file).fileName());
    if (file.isEmpty()) {
        std::printf("generating %d minutes of 16-bit stereo 48 kHz WAV...\n", minutes);
        std::fflush(stdout);
        const auto status = QProcess::execute(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
             QStringLiteral("-i"),
             QStringLiteral("aevalsrc=0.5*sin(2*PI*220*t)*exp(-8*mod(t\\,0.5)):s=48000:d=%1").arg(minutes * 60),
             QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), take});
        if (status != 0)
            qFatal("ffmpeg failed");
    } else if (!QFile::link(QFileInfo(file).absoluteFilePath(), take)) {
        qFatal("cannot link %s", qPrintable(file));
    }

    // A second take, to select between two opens of the long one.
    const auto shortTake = folder + QStringLiteral("/Short take.wav");
    QProcess::execute(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
         QStringLiteral("-i"), QStringLiteral("aevalsrc=0.5*sin(2*PI*220*t)*exp(-8*mod(t\\,0.5)):s=48000:d=40"),
         QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), shortTake});

    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}});
    {
        QEventLoop loop;
        QObject::connect(&store, &RecordingLibraryStore::recoveryFinished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // The page cache holds the file for both measurements, as for the engine's figure.
    QElapsedTimer envelopeTimer;
    envelopeTimer.start();
    (void)AudioAnalyzer::waveformPeaksSync(take, RecordingEditor::peakCount);
    const auto envelopeMs = envelopeTimer.elapsed();
    // ffmpeg's decode of the take, one thread: the anchor of a first open.
    QElapsedTimer decodeTimer;
    decodeTimer.start();
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-i"), take, QStringLiteral("-f"),
                       QStringLiteral("null"), QStringLiteral("-")});
    const auto decodeMs = decodeTimer.elapsed();

    ThemeController theme(store.settings());
    RecordingEditor editor(store);
    RecordingDetailView view(editor, theme);
    view.resize(900, 640);
    view.show();
    BenchSupport::spin(200);

    StallMeter stalls;
    QElapsedTimer opening;
    QEventLoop loaded;
    QObject::connect(&editor, &RecordingEditor::waveformLoaded, &loaded, &QEventLoop::quit);
    /// Selects \a url and returns the milliseconds until its waveform shows and the longest stall.
    const auto open = [&](const QString &url) {
        stalls.start();
        opening.start();
        store.setSelectedIDs({url});
        if (editor.isLoadingWaveform())
            loaded.exec();
        const auto openMs = opening.elapsed();
        return std::pair(openMs, stalls.stop());
    };
    bool remembered = false;
    QObject::connect(&store.waveforms(), &WaveformService::remembered,
                     [&](const QString &url) { remembered = remembered || url == take; });
    const auto [firstMs, firstStall] = open(take);
    std::printf("first open: waveform shown after %lld ms (envelope in one pass: %lld ms; ffmpeg decode %lld ms; "
                "ratio to ffmpeg %.2f, target <= 0.50); longest GUI stall %lld ms\n",
                firstMs, envelopeMs, decodeMs, double(firstMs) / double(decodeMs), firstStall);
    // The second open reads what the library's cache remembers, once it is stored.
    if (!remembered) {
        QEventLoop stored;
        QObject::connect(&store.waveforms(), &WaveformService::remembered, &stored, &QEventLoop::quit);
        QTimer::singleShot(30000, &stored, &QEventLoop::quit);
        stored.exec();
    }
    (void)open(shortTake);
    const auto [secondMs, secondStall] = open(take);
    std::printf("second open (after another take): waveform shown after %lld ms (target < 50 ms); longest GUI stall "
                "%lld ms\n",
                secondMs, secondStall);

    PaintCounter counter;
    view.timeline().installEventFilter(&counter);
    int ticks = 0;
    QObject::connect(&editor.player(), &AudioPlaybackService::currentTimeChanged, [&ticks] { ++ticks; });
    /// Plays the selected take from its start at \a zoom for the given seconds and prints the
    /// GUI thread's share of a core.
    const auto measurePlayback = [&](const char *what, double zoom) {
        editor.setWaveformZoom(zoom, 0);
        editor.togglePlayback();
        QElapsedTimer started;
        started.start();
        while (!editor.player().isPlaying() && started.elapsed() < 5000)
            BenchSupport::spin(10);
        if (!editor.player().isPlaying()) {
            std::printf("playback did not start: is a sound server running?\n");
            return false;
        }
        ticks = 0;
        counter.paints = 0;
        stalls.start();
        const auto cpuBefore = threadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        BenchSupport::spin(playSeconds * 1000);
        const auto cpu = threadCpuSeconds() - cpuBefore;
        const auto seconds = double(wall.elapsed()) / 1000;
        const auto stall = stalls.stop();
        std::printf("%s, zoom %g, %.1f s: GUI thread CPU %.2f %% of a core; %d time ticks (%.1f/s), %d timeline "
                    "paints (%.1f/s); window now starts at %.2f s; longest GUI stall %lld ms\n",
                    what, zoom, seconds, 100 * cpu / seconds, ticks, ticks / seconds, counter.paints,
                    counter.paints / seconds, editor.viewport().clampedStart(), stall);
        std::fflush(stdout);
        editor.player().stop();
        return true;
    };
    if (!measurePlayback("long take", 16))
        return 1;

    // A short take zoomed in: the playhead moves every tick and the window scrolls after it.
    store.setSelectedIDs({shortTake});
    if (editor.isLoadingWaveform())
        loaded.exec();
    if (!measurePlayback("40 s take, following", 8))
        return 1;
    return 0;
}
