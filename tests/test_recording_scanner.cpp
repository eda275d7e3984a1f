// The library scan: which files count, their sidecars, durations and order, and bad input.

#include "analysis/AudioAnalyzer.h"
#include "library/FolderAccess.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/SidecarCodec.h"
#include "support/AudioFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
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

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void saveCreatedAt(const QString &audio, const QDateTime &createdAt, std::optional<double> duration = {})
{
    auto metadata = RecordingMetadata::fresh(createdAt);
    metadata.duration = duration;
    MetadataStore::save(metadata, audio);
}

} // namespace

class RecordingScannerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_fixtures;
    QString m_wav;

private slots:
    void initTestCase() { m_wav = AudioFixtures::tone(m_fixtures.filePath("one.wav"), 1.5); }

    void listsAudioExtensionsInAnyCase()
    {
        QTemporaryDir dir;
        for (const auto &name :
             {"a.WAV", "b.Mp3", "x.aif", "y.aiff", "m.m4a", "notes.txt", "z.flac", "w.ogg", ".hidden.wav", "noext"})
            QFile::copy(m_wav, dir.filePath(QString::fromLatin1(name)));
        QDir(dir.path()).mkdir(QStringLiteral("folder.wav"));
        auto listed = names(RecordingScanner::scan(dir.path()));
        listed.sort();
        QCOMPARE(listed, (QStringList{"a.WAV", "b.Mp3", "m.m4a", "x.aif", "y.aiff"}));
    }

    void measuresEveryContainer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("wav") << "t.wav" << 0.0;
        QTest::newRow("aiff") << "t.aiff" << 0.0;
        QTest::newRow("aif") << "t.aif" << 0.0;
        QTest::newRow("m4a") << "t.m4a" << 1024 / 44100.0;
        QTest::newRow("mp3") << "t.mp3" << 1152 / 44100.0;
    }

    void measuresEveryContainer()
    {
        QFETCH(QString, name);
        QFETCH(double, tolerance);
        QTemporaryDir dir;
        AudioFixtures::tone(dir.filePath(name), 2.5, 440, 0.5, 44100, 1);
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(items.size(), 1);
        QVERIFY2(qAbs(items[0].duration - 2.5) <= tolerance, qPrintable(QString::number(items[0].duration, 'g', 12)));
        QCOMPARE(items[0].metadata.duration, items[0].duration);
    }

    void misnamedContainersAreStillMeasured()
    {
        QTemporaryDir dir;
        QFile::copy(m_wav, dir.filePath("wave.m4a"));
        QFile::copy(m_wav, dir.filePath("wave.mp3"));
        QFile::copy(AudioFixtures::tone(m_fixtures.filePath("real.m4a"), 1.5), dir.filePath("aac.wav"));
        QFile::copy(AudioFixtures::tone(m_fixtures.filePath("real.mp3"), 1.5), dir.filePath("mpeg.aiff"));
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(items.size(), 4);
        for (const auto &item : items)
            QVERIFY2(qAbs(item.duration - 1.5) < 0.03, qPrintable(item.url));
    }

    void sidecarDatesOverrideFileDatesAndSortNewestFirst()
    {
        QTemporaryDir dir;
        for (const auto &name : {"old.wav", "mid.wav", "new.wav"})
            QFile::copy(m_wav, dir.filePath(QString::fromLatin1(name)));
        saveCreatedAt(dir.filePath("old.wav"), QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
        saveCreatedAt(dir.filePath("mid.wav"), QDateTime(QDate(2022, 1, 1), QTime(0, 0), Qt::UTC));
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(names(items), (QStringList{"new.wav", "mid.wav", "old.wav"}));
        QCOMPARE(items[2].createdAt, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
        QCOMPARE(items[2].metadata.createdAt, items[2].createdAt);
    }

    void equalTimesKeepListingOrder()
    {
        QTemporaryDir dir;
        const QDateTime same(QDate(2023, 3, 3), QTime(3, 3, 3), Qt::UTC);
        for (int i = 0; i < 6; ++i) {
            const auto path = dir.filePath(QStringLiteral("s%1.wav").arg(i));
            QFile::copy(m_wav, path);
            saveCreatedAt(path, same);
        }
        QStringList listing;
        QDirIterator entries(dir.path(), QDir::Files);
        while (entries.hasNext())
            listing << QFileInfo(entries.next()).fileName();
        QCOMPARE(names(RecordingScanner::scan(dir.path())), listing);
    }

    void theSidecarIsNotRewrittenWithTheMeasuredDuration()
    {
        QTemporaryDir dir;
        const auto path = dir.filePath("a.wav");
        QFile::copy(m_wav, path);
        saveCreatedAt(path, QDateTime(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC), 99.0);
        const auto before = read(MetadataStore::metadataURL(path));
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(items[0].duration, 1.5);
        QCOMPARE(items[0].metadata.duration, 1.5);
        QCOMPARE(read(MetadataStore::metadataURL(path)), before);
    }

    void unreadableAudioIsListedWithItsStoredDurationOrZero()
    {
        QTemporaryDir dir;
        QFile::copy(m_wav, dir.filePath("good.wav"));
        write(dir.filePath("empty.m4a"), {});
        write(dir.filePath("text.mp3"), "this is not audio at all");
        write(dir.filePath("random.aiff"), [] {
            QByteArray bytes(4096, '\0');
            QRandomGenerator random(7);
            for (auto &b : bytes)
                b = char(random.bounded(256));
            return bytes;
        }());
        write(dir.filePath("truncated.wav"), read(m_wav).left(30));
        saveCreatedAt(dir.filePath("text.mp3"), QDateTime(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC), 12.5);
        write(MetadataStore::metadataURL(dir.filePath("empty.m4a")), "\x89PNG\r\n garbage {{{");

        QHash<QString, double> durations;
        for (const auto &item : RecordingScanner::scan(dir.path()))
            durations.insert(QFileInfo(item.url).fileName(), item.duration);
        QCOMPARE(durations.size(), 5);
        QCOMPARE(durations["good.wav"], 1.5);
        QCOMPARE(durations["text.mp3"], 12.5);
        QCOMPARE(durations["empty.m4a"], 0.0);
        QCOMPARE(durations["random.aiff"], 0.0);
        QVERIFY(durations["truncated.wav"] >= 0.0);
    }

    void unreadableFoldersScanEmpty()
    {
        QTemporaryDir dir;
        QVERIFY(RecordingScanner::scan(dir.filePath("missing")).isEmpty());
        write(dir.filePath("file"), "x");
        QVERIFY(RecordingScanner::scan(dir.filePath("file")).isEmpty());
        if (::geteuid() != 0) {
            QDir(dir.path()).mkdir("locked");
            QFile::copy(m_wav, dir.filePath("locked/a.wav"));
            QFile::setPermissions(dir.filePath("locked"), QFileDevice::Permissions());
            QVERIFY(RecordingScanner::scan(dir.filePath("locked")).isEmpty());
            QFile::setPermissions(dir.filePath("locked"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    }

    // Corrupted copies of real files of every container: the scan never crashes, every file
    // is listed, and every duration is finite and not negative.
    void fuzzesTheOpenPath()
    {
        QTemporaryDir dir;
        QList<QByteArray> originals;
        for (const auto &name : {"f.wav", "f.aiff", "f.m4a", "f.mp3"})
            originals << read(AudioFixtures::tone(m_fixtures.filePath(QString::fromLatin1(name)), 0.3, 330, 0.4));
        const QStringList extensions{"wav", "aiff", "m4a", "mp3"};
        QRandomGenerator random(1206);
        int count = 0;
        for (int round = 0; round < 60; ++round) {
            for (int kind = 0; kind < originals.size(); ++kind) {
                auto bytes = originals[kind];
                switch (round % 3) {
                case 0: bytes.truncate(int(random.bounded(bytes.size()))); break;
                case 1:
                    for (int i = 0; i < 1 + round; ++i)
                        bytes[int(random.bounded(qMin<qsizetype>(bytes.size(), 2048)))] = char(random.bounded(256));
                    break;
                default:
                    for (int i = 0; i < 20; ++i)
                        bytes[int(random.bounded(bytes.size()))] = char(random.bounded(256));
                }
                // Also under another container's extension.
                const auto extension = extensions[(kind + round) % extensions.size()];
                write(dir.filePath(QStringLiteral("c%1.%2").arg(count++).arg(extension)), bytes);
            }
        }
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(items.size(), count);
        for (const auto &item : items)
            QVERIFY2(std::isfinite(item.duration) && item.duration >= 0 && item.duration < 10, qPrintable(item.url));
    }

    void scansTenThousandFiles()
    {
        QTemporaryDir dir;
        const auto tiny = AudioFixtures::silence(m_fixtures.filePath("tiny.wav"), 10);
        for (int i = 0; i < 10000; ++i)
            QVERIFY(::link(QFile::encodeName(tiny).constData(),
                           QFile::encodeName(dir.filePath(QStringLiteral("t%1.wav").arg(i))).constData())
                    == 0);
        const auto items = RecordingScanner::scan(dir.path());
        QCOMPARE(items.size(), 10000);
        QCOMPARE(items.front().duration, 10 / 48000.0);
    }

    void folderAccessPrefersTheStoredPath()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        const auto fallback = FolderAccess::defaultFolderURL();
        QVERIFY(fallback.endsWith(QStringLiteral("/Vespertone")));
        const auto music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QCOMPARE(fallback, QDir::cleanPath((music.isEmpty() ? QDir::homePath() : music) + "/Vespertone"));
        QCOMPARE(FolderAccess::resolveSavedFolder(settings), fallback);
        settings.setValue(FolderAccess::pathKey, QString());
        QCOMPARE(FolderAccess::resolveSavedFolder(settings), fallback);
        settings.setValue(FolderAccess::pathKey, dir.filePath("gone/"));
        QCOMPARE(FolderAccess::resolveSavedFolder(settings), dir.filePath("gone"));
    }
};

QTEST_GUILESS_MAIN(RecordingScannerTest)
#include "test_recording_scanner.moc"
