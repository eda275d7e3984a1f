// The store spine: settings, folder resolution, refresh and selection, status dismissal.

#include "library/FolderAccess.h"
#include "library/MetadataStore.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThreadPool>
#include <qcoro/qcorotask.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

std::unique_ptr<RecordingLibraryStore> openStore(TestEnvironment &env, bool overrideFolder = true)
{
    auto store = std::make_unique<RecordingLibraryStore>(env.storeEnvironment(overrideFolder));
    QSignalSpy loaded(store.get(), &RecordingLibraryStore::refreshFinished);
    if (!loaded.wait(10000))
        qFatal("the initial scan did not finish");
    return store;
}

QStringList ids(const QVector<RecordingItem> &items)
{
    QStringList out;
    for (const auto &item : items)
        out << item.id();
    return out;
}

} // namespace

class LibraryStoreTest : public QObject {
    Q_OBJECT

private:
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

    void firstLaunchUsesDefaultsAndCreatesTheDefaultFolder()
    {
        TestEnvironment env;
        auto store = openStore(env, false);
        QCOMPARE(store->recordingFormat(), RecordingOutputFormat::aacM4A);
        QCOMPARE(store->aacBitRate(), AudioBitRate::kbps192);
        QCOMPARE(store->folderURL(), FolderAccess::defaultFolderURL());
        QVERIFY(store->folderURL().startsWith(m_home.path()));
        QVERIFY(QFileInfo(store->folderURL()).isDir());
        QVERIFY(store->recordings().isEmpty());
        QVERIFY(store->selectedIDs().isEmpty());
        QCOMPARE(store->elapsedText(), QStringLiteral("00:00"));
        QCOMPARE(store->statusMessage(), std::nullopt);
        QVERIFY(env.settings->allKeys().isEmpty());
    }

    void unknownStoredSettingsFallBackWithoutRewriting()
    {
        TestEnvironment env;
        env.settings->setValue("Vespertone.AACBitRate", 96000);
        env.settings->setValue("Vespertone.RecordingFormat", "mp3");
        auto store = openStore(env);
        QCOMPARE(store->aacBitRate(), AudioBitRate::kbps192);
        QCOMPARE(store->recordingFormat(), RecordingOutputFormat::aacM4A);
        QCOMPARE(env.settings->value("Vespertone.AACBitRate").toInt(), 96000);
        QCOMPARE(env.settings->value("Vespertone.RecordingFormat").toString(), QStringLiteral("mp3"));
    }

    void settingsPersistAndReadBack()
    {
        TestEnvironment env;
        {
            auto store = openStore(env);
            QSignalSpy changed(store.get(), &RecordingLibraryStore::aacBitRateChanged);
            store->setAacBitRate(AudioBitRate::kbps320);
            store->setRecordingFormat(RecordingOutputFormat::wavPCM);
            QCOMPARE(changed.count(), 1);
        }
        QCOMPARE(env.settings->value("Vespertone.AACBitRate").toInt(), 320000);
        QCOMPARE(env.settings->value("Vespertone.RecordingFormat").toString(), QStringLiteral("wavPCM"));
        auto reopened = openStore(env);
        QCOMPARE(reopened->aacBitRate(), AudioBitRate::kbps320);
        QCOMPARE(reopened->recordingFormat(), RecordingOutputFormat::wavPCM);
    }

    void theFolderOverrideIsNotStored()
    {
        TestEnvironment env;
        auto store = openStore(env);
        QCOMPARE(store->folderURL(), env.libraryFolder());
        QVERIFY(!env.settings->contains(FolderAccess::pathKey));
    }

    void refreshSelectsTheNewestAndKeepsSurvivors()
    {
        TestEnvironment env;
        addRecording(env, "old.wav", 2020);
        addRecording(env, "mid.wav", 2021);
        addRecording(env, "new.wav", 2022);
        auto store = openStore(env);
        QCOMPARE(ids(store->recordings()),
                 (QStringList{env.path("new.wav"), env.path("mid.wav"), env.path("old.wav")}));
        QCOMPARE(store->selectedIDs(), QSet<QString>{env.path("new.wav")});
        QCOMPARE(store->selectedItem()->id(), env.path("new.wav"));

        // Two survivors stay selected; no single item then.
        store->setSelectedIDs({env.path("old.wav"), env.path("mid.wav")});
        QCoro::waitFor(store->refresh());
        QCOMPARE(store->selectedIDs().size(), 2);
        QCOMPARE(store->selectedItem(), std::nullopt);
        QCOMPARE(ids(store->selectedItems()), (QStringList{env.path("mid.wav"), env.path("old.wav")}));

        // A selection that vanished falls back to the newest.
        store->setSelectedIDs({env.path("gone.wav")});
        QCoro::waitFor(store->refresh());
        QCOMPARE(store->selectedIDs(), QSet<QString>{env.path("new.wav")});

        // A vanished file leaves the survivors of a mixed selection.
        store->setSelectedIDs({env.path("gone.wav"), env.path("old.wav")});
        QCoro::waitFor(store->refresh());
        QCOMPARE(store->selectedIDs(), QSet<QString>{env.path("old.wav")});
    }

    void refreshSelectsAGivenURLEvenWhenUnknown()
    {
        TestEnvironment env;
        addRecording(env, "a.wav", 2020);
        auto store = openStore(env);
        QCoro::waitFor(store->refresh(env.path("nothing.wav")));
        QCOMPARE(store->selectedIDs(), QSet<QString>{env.path("nothing.wav")});
        QCOMPARE(store->selectedItem(), std::nullopt);
        QVERIFY(store->selectedItems().isEmpty());
    }

    void anEmptyLibraryClearsTheSelection()
    {
        TestEnvironment env;
        addRecording(env, "a.wav", 2020);
        auto store = openStore(env);
        QFile::remove(env.path("a.wav"));
        QCoro::waitFor(store->refresh());
        QVERIFY(store->recordings().isEmpty());
        QVERIFY(store->selectedIDs().isEmpty());
    }

    void statusClearsAfterItsOwnDelayOnly()
    {
        TestEnvironment env;
        auto store = openStore(env);
        store->setStatusMessage(QStringLiteral("A"));
        env.clock.advance(2000ms);
        store->setStatusMessage(QStringLiteral("B"));
        env.clock.advance(1700ms); // A's 3.6 s are over: B stays
        QCOMPARE(store->statusMessage(), QStringLiteral("B"));
        env.clock.advance(1899ms);
        QCOMPARE(store->statusMessage(), QStringLiteral("B"));
        env.clock.advance(1ms);
        QCOMPARE(store->statusMessage(), std::nullopt);
    }

    void theSameTextSetAgainRestartsItsDelay()
    {
        TestEnvironment env;
        auto store = openStore(env);
        store->setStatusMessage(QStringLiteral("Saved"));
        env.clock.advance(3000ms);
        store->setStatusMessage(QStringLiteral("Saved"));
        env.clock.advance(3000ms);
        QCOMPARE(store->statusMessage(), QStringLiteral("Saved"));
        env.clock.advance(600ms);
        QCOMPARE(store->statusMessage(), std::nullopt);
    }

    void anEmptyStatusCancelsTheDismissal()
    {
        TestEnvironment env;
        auto store = openStore(env);
        store->setStatusMessage(QStringLiteral("A"));
        QCOMPARE(env.clock.activeTimers(), 1);
        store->setStatusMessage(QString());
        QCOMPARE(env.clock.activeTimers(), 0);
        store->setStatusMessage(std::nullopt);
        QCOMPARE(env.clock.activeTimers(), 0);
        env.clock.advance(10s);
        QCOMPARE(store->statusMessage(), std::nullopt);
    }

    void aFolderThatCannotBeCreatedReportsAndScansEmpty()
    {
        TestEnvironment env;
        QFile blocker(env.path("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto environment = env.storeEnvironment();
        environment.folderOverride = env.path("blocker/Library");
        RecordingLibraryStore store(environment);
        QSignalSpy loaded(&store, &RecordingLibraryStore::refreshFinished);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(store.statusMessage(), QStringLiteral("The folder “Library” couldn’t be created."));
        QVERIFY(store.recordings().isEmpty());
        env.clock.advance(3600ms);
        QCOMPARE(store.statusMessage(), std::nullopt);
    }

    void choosingAFolderStoresAndScansIt()
    {
        TestEnvironment env;
        auto store = openStore(env);
        const auto other = env.m_root.filePath("Other/Sub");
        env.dialogs.folderAnswers.push_back(other);
        QSignalSpy refreshed(store.get(), &RecordingLibraryStore::refreshFinished);
        store->chooseFolder();
        QCOMPARE(env.dialogs.asked, QStringList{"Choose Save Folder"});
        QVERIFY(!refreshed.isEmpty() || refreshed.wait(10000));
        QCOMPARE(store->folderURL(), other);
        QVERIFY(QFileInfo(other).isDir());
        QCOMPARE(env.settings->value(FolderAccess::pathKey).toString(), other);
        QVERIFY(!env.settings->contains(FolderAccess::bookmarkKey));

        // Cancelled: nothing changes.
        store->chooseFolder();
        QCOMPARE(store->folderURL(), other);
    }

    void theStoredFolderIsUsedOnTheNextStart()
    {
        TestEnvironment env;
        const auto chosen = env.m_root.filePath("Chosen");
        env.settings->setValue(FolderAccess::pathKey, chosen);
        auto store = openStore(env, false);
        QCOMPARE(store->folderURL(), chosen);
        QVERIFY(QFileInfo(chosen).isDir());
    }

    void aStoreDestroyedDuringItsScanIsLeftAlone()
    {
        TestEnvironment env;
        addRecording(env, "a.wav", 2020);
        {
            RecordingLibraryStore store(env.storeEnvironment());
        }
        // The scan finishes after the store is gone; nothing may touch it.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(true);
    }
};

QTEST_GUILESS_MAIN(LibraryStoreTest)
#include "test_library_store.moc"
