// Speed and memory of the audio engine: peak envelope against the ffmpeg decode floor and
// plain reading, analysis cost against file length, trim cost against the trim's position and
// the terminal tool's encode-mp3 against lame alone.
// Usage: bench_engine [--dir DIR] [--runs N] [--library DIR]   (see bench/README.md)

#include "analysis/AudioAnalyzer.h"
#include "media/AudioTrimmer.h"
#include "media/FFmpegLogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

struct Measurement {
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
    bool ok = false;
};

/// Runs \a work in a forked child so its peak memory is its own; \a work returns true on success.
Measurement inChild(const std::function<bool()> &work)
{
    std::fflush(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        bool ok = false;
        try {
            ok = work();
        } catch (const std::exception &error) {
            std::fprintf(stderr, "failed: %s\n", error.what());
        }
        std::fflush(nullptr);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measurement m;
    m.seconds = double(timer.nsecsElapsed()) / 1e9;
    m.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.maxRssKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

Measurement ffmpegDecode(const QString &file)
{
    const auto path = QFile::encodeName(file);
    return inChild([&] {
        execlp("ffmpeg", "ffmpeg", "-v", "quiet", "-i", path.constData(), "-f", "null", "-", nullptr);
        return false;
    });
}

/// \a program with \a arguments in a child, its output thrown away.
Measurement program(const QString &program, const QStringList &arguments)
{
    QList<QByteArray> bytes{QFile::encodeName(program)};
    for (const auto &argument : arguments)
        bytes << QFile::encodeName(argument);
    return inChild([&] {
        std::vector<char *> argv;
        for (auto &argument : bytes)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execvp(argv[0], argv.data());
        return false;
    });
}

/// The floor of an envelope of 16-bit PCM: the largest magnitude of every sample, read in 1 MiB
/// blocks with a plain loop.
Measurement naiveMaximum(const QString &file)
{
    return inChild([&] {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        std::vector<qint16> block(1 << 19);
        int loudest = 0;
        for (;;) {
            const auto got = f.read(reinterpret_cast<char *>(block.data()), qint64(block.size() * 2));
            if (got <= 0)
                break;
            for (qint64 i = 0; i < got / 2; ++i)
                loudest = std::max(loudest, std::abs(int(block[size_t(i)])));
        }
        return loudest > 0;
    });
}

/// The best (shortest) of \a runs measurements; its memory is the largest seen.
Measurement best(int runs, const std::function<Measurement()> &measure)
{
    Measurement result;
    for (int i = 0; i < runs; ++i) {
        const auto m = measure();
        if (i == 0 || m.seconds < result.seconds) {
            const auto rss = std::max(result.maxRssKiB, m.maxRssKiB);
            result = m;
            result.maxRssKiB = rss;
        } else {
            result.maxRssKiB = std::max(result.maxRssKiB, m.maxRssKiB);
        }
        result.ok = result.ok && m.ok;
    }
    return result;
}

void print(const char *label, const Measurement &m)
{
    std::printf("  %-44s %8.2f s wall %8.2f s cpu %8.1f MiB max RSS%s\n", label, m.seconds, m.cpuSeconds,
                double(m.maxRssKiB) / 1024, m.ok ? "" : "  (FAILED)");
}

bool generate(const QString &path, const QStringList &arguments)
{
    if (QFileInfo::exists(path))
        return true;
    std::printf("generating %s ...\n", qPrintable(QFileInfo(path).fileName()));
    std::fflush(stdout);
    const int status =
        QProcess::execute(QStringLiteral("ffmpeg"),
                          QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + arguments
                              + QStringList{path});
    return status == 0;
}

QStringList beeps(int seconds)
{
    return {QStringLiteral("-f"),
            QStringLiteral("lavfi"),
            QStringLiteral("-i"),
            QStringLiteral("sine=frequency=220:beep_factor=4:sample_rate=48000:duration=%1").arg(seconds),
            QStringLiteral("-ac"),
            QStringLiteral("2")};
}

void warm(const QString &file)
{
    QFile f(file);
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.read(1 << 20).isEmpty()) {
        }
    }
}

bool trimOnce(const QString &file, double start, double end)
{
    int argc = 1;
    char name[] = "bench_engine";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    AudioTrimmer trimmer;
    std::optional<QString> output;
    auto run = [&]() -> QCoro::Task<> {
        try {
            const auto destination = QFileInfo(file).absolutePath() + QStringLiteral("/bench-trim.m4a");
            output = co_await trimmer.trim(file, start, end, destination);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "trim failed: %s\n", error.what());
        }
        QCoreApplication::quit();
    };
    auto task = run();
    app.exec();
    if (output)
        QFile::remove(*output);
    return output.has_value();
}

} // namespace

int main(int argc, char *argv[])
{
    configureFFmpegLogging();
    QString folder;
    QString library;
    int runs = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--dir")
            folder = QString::fromLocal8Bit(argv[i + 1]);
        else if (QByteArray(argv[i]) == "--library")
            library = QString::fromLocal8Bit(argv[i + 1]);
        else if (QByteArray(argv[i]) == "--runs")
            runs = std::max(1, QByteArray(argv[i + 1]).toInt());
    }
    std::optional<QTemporaryDir> temporary;
    if (folder.isEmpty()) {
        temporary.emplace();
        folder = temporary->path();
    }
    QDir().mkpath(folder);
    const auto at = [&](const char *name) { return folder + u'/' + QLatin1String(name); };
    const auto hourWav = at("hour.wav"), hourMp3 = at("hour.mp3"), hourM4a = at("hour.m4a");
    const auto shortWav = at("three-minutes.wav"), longWav = at("four-hours.wav");
    const auto shortM4a = at("three-minutes.m4a"), longM4a = at("four-hours.m4a");
    const auto hourAdts = at("hour.aac");
    if (!generate(hourWav, beeps(3600) + QStringList{QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")})
        || !generate(hourMp3,
                     {QStringLiteral("-i"), hourWav, QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                      QStringLiteral("-b:a"), QStringLiteral("192k")})
        || !generate(shortWav, beeps(180) + QStringList{QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")})
        || !generate(longWav, beeps(4 * 3600) + QStringList{QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")})
        || !generate(hourM4a, {"-i", hourWav, "-c:a", "aac", "-b:a", "192k"})
        // Four copies of the hour's packets and three minutes of them, through a raw AAC stream
        // so every packet keeps its one-frame duration: no second encoding.
        || !generate(hourAdts, {"-i", hourM4a, "-c", "copy", "-f", "adts"})
        || !generate(longM4a, {"-i", QStringLiteral("concat:%1|%1|%1|%1").arg(hourAdts), "-c", "copy"})
        || !generate(shortM4a, {"-i", hourAdts, "-t", "180", "-c", "copy"})) {
        std::fprintf(stderr, "ffmpeg could not generate the files\n");
        return 1;
    }

    print("baseline (empty child)", inChild([] { return true; }));

    // The terminal tool built beside this program.
    const auto tool = QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath() + QStringLiteral("/vespertone-tool");
    std::printf("\nPeak envelope (1100 values) of one hour, stereo, 48 kHz; best of %d\n", runs);
    for (const auto &file : {hourWav, hourMp3, hourM4a}) {
        warm(file);
        const auto name = QFileInfo(file).fileName().toUtf8();
        const auto floor = best(runs, [&] { return ffmpegDecode(file); });
        const auto envelope = best(
            runs, [&] { return inChild([&] { return AudioAnalyzer::waveformPeaksSync(file, 1100).size() >= 1100; }); });
        const auto parallel = best(runs, [&] { return program(tool, {"peaks", file}); });
        print(QByteArray("ffmpeg -f null, " + name).constData(), floor);
        print(QByteArray("waveformPeaksSync (one pass), " + name).constData(), envelope);
        print(QByteArray("vespertone-tool peaks (every core), " + name).constData(), parallel);
        std::printf("  ratio to ffmpeg: one pass %.2f, tool %.2f (target <= 0.50)\n", envelope.seconds / floor.seconds,
                    parallel.seconds / floor.seconds);
        if (file == hourWav) {
            const auto cat = best(runs, [&] { return program("cat", {file}); });
            const auto naive = best(runs, [&] { return naiveMaximum(file); });
            print("cat", cat);
            print("naive int16 maximum loop", naive);
            std::printf("  ratio to the naive loop: one pass %.2f, tool %.2f (target <= 1.20); one pass to cat %.1f\n",
                        envelope.seconds / naive.seconds, parallel.seconds / naive.seconds,
                        envelope.seconds / cat.seconds);
        }
    }

    std::printf("\nMemory against file length; best of %d\n", runs);
    for (const auto &file : {shortM4a, longM4a}) {
        warm(file);
        const auto name = QFileInfo(file).fileName().toUtf8();
        print(QByteArray("vespertone-tool peaks, " + name).constData(), best(runs, [&] {
                  return program(tool, {"peaks", file});
              }));
        print(QByteArray("vespertone-tool probe (analysis), " + name).constData(), best(runs, [&] {
                  return program(tool, {"probe", file});
              }));
    }

    std::printf("\nanalyze(url:) against file length; best of %d\n", runs);
    for (const auto &file : {shortWav, longWav, shortM4a, longM4a}) {
        warm(file);
        const auto name = QFileInfo(file).fileName().toUtf8();
        const auto m =
            best(runs, [&] { return inChild([&] { return AudioAnalyzer::analyzeSync(file).duration > 0; }); });
        print(QByteArray("analyze, " + name).constData(), m);
    }

    std::printf("\nTrim 10 s of the one-hour files; best of %d\n", runs);
    for (const auto &file : {hourWav, hourMp3}) {
        const auto name = QFileInfo(file).fileName().toUtf8();
        const auto first = best(runs, [&] { return inChild([&] { return trimOnce(file, 0, 10); }); });
        const auto last = best(runs, [&] { return inChild([&] { return trimOnce(file, 3580, 3590); }); });
        print(QByteArray("trim 0-10 s, " + name).constData(), first);
        print(QByteArray("trim 3580-3590 s, " + name).constData(), last);
    }

    if (!library.isEmpty()) {
        const auto lame = QFileInfo(tool).absolutePath() + QStringLiteral("/../share/vespertone/Encoders/lame");
        const auto out = at("encoded.mp3");
        std::printf("\nencode-mp3 of three minutes with the library %s configured; best of %d\n", qPrintable(library),
                    runs);
        const auto alone = best(runs, [&] {
            QFile::remove(out);
            return program(lame, {"--silent", "--cbr", "-b", "192", shortWav, out});
        });
        const auto command = best(runs, [&] {
            QFile::remove(out);
            return program(tool, {"encode-mp3", shortWav, out, "--folder", library});
        });
        QFile::remove(out);
        print("lame alone", alone);
        print("vespertone-tool encode-mp3", command);
        std::printf("  ratio %.2f (target 1.0)\n", command.seconds / alone.seconds);
    }
    return 0;
}
