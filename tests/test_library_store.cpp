// The store spine: settings and their fallbacks, folder resolution, refresh and selection,
// the status line's dismissal, and scans that outlive their folder or their store.

#include "base/Logging.h"
#include "library/FolderAccess.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "library/WorkLock.h"
#include "store/RecordingLibraryStore.h"
#include "store/StatusLine.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
std::unique_ptr<RecordingLibraryStore> openStore(TestEnvironment &env, bool overrideFolder = true)
{
    return startStore(env.storeEnvironment(overrideFolder));
}

} // namespace

class LibraryStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_wav;

    void addRecording(TestEnvironment &env, const QString &name, int year)
    {
        QVERIFY(QFile::copy(m_wav, env.path(name)));
        MetadataStore::save(RecordingMetadata::fresh(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC)),
                            env.path(name));
    }

private slots:
    void initTestCase()
    {
        // The default folder lives in the Music folder of this private home.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(".config")));
        m_wav = AudioFixtures::tone(m_home.filePath("fixture.wav"), 0.5);
    }

    void settingsFallBackPersistAndNameTheFolder()
    {
        TestEnvironment env;
        {
            auto store = openStore(env, false);
            QCOMPARE(store->folderURL(), FolderAccess::defaultFolderURL());
            QVERIFY(store->folderURL().startsWith(m_home.path()) && QFileInfo(store->folderURL()).isDir());
            QVERIFY(env.settings->allKeys().isEmpty()); // nothing is written by reading
        }
        env.settings->setValue("Vespertone.AACBitRate", 96000);
        env.settings->setValue("Vespertone.RecordingFormat", "mp3");
        {
            auto store = openStore(env);
            QCOMPARE(store->aacBitRate(), AudioBitRate::kbps192);
            QCOMPARE(store->recordingFormat(), RecordingOutputFormat::aacM4A);
            QCOMPARE(env.settings->value("Vespertone.RecordingFormat").toString(), QStringLiteral("mp3"));
            store->setAacBitRate(AudioBitRate::kbps320);
            store->setRecordingFormat(RecordingOutputFormat::wavPCM);
            QVERIFY(!env.settings->contains(FolderAccess::pathKey)); // the override is not stored
        }
        const auto chosen = env.m_root.filePath("Chosen");
        env.settings->setValue(FolderAccess::pathKey, chosen);
        auto reopened = openStore(env, false);
        QCOMPARE(reopened->aacBitRate(), AudioBitRate::kbps320);
        QCOMPARE(reopened->recordingFormat(), RecordingOutputFormat::wavPCM);
        QCOMPARE(reopened->folderURL(), chosen);
    }

    void refreshSelectsTheNewestAndKeepsSurvivors()
    {
        TestEnvironment env;
        addRecording(env, "old.wav", 2020);
        addRecording(env, "mid.wav", 2021);
        addRecording(env, "new.wav", 2022);
        auto store = openStore(env);
        QCOMPARE(fileNames(store->recordings()), (QStringList{"new.wav", "mid.wav", "old.wav"}));
        QCOMPARE(fileNames(store->selectedItems()), QStringList{"new.wav"});

        store->setSelectedIDs({env.path("old.wav"), env.path("mid.wav")});
        finish(store->refresh());
        QCOMPARE(fileNames(store->selectedItems()), (QStringList{"mid.wav", "old.wav"}));
        QCOMPARE(store->selectedItem(), std::nullopt);
        store->setSelectedIDs({env.path("gone.wav"), env.path("old.wav")});
        finish(store->refresh());
        QCOMPARE(fileNames(store->selectedItems()), QStringList{"old.wav"});
        store->setSelectedIDs({env.path("gone.wav")});
        finish(store->refresh());
        QCOMPARE(fileNames(store->selectedItems()), QStringList{"new.wav"});
        finish(store->refresh(env.path("nothing.wav")));
        QCOMPARE(store->selectedIDs(), QSet<QString>{env.path("nothing.wav")});

        for (const auto &name : {"old.wav", "mid.wav", "new.wav"})
            QFile::remove(env.path(name));
        finish(store->refresh());
        QVERIFY(store->recordings().isEmpty() && store->selectedIDs().isEmpty());
    }

    void statusTimeline_data()
    {
        // Steps: "set TEXT", "wait MS", "busy", "idle", "is TEXT" ("-" for none), "timers N".
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("clears after its own delay only")
            << QStringList{"set A", "wait 2000", "set B", "wait 1700", "is B", "wait 1899", "is B", "wait 1", "is -"};
        QTest::newRow("the same text restarts its delay")
            << QStringList{"set S", "wait 3000", "set S", "wait 3000", "is S", "wait 600", "is -"};
        QTest::newRow("an empty text cancels the dismissal")
            << QStringList{"set A", "timers 1", "set ", "timers 0", "wait 10000", "is "};
        QTest::newRow("busy: stays past its delay") << QStringList{"busy", "set A", "wait 5000", "is A"};
        QTest::newRow("outlives its busy period until replaced")
            << QStringList{"busy", "set A", "wait 3600", "idle", "wait 60000", "is A", "set B", "wait 3600", "is -"};
    }

    void statusTimeline()
    {
        QFETCH(QStringList, steps);
        FakeClock clock;
        bool busy = false;
        StatusLine status(clock, [&busy] { return busy; });
        for (const auto &step : steps) {
            const auto verb = step.section(u' ', 0, 0), argument = step.section(u' ', 1);
            if (verb == "set")
                status.setMessage(argument);
            else if (verb == "wait")
                clock.advance(std::chrono::milliseconds(argument.toInt()));
            else if (verb == "busy" || verb == "idle")
                busy = verb == "busy";
            else if (verb == "timers")
                QCOMPARE(clock.activeTimers(), argument.toInt());
            else
                QCOMPARE(status.message().value_or("-"), argument);
        }
    }

    void foldersThatCannotBeCreatedOrAreChosen()
    {
        TestEnvironment env;
        QFile blocker(env.path("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto environment = env.storeEnvironment();
        environment.folderOverride = env.path("blocker/Library");
        auto store = std::make_unique<RecordingLibraryStore>(environment);
        QSignalSpy loaded(store.get(), &RecordingLibraryStore::refreshFinished);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(store->statusMessage(), QStringLiteral("The folder “Library” couldn’t be created."));
        QVERIFY(store->recordings().isEmpty());

        const auto other = env.m_root.filePath("Other/Sub");
        env.dialogs.folderAnswers = {other, std::nullopt};
        finish(store->chooseFolder());
        QCOMPARE(env.dialogs.asked, QStringList{"Choose Save Folder"});
        QVERIFY(loaded.wait(10000));
        QCOMPARE(store->folderURL(), other);
        QVERIFY(QFileInfo(other).isDir());
        QCOMPARE(env.settings->value(FolderAccess::pathKey).toString(), other);
        finish(store->chooseFolder()); // cancelled
        QCOMPARE(store->folderURL(), other);
    }

    /// A failure the user is shown and one the program goes on without are both logged as
    /// warnings of their area, with the cause; debug output stays off unless asked for.
    void failuresAreLogged_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("message");
        QTest::newRow("a folder that cannot be made") << "blocked folder"
                                                      << "vespertone.store"
                                                      << "failed: The folder “Library” couldn’t be created.";
        QTest::newRow("an address of another kind") << "ftp import"
                                                    << "vespertone.import"
                                                    << "failed: Paste a direct http or https audio/video file URL.";
        QTest::newRow("a legacy sidecar that cannot move") << "stuck legacy sidecar"
                                                           << "vespertone.library"
                                                           << "ignored: *";
    }
    void failuresAreLogged()
    {
        QFETCH(QString, scene);
        QFETCH(QString, category);
        QFETCH(QString, message);
        static QStringList logged;
        logged.clear();
        const auto previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (type == QtWarningMsg && QByteArray(context.category).startsWith("vespertone."))
                    logged << QString::fromLatin1(context.category) + u' ' + text;
            });
        {
            TestEnvironment env;
            auto environment = env.storeEnvironment();
            if (scene == "blocked folder") {
                writeFile(env.path("blocker"), {});
                environment.folderOverride = env.path("blocker/Library");
            }
            if (scene == "stuck legacy sidecar") {
                QVERIFY(QFile::copy(m_wav, env.path("Take.wav")));
                writeFile(env.path("Take.vtmeta.json"), R"({"createdAt":"2024-05-01T12:30:05Z"})");
                writeFile(env.path(".vespertone/metadata"), "a file where the folder belongs");
            }
            RecordingLibraryStore store(environment);
            QSignalSpy loaded(&store, &RecordingLibraryStore::refreshFinished);
            QVERIFY(loaded.wait(10000));
            if (scene == "ftp import")
                finish(store.importURL("ftp://example.org/a.wav", false));
        }
        qInstallMessageHandler(previous);
        const auto expected = category + u' ' + message;
        const bool found = std::any_of(logged.begin(), logged.end(), [&](const QString &line) {
            return expected.endsWith(u'*') ? line.startsWith(expected.chopped(1)) && line.size() > expected.size()
                                           : line == expected;
        });
        QVERIFY2(found, qPrintable(logged.join(u'\n')));
        QVERIFY(!lcStore().isDebugEnabled() && !lcLibrary().isDebugEnabled());
    }

    void scansThatOutliveTheirFolderOrStoreAreDropped()
    {
        TestEnvironment env;
        for (int i = 0; i < 1500; ++i)
            QVERIFY(QFile::link(m_wav, env.path(QStringLiteral("take %1.wav").arg(i))));
        auto store = openStore(env);
        QCOMPARE(store->recordings().size(), 1500);
        // A long scan of the old folder finishes after the quick one of the new, empty folder.
        auto old = store->refresh();
        store->setFolder(env.m_root.filePath("Empty"));
        finish(std::move(old));
        QThreadPool::globalInstance()->waitForDone();
        QTRY_VERIFY(store->recordings().isEmpty());
        QCoreApplication::processEvents();
        QVERIFY(store->recordings().isEmpty());

        int published = 0;
        {
            RecordingLibraryStore doomed(env.storeEnvironment());
            QObject::connect(&doomed, &RecordingLibraryStore::recordingsChanged, &doomed, [&] { ++published; });
        }
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(published, 0);
    }

    /// At start-up sidecars that stopped moves left are mended, and the work files of stopped
    /// processes are swept; what a live lock covers stays, and so does a take left to recover.
    void startUpMendsSidecarsAndSweepsWhatNoLockHolds()
    {
        TestEnvironment env;
        QVERIFY(QFile::copy(m_wav, env.path("Loop_bpm_120.wav")));
        MetadataStore::save(RecordingMetadata::fresh(QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC)),
                            env.path("Loop.wav"));
        addRecording(env, "Drums.wav", 2021);
        QVERIFY(::link(QFile::encodeName(MetadataStore::metadataURL(env.path("Drums.wav"))).constData(),
                       QFile::encodeName(MetadataStore::metadataURL(env.path("Take.wav"))).constData())
                == 0);
        const auto work = UniqueFileNamer::workFolder(env.libraryFolder());
        auto live = WorkLock::acquire(work + "/LIVE");
        auto importing = WorkLock::acquire(work + "/Import 2024-01-01 10.00.00.wav");
        auto recording = WorkLock::acquire(work + "/Vespertone 2024-01-01 11.00.00.wav");
        QVERIFY(live && importing && recording);
        const QStringList kept{"Import 2024-01-01 10.00.00.wav", "LIVE-encoded.mp3", "LIVE.f140.m4a.part", "LIVE.m4a",
                               "Vespertone 2024-01-01 11.00.00.wav"};
        for (const auto &name : kept + QStringList{"A.m4a", "DEAD.lock", "DEAD.mp3", "LIVEX.m4a", "X.vtmeta.json"})
            QVERIFY(QFile(work + u'/' + name).open(QIODevice::WriteOnly));
        writeFile(env.path(".trim-0badc0de.part"), "an earlier version's trim");

        const auto store = openStore(env);

        QCOMPARE(entriesOf(MetadataStore::metadataFolder(env.path("x"))),
                 (QStringList{"Drums.wav.vtmeta.json", "Loop_bpm_120.wav.vtmeta.json"}));
        QCOMPARE(store->recordings().size(), 2);
        QVERIFY(!QFileInfo::exists(env.path(".trim-0badc0de.part")));
        for (const auto &item : store->recordings())
            QCOMPARE(item.createdAt.date().year(), item.url.contains("Loop") ? 2020 : 2021);
        auto left = kept
            + QStringList{"Import 2024-01-01 10.00.00.wav.lock", "LIVE.lock",
                          "Vespertone 2024-01-01 11.00.00.wav.lock"};
        left.sort();
        QCOMPARE(entriesOf(work), left);
        live.reset();
        const auto later = openStore(env);
        QVERIFY(!entriesOf(work).contains("LIVE.m4a"));
    }
};

QTEST_GUILESS_MAIN(LibraryStoreTest)
#include "test_library_store.moc"
