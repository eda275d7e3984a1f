// The library scan: which files count, their sidecars, durations and order, and bad input.

#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/SidecarCodec.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QStringList names(const QVector<RecordingItem> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << QFileInfo(item.url).fileName();
    return out;
}

void saveCreatedAt(const QString &audio, const QDateTime &createdAt, std::optional<double> duration = {})
{
    auto metadata = RecordingMetadata::fresh(createdAt);
    metadata.duration = duration;
    MetadataStore::save(metadata, audio);
}

QDateTime year(int y)
{
    return QDateTime(QDate(y, 1, 1), QTime(0, 0), Qt::UTC);
}

} // namespace

class RecordingScannerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QString m_wav;

private slots:
    void initTestCase()
    {
        configureFFmpegLogging();
        m_wav = AudioFixtures::tone(m_fixtures.filePath("one.wav"), 1.5);
    }

    /// Audio files in any case and under any container's extension are listed and measured;
    /// names Qt cannot open are reported instead; a missing folder lists nothing.
    void listsAudioFiles()
    {
        QTemporaryDir dir;
        for (const auto &name : {"a.WAV", "b.Mp3", "x.aif", "y.aiff", "notes.txt", "z.flac", ".hidden.wav", "noext"})
            QFile::copy(m_wav, dir.filePath(QString::fromLatin1(name)));
        QFile::copy(AudioFixtures::tone(m_fixtures.filePath("real.m4a"), 1.5), dir.filePath("aac.wav"));
        QDir(dir.path()).mkdir(QStringLiteral("folder.wav"));
        QVERIFY(QFile::link(dir.filePath("a.WAV"), dir.filePath("link.wav")));
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.wav";
        QVERIFY(::link(QFile::encodeName(m_wav).constData(), latin1.constData()) == 0);

        const auto result = RecordingScanner::scan(dir.path());
        auto listed = names(result.items);
        listed.sort();
        QCOMPARE(listed, (QStringList{"a.WAV", "aac.wav", "b.Mp3", "link.wav", "x.aif", "y.aiff"}));
        for (const auto &item : result.items)
            QVERIFY2(qAbs(item.duration - 1.5) < 0.03 && item.metadata.duration == item.duration, qPrintable(item.url));
        QCOMPARE(result.unlistedNames, QStringList{QStringLiteral("caf\uFFFD.wav")});
        QVERIFY(RecordingScanner::scan(dir.filePath("missing")).items.isEmpty());
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("the tool runs through ctest");
        const auto run = runTool({QStringLiteral("scan"), QStringLiteral("--folder"), dir.path()});
        QCOMPARE(QString::fromUtf8(run.err).count(QStringLiteral("caf\uFFFD.wav")), 1);
    }

    /// Sidecar dates win over file dates, newest first; equal times keep the listing order. A
    /// measured duration wins over the stored one, an unreadable file keeps its stored one or 0; a
    /// legacy sidecar is read in place and reported for migration. Nothing is written.
    void scanningNeverWrites()
    {
        QTemporaryDir dir;
        const auto stored = dir.filePath("stored.wav"), legacy = dir.filePath("legacy.wav");
        QFile::copy(m_wav, stored);
        QFile::copy(m_wav, legacy);
        saveCreatedAt(stored, year(2023), 99.0);
        writeFile(dir.filePath("legacy.vtmeta.json"), SidecarCodec::encode(RecordingMetadata::fresh(year(2022))));
        writeFile(MetadataStore::metadataURL(legacy), "{\"bpm\":1}"); // unreadable: the legacy file wins
        writeFile(dir.filePath("text.mp3"), "this is not audio at all");
        saveCreatedAt(dir.filePath("text.mp3"), year(2021), 12.5);
        for (int i = 0; i < 3; ++i) {
            QFile::copy(m_wav, dir.filePath(QStringLiteral("same%1.wav").arg(i)));
            saveCreatedAt(dir.filePath(QStringLiteral("same%1.wav").arg(i)), year(2021));
        }
        writeFile(dir.filePath("empty.m4a"), {});
        writeFile(MetadataStore::metadataURL(dir.filePath("empty.m4a")), "\x89PNG\r\n garbage {{{");
        const auto sidecar = readFile(MetadataStore::metadataURL(stored));
        const auto before = entriesOf(dir.path()) + entriesOf(MetadataStore::metadataFolder(stored));

        QStringList expected{"empty.m4a", "stored.wav", "legacy.wav"};
        for (QDirIterator entries(dir.path(), QDir::Files); entries.hasNext();)
            if (const auto name = QFileInfo(entries.next()).fileName();
                !expected.contains(name) && !name.endsWith(".json"))
                expected << name;

        const auto result = RecordingScanner::scan(dir.path());
        QCOMPARE(names(result.items), expected);
        QCOMPARE(result.items[0].duration, 0.0);
        QCOMPARE(result.items[1].duration, 1.5);
        QCOMPARE(result.items[2].createdAt, year(2022));
        QCOMPARE(result.items[expected.indexOf("text.mp3")].duration, 12.5);
        QCOMPARE(result.legacyAudioURLs, QStringList{legacy});
        QCOMPARE(entriesOf(dir.path()) + entriesOf(MetadataStore::metadataFolder(stored)), before);
        QCOMPARE(readFile(MetadataStore::metadataURL(stored)), sidecar);
    }
};

QTEST_GUILESS_MAIN(RecordingScannerTest)
#include "test_recording_scanner.moc"
