#include "library/RecordingScanner.h"

#include "base/Logging.h"

#include "library/DurationCache.h"
#include "library/LibrarySnapshot.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "media/AudioFileReader.h"
#include "platform/CacheFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

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
    } catch (const std::exception &error) {
        // The file is listed without a length.
        logIgnoredFailure(lcLibrary(), error);
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

RecordingItem makeItem(const QString &url, const std::optional<RecordingMetadata> &found, const struct stat &status,
                       DurationCache *durations)
{
    auto metadata = found ? *found : RecordingMetadata::fresh(fileCreationDate(url));
    const double seconds = duration(url, status, durations).value_or(metadata.duration.value_or(0));
    metadata.duration = seconds;
    return RecordingItem{url, metadata, seconds, metadata.createdAt};
}

std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return std::pair(status.st_dev, status.st_ino);
}

/// True when \a orphan, the sidecar of the vanished audio file \a oldName, plausibly belongs to
/// the audio file \a url, which has none: a rename keeps the extension, and either the file was
/// made when the sidecar says (a rename keeps that too) or its name is the old one with a tempo.
bool belongsTo(const RecordingMetadata &orphan, const QString &oldName, const QString &url)
{
    if (UniqueFileNamer::extension(oldName) != UniqueFileNamer::extension(url))
        return false;
    if (orphan.createdAt.toSecsSinceEpoch() == fileCreationDate(url).toSecsSinceEpoch())
        return true;
    const auto base = UniqueFileNamer::baseName(url);
    const auto stripped = UniqueFileNamer::withoutTempoSuffix(base);
    return stripped != base && stripped == UniqueFileNamer::withoutTempoSuffix(UniqueFileNamer::baseName(oldName));
}

/// Mends what a move stopped between its audio and its sidecar left: a second name of a moved
/// sidecar goes; a sidecar whose audio moved without it (as earlier versions moved the audio
/// first) is given back to the one file it fits, when no other fits as well.
void reunite(RecordingScanResult &result, const QString &folder, const QSet<QString> &names,
             const QVector<int> &withoutSidecar)
{
    const auto metadataFolder = folder + QStringLiteral("/.vespertone/metadata");
    const auto suffix = QStringLiteral(".vtmeta.json");
    QStringList orphans;
    for (const auto &name : QDir(metadataFolder).entryList({u'*' + suffix}, QDir::Files | QDir::Hidden)) {
        if (!names.contains(name.chopped(suffix.size())))
            orphans << name;
    }
    if (orphans.isEmpty())
        return;
    QSet<std::pair<dev_t, ino_t>> sidecars;
    for (const auto &item : std::as_const(result.items)) {
        if (const auto identity = fileIdentity(MetadataStore::metadataURL(item.url)))
            sidecars.insert(*identity);
    }
    QList<std::pair<QString, RecordingMetadata>> lost;
    for (const auto &name : std::as_const(orphans)) {
        const auto path = metadataFolder + u'/' + name;
        if (const auto identity = fileIdentity(path); identity && sidecars.contains(*identity))
            result.staleSidecarNames << path;
        else if (const auto metadata = MetadataStore::load(folder + u'/' + name.chopped(suffix.size())))
            lost.append({path, *metadata});
    }
    QMap<int, QVector<int>> fits;   // item index -> lost sidecars it fits
    QMap<int, QVector<int>> fitted; // lost sidecar -> items it fits
    for (int orphan = 0; orphan < lost.size(); ++orphan) {
        const auto oldName = QFileInfo(lost[orphan].first).fileName().chopped(suffix.size());
        for (const int index : withoutSidecar) {
            if (belongsTo(lost[orphan].second, oldName, result.items[index].url)) {
                fits[index] << orphan;
                fitted[orphan] << index;
            }
        }
    }
    for (auto match = fitted.cbegin(); match != fitted.cend(); ++match) {
        const int index = match.value().front();
        if (match.value().size() != 1 || fits.value(index).size() != 1)
            continue;
        auto &item = result.items[index];
        const auto &[path, metadata] = lost[match.key()];
        item = RecordingItem{item.url, metadata, item.duration, metadata.createdAt};
        item.metadata.duration = item.duration;
        result.reunitedSidecars.append({path, item.url});
    }
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
    QSet<QString> names;
    QVector<int> withoutSidecar;
    while (const auto *entry = ::readdir(folder.get())) {
        const QByteArray bytes(entry->d_name);
        const auto name = QFile::decodeName(bytes);
        names.insert(name);
        if (bytes.startsWith('.') || !isAudioFileName(name))
            continue;
        const auto status = fileEntry(::dirfd(folder.get()), entry->d_name);
        if (!status)
            continue;
        if (QFile::encodeName(name) != bytes) {
            result.unlistedNames.append(name);
            continue;
        }
        const auto url = absolute + u'/' + name;
        const auto loaded = MetadataStore::loadWithOrigin(url);
        if (loaded && loaded->fromLegacy)
            result.legacyAudioURLs.append(url);
        if (!loaded)
            withoutSidecar.append(int(result.items.size()));
        result.items.push_back(
            makeItem(url, loaded ? std::optional(loaded->metadata) : std::nullopt, *status, durations));
    }
    reunite(result, absolute, names, withoutSidecar);
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
