#include "library/RecordingScanner.h"

#include "library/DurationCache.h"
#include "library/LibrarySnapshot.h"
#include "library/MetadataStore.h"
#include "media/AudioFileReader.h"
#include "platform/CacheFolder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace RecordingScanner {
namespace {

/// Seconds of audio the container states; none when the file cannot be measured.
std::optional<double> measuredDuration(const QString &url)
{
    try {
        const auto info = AudioFileReader::measure(url);
        if (info.sampleRate > 0)
            return double(info.length) / info.sampleRate;
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

/// The measured duration, or the one \a durations remembers for the file as \a status shows it.
std::optional<double> duration(const QString &url, const struct stat &status, DurationCache *durations)
{
    if (!durations)
        return measuredDuration(url);
    const auto stamp = FileStamp::from(status);
    if (const auto remembered = durations->find(stamp))
        return *remembered;
    const auto measured = measuredDuration(url);
    durations->remember(stamp, measured);
    return measured;
}

RecordingItem makeItem(const QString &url, const struct stat &status, DurationCache *durations,
                       RecordingScanResult &result)
{
    auto loaded = MetadataStore::loadWithOrigin(url);
    if (loaded && loaded->fromLegacy)
        result.legacyAudioURLs.append(url);
    auto metadata = loaded ? loaded->metadata : RecordingMetadata::fresh(fileCreationDate(url));
    const double seconds = duration(url, status, durations).value_or(metadata.duration.value_or(0));
    metadata.duration = seconds;
    return RecordingItem{url, metadata, seconds, metadata.createdAt};
}

/// The status of a regular file, or a link to one, in the open folder \a folder; none otherwise.
std::optional<struct stat> fileEntry(int folder, const char *name)
{
    struct stat status {};
    if (::fstatat(folder, name, &status, 0) == 0 && S_ISREG(status.st_mode))
        return status;
    return std::nullopt;
}

} // namespace

const QSet<QString> &audioExtensions()
{
    static const QSet<QString> extensions{QStringLiteral("m4a"), QStringLiteral("mp3"), QStringLiteral("wav"),
                                          QStringLiteral("aif"), QStringLiteral("aiff")};
    return extensions;
}

bool isAudioFileName(const QString &fileName)
{
    const auto dot = fileName.lastIndexOf(u'.');
    return dot >= 0 && audioExtensions().contains(fileName.mid(dot + 1).toLower());
}

RecordingScanResult scan(const QString &folderURL, DurationCache *durations)
{
    RecordingScanResult result;
    // Listed by their bytes: a name Qt decodes lossily would otherwise vanish unnoticed.
    const std::unique_ptr<DIR, int (*)(DIR *)> folder(::opendir(QFile::encodeName(folderURL).constData()), ::closedir);
    if (!folder)
        return result;
    const auto absolute = QFileInfo(folderURL).absoluteFilePath();
    while (const auto *entry = ::readdir(folder.get())) {
        const QByteArray bytes(entry->d_name);
        const auto name = QFile::decodeName(bytes);
        if (bytes.startsWith('.') || !isAudioFileName(name))
            continue;
        const auto status = fileEntry(::dirfd(folder.get()), entry->d_name);
        if (!status)
            continue;
        if (QFile::encodeName(name) != bytes)
            result.unlistedNames.append(name);
        else
            result.items.push_back(makeItem(absolute + u'/' + name, *status, durations, result));
    }
    std::stable_sort(result.items.begin(), result.items.end(),
                     [](const RecordingItem &a, const RecordingItem &b) { return a.createdAt > b.createdAt; });
    return result;
}

RecordingScanResult scanRemembering(const QString &folderURL)
{
    const auto cache = CacheFolder::ofLibrary(folderURL, true);
    if (!cache)
        return scan(folderURL);
    auto durations = DurationCache::load(*cache);
    auto result = scan(folderURL, &durations);
    // Derived data only: what cannot be stored costs the next scan or start its time.
    durations.save(*cache);
    LibrarySnapshot::save(*cache, folderURL, result.items);
    return result;
}

QDateTime fileCreationDate(const QString &url)
{
    const QFileInfo info(url);
    if (auto born = info.birthTime(); born.isValid())
        return born;
    if (auto modified = info.lastModified(); modified.isValid())
        return modified;
    return QDateTime::currentDateTime();
}

} // namespace RecordingScanner
