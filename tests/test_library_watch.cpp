// Following the library folder: the inotify watcher against real file operations, and the
// gathering of changes into one rescan on a fake clock, held while a take or an import writes.

#include "library/MetadataStore.h"
#include "platform/QtFolderWatcher.h"
#include "store/LibraryWatch.h"
#include "support/FakeClock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {
/// A watcher whose changes the test makes.
class ScriptedFolderWatcher final : public FolderWatcher {
public:
    QStringList watched;
    void watch(const QStringList &folders) override { watched = folders; }
    void change() { emit changed(); }
};

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}
} // namespace

class LibraryWatchTest : public QObject {
    Q_OBJECT

private slots:
    void watcherSeesEntriesChange_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("file added") << "add";
        QTest::newRow("file renamed") << "rename";
        QTest::newRow("file removed") << "remove";
        QTest::newRow("sidecar in a metadata folder made after the watch began") << "sidecar";
        QTest::newRow("watched folder removed") << "remove folder";
    }

    void watcherSeesEntriesChange()
    {
        QFETCH(QString, operation);
        QTemporaryDir dir;
        const auto library = dir.filePath("Library");
        QDir().mkpath(library);
        touch(library + "/Take.wav");
        QtFolderWatcher watcher;
        FakeClock clock;
        LibraryWatch watch(watcher, clock, {[] { return false; }, [] {}});
        watch.follow(library);
        QSignalSpy changed(&watcher, &FolderWatcher::changed);

        const auto sidecar = MetadataStore::metadataURL(library + "/Take.wav");
        if (operation == "add") {
            touch(library + "/New.wav");
        } else if (operation == "rename") {
            QVERIFY(QFile::rename(library + "/Take.wav", library + "/Renamed.wav"));
        } else if (operation == "remove") {
            QVERIFY(QFile::remove(library + "/Take.wav"));
        } else if (operation == "sidecar") {
            // Making the metadata folder is a change of its own; the sidecar then is another.
            QVERIFY(QDir().mkpath(QFileInfo(sidecar).absolutePath()));
            QVERIFY(changed.wait(2000));
            changed.clear();
            touch(sidecar);
        } else {
            QVERIFY(QDir(library).removeRecursively());
        }
        QVERIFY(changed.wait(2000));
    }

    void changesGatherIntoOneRescan_data()
    {
        QTest::addColumn<QList<int>>("changes"); // ms from the start at which entries change
        QTest::addColumn<QList<int>>("writing"); // ms at which writing starts and ends, in pairs
        QTest::addColumn<QList<int>>("rescans"); // ms at which the library is rescanned
        QTest::newRow("one change settles") << QList<int>{0} << QList<int>{} << QList<int>{250};
        QTest::newRow("a burst is one rescan") << QList<int>{0, 40, 80, 120} << QList<int>{} << QList<int>{370};
        QTest::newRow("a steady stream still shows each second")
            << QList<int>{0, 200, 400, 600, 800, 1000, 1200, 1400, 1600, 1800, 2000} << QList<int>{}
            << QList<int>{1000, 2000, 2250};
        QTest::newRow("held while a take writes, then once")
            << QList<int>{100, 300, 1500} << QList<int>{0, 2000} << QList<int>{2000};
        QTest::newRow("writing that ends without changes rescans nothing")
            << QList<int>{} << QList<int>{0, 500} << QList<int>{};
        QTest::newRow("changes after the writing settle as usual")
            << QList<int>{600} << QList<int>{0, 500} << QList<int>{850};
    }

    void changesGatherIntoOneRescan()
    {
        QFETCH(QList<int>, changes);
        QFETCH(QList<int>, writing);
        QFETCH(QList<int>, rescans);
        FakeClock clock;
        ScriptedFolderWatcher watcher;
        bool isWriting = false;
        QList<int> seen;
        const auto start = clock.now();
        LibraryWatch watch(watcher, clock,
                           {[&] { return isWriting; }, [&] { seen << int(start.msecsTo(clock.now())); }});
        watch.follow("/music/Library");
        QCOMPARE(watcher.watched,
                 (QStringList{"/music/Library", "/music/Library/.vespertone", "/music/Library/.vespertone/metadata"}));
        for (int now = 0; now <= 3000; now += 10) {
            if (writing.contains(now)) {
                isWriting = writing.indexOf(now) % 2 == 0;
                if (!isWriting)
                    watch.writingEnded();
            }
            if (changes.contains(now))
                watcher.change();
            clock.advance(10ms);
        }
        QCOMPARE(seen, rescans);
    }
};

QTEST_GUILESS_MAIN(LibraryWatchTest)
#include "test_library_watch.moc"
