// The capture pipeline's cost while a sine plays into the default sink (a module-sine of the sound
// server) and its monitor is recorded. Run under scripts/with-test-services.sh:
//   bench_capture [--minutes M] [--formats aacM4A,wavPCM,aiffPCM,mp3LAME] [--threads] [--sync on|off|both]
//   bench_capture --latency [--runs N]
//   bench_capture --window [--seconds S]
//   bench_capture --versus-parecord [--seconds S]

#include "analysis/AudioAnalyzer.h"
#include "base/AppError.h"
#include "capture/AudioCaptureService.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "platform/Dialogs.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "platform/Trash.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <numeric>

extern char **environ;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// The process's resident memory in MiB, from /proc/self/statm.
double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const auto fields = QString::fromLatin1(statm.readAll()).split(u' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QCoro::Task<> settle(QCoro::Task<QString> task, QString &value, QString &error, QEventLoop &loop, bool &done)
{
    try {
        value = co_await std::move(task);
    } catch (const std::exception &e) {
        error = errorText(e);
    }
    done = true;
    loop.quit();
}

/// Runs the event loop until \a task is done; exits the program when it fails.
QString finished(QCoro::Task<QString> task)
{
    QEventLoop loop;
    QString value, error;
    bool done = false;
    const auto settling = settle(std::move(task), value, error, loop, done);
    if (!done)
        loop.exec();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "capture failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    return value;
}

QString pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

/// CPU seconds of each thread of this process, by thread name.
QString threadTimes()
{
    QStringList parts;
    const auto ticks = double(sysconf(_SC_CLK_TCK));
    for (const auto &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const auto text = QString::fromLatin1(stat.readAll());
        const auto name = text.section(u'(', 1).section(u')', 0, 0);
        const auto fields = text.section(u')', -1).split(u' ', Qt::SkipEmptyParts);
        parts << QStringLiteral("%1 %2 s").arg(name).arg((fields[11].toDouble() + fields[12].toDouble()) / ticks, 0,
                                                         'f', 2);
    }
    return parts.join(QStringLiteral(", "));
}

void measure(RecordingOutputFormat format, double minutes, const QString &folder, bool perThread, bool sync)
{
    PulseSoundServer server;
    SystemClock clock;
    AudioCaptureService service(server, clock);
    service.setSyncInterval(sync ? AudioCaptureService::defaultSyncInterval : std::chrono::milliseconds(0));
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    finished(service.startRecording(folder, {format, AudioBitRate::kbps192, 48000, 2}, CaptureTarget::defaultOutput()));
    BenchSupport::spin(int(minutes * 60000));
    const auto threads = perThread ? threadTimes() : QString();
    const auto url = finished(service.stopRecording());
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000;
    const double audio = double(AudioFileReader(url).length()) / 48000;
    std::printf("%-8s sync %-3s %7.1f s audio in %7.1f s   CPU %6.2f s = %5.2f %% of one core, %5.2f s per audio "
                "minute   dropped buffers %lld\n",
                qPrintable(RecordingOutputFormats::rawValue(format)), sync ? "on" : "off", audio, elapsed, cpu,
                100 * cpu / elapsed, cpu / (audio / 60), static_cast<long long>(service.droppedBufferCount()));
    if (perThread)
        std::printf("         threads: %s\n", qPrintable(threads));
    std::fflush(stdout);
}

/// Keeps the shared thread pool busy with an MP3 encode of \a wav and the envelope of \a hour,
/// over and over, until \a stop.
void keepThePoolBusy(const QString &wav, const QString &hour, std::atomic<bool> &stop)
{
    QThreadPool::globalInstance()->start([&stop, wav] {
        const auto lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
        while (!stop) {
            QProcess encoder;
            encoder.start(lame,
                          {QStringLiteral("--silent"), QStringLiteral("--cbr"), QStringLiteral("-b"),
                           QStringLiteral("192"), wav, wav + QStringLiteral(".mp3")});
            encoder.waitForFinished(-1);
        }
    });
    QThreadPool::globalInstance()->start([&stop, hour] {
        while (!stop)
            (void)AudioAnalyzer::waveformPeaksSync(hour, 1100);
    });
}

/// The time from the toggle to the first frame reaching the take's writer, while the shared pool
/// encodes an MP3 and reads the envelope of an hour of audio.
int latency(int runs)
{
    QTemporaryDir root;
    std::printf("making the load's inputs: ten minutes of WAV to encode, an hour of WAV to read\n");
    std::fflush(stdout);
    const auto wav = root.filePath(QStringLiteral("encode.wav"));
    const auto hour = root.filePath(QStringLiteral("hour.wav"));
    const auto tone = [](int frame) { return qint16(std::lround(12000 * std::sin(2 * M_PI * 440 * frame / 48000.0))); };
    BenchSupport::writeWav(wav, 48000 * 600, tone);
    BenchSupport::writeWav(hour, 48000 * 3600, tone);

    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    PulseSoundServer server;
    struct NoTrash final : Trash {
        bool moveToTrash(const QString &, QString *) override { return false; }
    } trash;
    struct NoDialogs final : Dialogs {
        QCoro::Task<std::optional<QString>> chooseFolder(QString, QString) override { co_return std::nullopt; }
        QCoro::Task<std::optional<QString>> askText(QString, QString, QString) override { co_return std::nullopt; }
        QCoro::Task<bool> confirm(QString, QString, QString) override { co_return false; }
    } dialogs;
    RecordingLibraryStore store(
        {&settings, &clock, &trash, &dialogs, root.filePath(QStringLiteral("Library")), {}, &server});
    {
        QEventLoop loop;
        QObject::connect(&store, &RecordingLibraryStore::recoveryFinished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    store.setRecordingFormat(RecordingOutputFormat::wavPCM);

    std::atomic<bool> stop = false;
    keepThePoolBusy(wav, hour, stop);
    BenchSupport::spin(2000);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer sinceToggle;
        QEventLoop loop;
        double firstFrame = -1;
        const auto connection = QObject::connect(&store, &RecordingLibraryStore::livePeaksChanged, &loop, [&] {
            if (firstFrame < 0 && !store.livePeaks().empty()) {
                firstFrame = double(sinceToggle.nsecsElapsed()) / 1e6;
                loop.quit();
            }
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        sinceToggle.start();
        store.toggleRecording(RecordingInputSource::macAudio);
        loop.exec();
        QObject::disconnect(connection);
        // None within the wait counts as the whole wait.
        times.push_back(firstFrame < 0 ? 20000 : firstFrame);
        std::printf("run %2d: first frame %7.1f ms after the toggle%s, shared pool busy: %d of %d threads\n", run + 1,
                    times.back(), firstFrame < 0 ? " (none yet)" : "",
                    QThreadPool::globalInstance()->activeThreadCount(),
                    QThreadPool::globalInstance()->maxThreadCount());
        std::fflush(stdout);
        BenchSupport::spin(300);
        store.toggleRecording(RecordingInputSource::macAudio);
        for (int wait = 0; wait < 400 && store.isStatusBusy(); ++wait)
            BenchSupport::spin(50);
    }
    stop = true;
    std::sort(times.begin(), times.end());
    std::printf("toggle to first captured frame under load: median %.1f ms, worst %.1f ms over %d takes "
                "(target: at most 150 ms)\n",
                times[times.size() / 2], times.back(), runs);
    QThreadPool::globalInstance()->waitForDone();
    return times.back() <= 150 ? 0 : 1;
}

/// The memory and CPU of keeping the last \a seconds while only listening, and a save meanwhile.
int window(int seconds)
{
    PulseSoundServer server;
    SystemClock clock;
    AudioCaptureService service(server, clock);
    BenchSupport::spin(500);
    const double before = residentMiB();
    service.keepWindow(CaptureTarget::defaultOutput(), seconds);
    std::printf("keeping the last %d s of the default output; filling the window...\n", seconds);
    std::fflush(stdout);
    BenchSupport::spin((seconds + 5) * 1000);
    if (!service.isListening()) {
        std::fprintf(stderr, "the window does not listen: %s\n", qPrintable(service.windowProblem()));
        return 1;
    }
    const double full = residentMiB();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    BenchSupport::spin(60000);
    const double cpu = cpuSeconds() - cpuBefore;
    const double listened = double(wall.elapsed()) / 1000;
    std::printf("window of %d s: %.1f MiB resident more than before it listened (target: at most 50 MB)\n", seconds,
                full - before);
    std::printf("only listening for %.0f s: CPU %.2f s = %.2f %% of one core (target: under 1 %%)\n", listened, cpu,
                100 * cpu / listened);

    QTemporaryDir folder;
    QElapsedTimer saving;
    saving.start();
    const auto url =
        finished(service.saveWindow(folder.path(), {RecordingOutputFormat::wavPCM, AudioBitRate::kbps192, 48000, 2}));
    std::printf("saving the window as WAV: %.0f ms, %.1f s of audio; the window kept listening: %s\n",
                double(saving.nsecsElapsed()) / 1e6, double(AudioFileReader(url).length()) / 48000,
                service.isListening() ? "yes" : "no");
    return 0;
}

/// Runs \a program with \a arguments and returns its user and system CPU seconds; -1 on failure.
double childCpu(const QString &program, const QStringList &arguments, int *status = nullptr)
{
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const auto &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int result = 0;
    rusage usage{};
    wait4(pid, &result, 0, &usage);
    if (status)
        *status = result;
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// A PCM take of \a seconds by vespertone-tool (start, capture, stop, analysis and its rename)
/// against parecord writing the same container, whole processes side by side.
int versusParecord(int seconds)
{
    const auto tool = QCoreApplication::applicationDirPath() + QStringLiteral("/vespertone-tool");
    const auto parecord = QStandardPaths::findExecutable(QStringLiteral("parecord"));
    const auto timeout = QStandardPaths::findExecutable(QStringLiteral("timeout"));
    if (!QFile::exists(tool) || parecord.isEmpty() || timeout.isEmpty()) {
        std::fprintf(stderr, "needs vespertone-tool beside this program, parecord and timeout\n");
        return 1;
    }
    const auto monitor = pactl({QStringLiteral("get-default-sink")}) + QStringLiteral(".monitor");
    std::printf("%d s takes of the default output's monitor, whole-process CPU (user + system)\n", seconds);
    for (const auto &[format, container] : {std::pair(QStringLiteral("wavPCM"), QStringLiteral("wav")),
                                            std::pair(QStringLiteral("aiffPCM"), QStringLiteral("aiff"))}) {
        QTemporaryDir folder;
        const double ours = childCpu(tool,
                                     {QStringLiteral("record"), QStringLiteral("--seconds"), QString::number(seconds),
                                      QStringLiteral("--format"), format, QStringLiteral("--folder"), folder.path()});
        // parecord stops on SIGINT after the same time; timeout sends it.
        const double theirs = childCpu(timeout,
                                       {QStringLiteral("-s"), QStringLiteral("INT"), QString::number(seconds), parecord,
                                        QStringLiteral("--file-format=") + container, QStringLiteral("-d"), monitor,
                                        folder.filePath(QStringLiteral("parecord.") + container)});
        std::printf("%-8s vespertone-tool %.3f s, parecord %.3f s: %.2fx (target: at most 1.5x)\n", qPrintable(format),
                    ours, theirs, ours / theirs);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    double minutes = 1;
    bool perThread = false;
    QString sync = QStringLiteral("on");
    QString mode;
    int runs = 10;
    int seconds = 0;
    QStringList formats{"aacM4A", "wavPCM", "aiffPCM", "mp3LAME"};
    const auto arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const auto &argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QStringLiteral("--minutes") && hasValue)
            minutes = arguments[++i].toDouble();
        else if (argument == QStringLiteral("--formats") && hasValue)
            formats = arguments[++i].split(u',');
        else if (argument == QStringLiteral("--sync") && hasValue)
            sync = arguments[++i];
        else if (argument == QStringLiteral("--runs") && hasValue)
            runs = std::max(1, arguments[++i].toInt());
        else if (argument == QStringLiteral("--seconds") && hasValue)
            seconds = arguments[++i].toInt();
        else if (argument == QStringLiteral("--threads"))
            perThread = true;
        else if (argument.startsWith(QStringLiteral("--")))
            mode = argument;
    }
    try {
        (void)PulseSoundServer().playbackStreams();
    } catch (const std::exception &) {
        std::fprintf(stderr, "no sound server answers: run under scripts/with-test-services.sh\n");
        return 1;
    }
    const auto sine = pactl({"load-module", "module-sine", "sink=@DEFAULT_SINK@", "frequency=440"});
    const auto unload = qScopeGuard([&] { pactl({"unload-module", sine}); });
    QTemporaryDir folder;
    // A first short take lets the server settle into small blocks; it is not reported.
    {
        PulseSoundServer server;
        SystemClock clock;
        AudioCaptureService service(server, clock);
        finished(service.startRecording(folder.path(), {RecordingOutputFormat::wavPCM, AudioBitRate::kbps192, 48000, 2},
                                        CaptureTarget::defaultOutput()));
        BenchSupport::spin(3000);
        finished(service.stopRecording());
    }
    if (mode == QStringLiteral("--latency"))
        return latency(runs);
    if (mode == QStringLiteral("--window"))
        return window(seconds > 0 ? seconds : 120);
    if (mode == QStringLiteral("--versus-parecord"))
        return versusParecord(seconds > 0 ? seconds : 30);

    std::printf("capture of the default sink's monitor, %.1f min per format, 48000 Hz stereo\n", minutes);
    for (const auto &name : formats) {
        const auto format = RecordingOutputFormats::fromRawValue(name);
        if (!format) {
            std::fprintf(stderr, "unknown format %s\n", qPrintable(name));
            continue;
        }
        if (sync != QStringLiteral("on"))
            measure(*format, minutes, folder.path(), perThread, false);
        if (sync != QStringLiteral("off"))
            measure(*format, minutes, folder.path(), perThread, true);
    }
    return 0;
}
