// Times library scans of FILES recordings (a quarter each WAV, AIFF, M4A, MP3, each with a
// sidecar) against the floor of opening each file and reading its first 64 KiB: cold (nothing
// remembered, the files' pages dropped), warm (nothing remembered) and remembered (the cache
// of the scan before), then a scan after a hundredth of the files changed; with --links, a scan
// of a folder of hard links to one tiny WAV.
//
//   build/bin/bench_scan [FILES] [--dir DIR]
//   build/bin/bench_scan --links [FILES]

#include "analysis/AudioAnalyzer.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "media/FFmpegLogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

// A tree without the scan's cache (to measure the code before it) scans without remembering.
#if __has_include("library/DurationCache.h")
#define SCAN RecordingScanner::scanRemembering
#else
#define SCAN RecordingScanner::scan
#endif

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

/// Drops the page cache of \a paths (and their sidecars), as after a reboot, for these files only.
void dropPages(const QStringList &paths)
{
    for (const auto &path : paths) {
        for (const auto &file : {path, MetadataStore::metadataURL(path)}) {
            const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
            if (fd >= 0) {
                ::fdatasync(fd);
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                ::close(fd);
            }
        }
    }
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

/// The library of \a count takes in \a root/library, made once: copies of twenty originals of
/// 2 to 10 s, each with a sidecar of a date, a tempo and a key.
QStringList makeLibrary(const QString &root, int count)
{
    const QStringList extensions{"wav", "aiff", "m4a", "mp3"};
    QDir(root).mkpath("library");
    QStringList originals;
    for (int i = 0; i < 20; ++i) {
        const auto path = QDir(root).filePath(QStringLiteral("orig%1.%2").arg(i).arg(extensions[i % 4]));
        originals << (QFileInfo::exists(path) ? path : encode(path, 2 + i % 5 * 2));
    }
    QStringList library;
    const auto base = QDateTime(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        const auto &source = originals[i % originals.size()];
        const auto target =
            QDir(root).filePath(QStringLiteral("library/Take %1.%2").arg(i).arg(QFileInfo(source).suffix()));
        if (!QFileInfo::exists(target)) {
            QFile::copy(source, target);
            auto metadata = RecordingMetadata::fresh(base.addSecs(i));
            metadata.bpm = 90 + i % 60;
            metadata.musicalKey = QStringLiteral("A minor");
            MetadataStore::save(metadata, target);
        }
        library << target;
    }
    return library;
}

void report(const char *pass, double scan, double heads, int count, qsizetype items)
{
    std::printf("%-26s scan %7.3f s %7.1f us/file (%lld items)   64 KiB head reads %6.3f s %6.1f us/file   "
                "ratio %5.1fx\n",
                pass, scan, scan / count * 1e6, (long long)items, heads, heads / count * 1e6, scan / heads);
}

double timedScan(const QString &folder, qsizetype &items)
{
    QElapsedTimer timer;
    timer.start();
    items = SCAN(folder).items.size();
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    configureFFmpegLogging();
    QCoreApplication app(argc, argv);
    auto arguments = app.arguments().mid(1);
    if (arguments.removeAll("--links") > 0)
        return scanLinks(arguments.isEmpty() ? 10000 : arguments.first().toInt());
    std::optional<QTemporaryDir> temporary;
    QString root;
    if (const auto at = arguments.indexOf("--dir"); at >= 0 && at + 1 < arguments.size()) {
        root = arguments.at(at + 1);
        arguments.remove(at, 2);
    } else {
        temporary.emplace();
        root = temporary->path();
    }
    const int count = arguments.isEmpty() ? 10000 : arguments.first().toInt();
    const auto library = makeLibrary(root, count);
    const auto folder = QDir(root).filePath("library");
    const auto cache = QDir(folder).filePath(".vespertone/cache");

    std::printf("library: %d files (%d each of wav, aiff, m4a, mp3), each with a sidecar\n", count, count / 4);
    qsizetype items = 0;
    QDir(cache).removeRecursively();
    dropPages(library);
    const double coldScan = timedScan(folder, items);
    dropPages(library);
    report("cold, nothing remembered", coldScan, readHeads(library), count, items);
    for (int pass = 1; pass <= 2; ++pass) {
        QDir(cache).removeRecursively();
        const double scan = timedScan(folder, items);
        report("warm, nothing remembered", scan, readHeads(library), count, items);
    }
    for (int pass = 1; pass <= 2; ++pass) {
        const double scan = timedScan(folder, items);
        report("remembered", scan, readHeads(library), count, items);
    }
    // A hundredth of the files edited since: only they are opened again.
    for (int i = 0; i < count; i += 100) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        ::utimensat(AT_FDCWD, QFile::encodeName(library[i]).constData(), times, 0);
    }
    const double changed = timedScan(folder, items);
    report("remembered, 1 % changed", changed, readHeads(library), count, items);

    for (const auto &extension : {"wav", "aiff", "m4a", "mp3"}) {
        QStringList some;
        for (const auto &path : library)
            if (path.endsWith(QLatin1Char('.') + QLatin1String(extension)))
                some << path;
        QElapsedTimer timer;
        timer.start();
        for (const auto &path : some)
            (void)AudioAnalyzer::duration(path);
        std::printf("duration(for:) %-4s %.1f us/file\n", extension, timer.nsecsElapsed() / 1e3 / some.size());
    }
    std::printf("max RSS %ld KiB\n", maxRssKiB());
    return 0;
}
