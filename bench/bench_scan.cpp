// Times a full library scan of 1,000 short recordings (WAV, AIFF, M4A, MP3) against the floor of
// reading each file's first 64 KiB; with --links, a scan of a folder of hard links to one tiny WAV.
//
//   build/bin/bench_scan [FILES]
//   build/bin/bench_scan --links [FILES]

#include "analysis/AudioAnalyzer.h"
#include "library/RecordingScanner.h"
#include "media/FFmpegLogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace {

QString encode(const QString &path, double seconds)
{
    QStringList arguments{"-v",
                          "error",
                          "-y",
                          "-f",
                          "lavfi",
                          "-i",
                          QStringLiteral("sine=frequency=330:sample_rate=48000:duration=%1").arg(seconds),
                          "-ac",
                          "2"};
    if (path.endsWith(".aiff"))
        arguments << "-f"
                  << "aiff";
    if (path.endsWith(".m4a"))
        arguments << "-c:a"
                  << "aac"
                  << "-f"
                  << "ipod";
    arguments << path;
    if (QProcess::execute("ffmpeg", arguments) != 0)
        qFatal("ffmpeg failed for %s", qPrintable(path));
    return path;
}

double readHeads(const QStringList &paths)
{
    QElapsedTimer timer;
    timer.start();
    qint64 bytes = 0;
    for (const auto &path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes += file.read(64 * 1024).size();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (bytes == 0)
        qFatal("nothing read");
    return seconds;
}

/// FILES hard links to one 10-frame WAV: the scan's cost per entry with nothing to decode.
int scanLinks(int count)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("library");
    const auto tiny = encode(dir.filePath("tiny.wav"), 10 / 48000.0);
    for (int i = 0; i < count; ++i) {
        const auto link = dir.filePath(QStringLiteral("library/t%1.wav").arg(i));
        if (::link(QFile::encodeName(tiny).constData(), QFile::encodeName(link).constData()) != 0)
            qFatal("cannot link %s", qPrintable(link));
    }
    QElapsedTimer timer;
    timer.start();
    const auto result = RecordingScanner::scan(dir.filePath("library"));
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%d links: scan %.3f s (%.1f us/file, %lld items)\n", count, seconds, seconds / count * 1e6,
                (long long)result.items.size());
    return result.items.size() == count ? 0 : 1;
}

long maxRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    configureFFmpegLogging();
    QCoreApplication app(argc, argv);
    auto arguments = app.arguments().mid(1);
    if (arguments.removeAll("--links") > 0)
        return scanLinks(arguments.isEmpty() ? 10000 : arguments.first().toInt());
    const int count = arguments.isEmpty() ? 1000 : arguments.first().toInt();
    QTemporaryDir dir;
    const QStringList extensions{"wav", "aiff", "m4a", "mp3"};

    // Twenty originals of 2 to 10 s, copied to make up the library.
    QStringList originals;
    for (int i = 0; i < 20; ++i)
        originals << encode(dir.filePath(QStringLiteral("orig%1.%2").arg(i).arg(extensions[i % 4])), 2 + i % 5 * 2);
    QDir(dir.path()).mkdir("library");
    QStringList library;
    for (int i = 0; i < count; ++i) {
        const auto &source = originals[i % originals.size()];
        const auto target = dir.filePath(QStringLiteral("library/Take %1.%2").arg(i).arg(QFileInfo(source).suffix()));
        QFile::copy(source, target);
        library << target;
    }

    std::printf("library: %d files (%d each of wav, aiff, m4a, mp3)\n", count, count / 4);
    for (int pass = 1; pass <= 3; ++pass) {
        QElapsedTimer timer;
        timer.start();
        const auto items = RecordingScanner::scan(dir.filePath("library")).items;
        const double scan = timer.nsecsElapsed() / 1e9;
        const double heads = readHeads(library);
        std::printf("pass %d: scan %.3f s (%.1f us/file, %lld items)   64 KiB head reads %.3f s (%.1f us/file)   "
                    "ratio %.1fx\n",
                    pass, scan, scan / count * 1e6, (long long)items.size(), heads, heads / count * 1e6, scan / heads);
    }
    for (const auto &extension : extensions) {
        QStringList some;
        for (const auto &path : library)
            if (path.endsWith("." + extension))
                some << path;
        QElapsedTimer timer;
        timer.start();
        for (const auto &path : some)
            (void)AudioAnalyzer::duration(path);
        std::printf("duration(for:) %-4s %.1f us/file\n", qPrintable(extension),
                    timer.nsecsElapsed() / 1e3 / some.size());
    }
    std::printf("max RSS %ld KiB\n", maxRssKiB());
    return 0;
}
