// vespertone-tool: scan, folder selection, help and usage errors.

#include "library/MetadataStore.h"
#include "support/AudioFixtures.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class ToolLibraryTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"), "run through ctest");
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
    }

    void scanPrintsTheLibraryNewestFirst()
    {
        QTemporaryDir dir;
        AudioFixtures::tone(dir.filePath("Old Take.wav"), 1.0);
        AudioFixtures::tone(dir.filePath("Take.m4a"), 2.0);
        auto old = RecordingMetadata::fresh(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
        old.bpm = 120;
        old.musicalKey = QStringLiteral("A minor");
        old.trimStart = 0.25;
        old.trimEnd = 0.75;
        RecordingSourceContext source;
        source.appName = QStringLiteral("Music");
        source.urlString = QStringLiteral("https://example.org/a");
        source.capturedAt = old.createdAt;
        old.source = source;
        MetadataStore::save(old, dir.filePath("Old Take.wav"));

        const auto run = runTool({"scan", "--folder", dir.path()}, 60000, m_environment);
        QCOMPARE(run.exitCode, 0);
        const auto items = QJsonDocument::fromJson(run.out).array();
        QCOMPARE(items.size(), 2);
        const auto newest = items[0].toObject();
        QCOMPARE(newest["path"].toString(), dir.filePath("Take.m4a"));
        QVERIFY(qAbs(newest["duration"].toDouble() - 2.0) < 0.03);
        QVERIFY(!newest.contains("bpm") && !newest.contains("source") && !newest.contains("musicalKey"));
        const auto oldest = items[1].toObject();
        QCOMPARE(oldest["createdAt"].toString(), QStringLiteral("2020-01-02T03:04:05Z"));
        QCOMPARE(oldest["duration"].toDouble(), 1.0);
        QCOMPARE(oldest["bpm"].toDouble(), 120.0);
        QCOMPARE(oldest["musicalKey"].toString(), QStringLiteral("A minor"));
        QCOMPARE(oldest["trimStart"].toDouble(), 0.25);
        QCOMPARE(oldest["trimEnd"].toDouble(), 0.75);
        QCOMPARE(oldest["source"].toObject()["urlString"].toString(), QStringLiteral("https://example.org/a"));
        // --folder is for this run only.
        QSettings settings(m_home.filePath(".config/Vespertone/Vespertone.conf"), QSettings::NativeFormat);
        QVERIFY(!settings.contains("Vespertone.SaveFolderPath"));
    }

    void scanUsesTheStoredFolderWithoutAnOverride()
    {
        QTemporaryDir dir;
        AudioFixtures::tone(dir.filePath("Stored.aiff"), 0.5);
        {
            QSettings settings(m_home.filePath(".config/Vespertone/Vespertone.conf"), QSettings::NativeFormat);
            settings.setValue("Vespertone.SaveFolderPath", dir.path());
        }
        const auto run = runTool({"scan"}, 60000, m_environment);
        QCOMPARE(run.exitCode, 0);
        const auto items = QJsonDocument::fromJson(run.out).array();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].toObject()["path"].toString(), dir.filePath("Stored.aiff"));
        QFile::remove(m_home.filePath(".config/Vespertone/Vespertone.conf"));
    }

    void anEmptyOrMissingFolderScansEmpty()
    {
        QTemporaryDir dir;
        const auto run = runTool({"scan", "--folder", dir.filePath("new/library")}, 60000, m_environment);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(run.out).array().size(), 0);
        QVERIFY(QFileInfo(dir.filePath("new/library")).isDir());
    }

    void reportsUsageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"frobnicate"};
        QTest::newRow("folder without value") << QStringList{"scan", "--folder"};
        QTest::newRow("extra argument") << QStringList{"scan", "extra"};
    }

    void reportsUsageErrors()
    {
        QFETCH(QStringList, arguments);
        const auto run = runTool(arguments, 60000, m_environment);
        QVERIFY(run.exitCode > 0);
        QVERIFY(!run.err.isEmpty());
        QVERIFY(run.out.isEmpty());
    }

    void helpDescribesEveryCommand()
    {
        const auto run = runTool({"--help"}, 60000, m_environment);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains("scan [--folder DIR]"));
        QVERIFY(run.out.contains("--folder DIR"));
    }
};

QTEST_GUILESS_MAIN(ToolLibraryTest)
#include "test_tool_library.moc"
