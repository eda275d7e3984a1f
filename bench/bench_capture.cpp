// CPU time and dropped buffers of the capture pipeline, per format, while a sine plays into
// the default sink (a module-sine of the sound server) and its monitor is recorded.
// Run under scripts/with-test-services.sh:
//   bench_capture [--minutes M] [--formats aacM4A,wavPCM,aiffPCM,mp3LAME] [--threads]

#include "base/AppError.h"
#include "capture/AudioCaptureService.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
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

void measure(RecordingOutputFormat format, double minutes, const QString &folder, bool perThread)
{
    PulseSoundServer server;
    SystemClock clock;
    AudioCaptureService service(server, clock);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    finished(service.startRecording(folder, {format, AudioBitRate::kbps192, 48000, 2}, CaptureTarget::defaultOutput()));
    runFor(minutes * 60);
    const auto threads = perThread ? threadTimes() : QString();
    const auto url = finished(service.stopRecording());
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000;
    const double audio = double(AudioFileReader(url).length()) / 48000;
    std::printf("%-8s %7.1f s audio in %7.1f s   CPU %6.2f s = %5.2f %% of one core, %5.2f s per audio minute   "
                "dropped buffers %lld\n",
                qPrintable(RecordingOutputFormats::rawValue(format)), audio, elapsed, cpu, 100 * cpu / elapsed,
                cpu / (audio / 60), static_cast<long long>(service.droppedBufferCount()));
    if (perThread)
        std::printf("         threads: %s\n", qPrintable(threads));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    double minutes = 1;
    bool perThread = false;
    QStringList formats{"aacM4A", "wavPCM", "aiffPCM", "mp3LAME"};
    const auto arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--minutes") && i + 1 < arguments.size())
            minutes = arguments[++i].toDouble();
        else if (arguments[i] == QStringLiteral("--formats") && i + 1 < arguments.size())
            formats = arguments[++i].split(u',');
        else if (arguments[i] == QStringLiteral("--threads"))
            perThread = true;
    }
    try {
        (void)PulseSoundServer().playbackStreams();
    } catch (const std::exception &) {
        std::fprintf(stderr, "no sound server answers: run under scripts/with-test-services.sh\n");
        return 1;
    }
    const auto sine = pactl({"load-module", "module-sine", "sink=@DEFAULT_SINK@", "frequency=440"});
    QTemporaryDir folder;
    // A first short take lets the server settle into small blocks; it is not reported.
    {
        PulseSoundServer server;
        SystemClock clock;
        AudioCaptureService service(server, clock);
        finished(service.startRecording(folder.path(), {RecordingOutputFormat::wavPCM, AudioBitRate::kbps192, 48000, 2},
                                        CaptureTarget::defaultOutput()));
        runFor(3);
        finished(service.stopRecording());
    }
    std::printf("capture of the default sink's monitor, %.1f min per format, 48000 Hz stereo\n", minutes);
    for (const auto &name : formats) {
        if (const auto format = RecordingOutputFormats::fromRawValue(name))
            measure(*format, minutes, folder.path(), perThread);
        else
            std::fprintf(stderr, "unknown format %s\n", qPrintable(name));
    }
    pactl({"unload-module", sine});
    return 0;
}
