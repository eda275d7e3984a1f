#include "library/RecordingScanner.h"

#include "analysis/AudioAnalyzer.h"
#include "library/MetadataStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace RecordingScanner {
namespace {

RecordingItem makeItem(const QFileInfo &file)
{
    const auto url = file.absoluteFilePath();
    auto metadata = MetadataStore::load(url).value_or(RecordingMetadata::fresh(fileCreationDate(url)));
    double duration = 0;
    try {
        duration = AudioAnalyzer::duration(url);
    } catch (const std::exception &) {
        duration = metadata.duration.value_or(0);
    }
    metadata.duration = duration;
    return RecordingItem{url, metadata, duration, metadata.createdAt};
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

QVector<RecordingItem> scan(const QString &folderURL)
{
    QVector<RecordingItem> items;
    QDirIterator entries(folderURL, QDir::Files | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        const auto file = entries.fileInfo();
        if (isAudioFileName(file.fileName()))
            items.push_back(makeItem(file));
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const RecordingItem &a, const RecordingItem &b) { return a.createdAt > b.createdAt; });
    return items;
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
