// File naming rules and the shared display texts.

#include "base/AppError.h"
#include "library/Formatters.h"
#include "library/UniqueFileNamer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

class LibraryNamingTest : public QObject {
    Q_OBJECT

private slots:
    /// A folder, a file or a dangling link takes a name; numbering goes on past them.
    void newNamesSkipTakenOnes()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("A.wav"));
        QFile::link(dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("A 2.wav")));
        QCOMPARE(UniqueFileNamer::uniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav")),
                 dir.filePath(QStringLiteral("A 3.wav")));
        // Reserving creates the file: a second reservation of the same base gets the next name.
        const auto first = UniqueFileNamer::reserveUniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav"));
        const auto second = UniqueFileNamer::reserveUniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav"));
        QCOMPARE(first, dir.filePath(QStringLiteral("A 3.wav")));
        QCOMPARE(second, dir.filePath(QStringLiteral("A 4.wav")));
        QVERIFY(QFileInfo(first).isFile() && QFileInfo(first).size() == 0 && QFileInfo(second).isFile());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("A 2.wav"))).isSymLink()); // the link was not followed
        QCOMPARE(UniqueFileNamer::temporaryImportURL(QStringLiteral("/L"), QDateTime(QDate(2024, 5, 1), QTime(9, 5, 3)),
                                                     QStringLiteral("mp3")),
                 QStringLiteral("/L/.vespertone/tmp/Import 2024-05-01 09.05.03.mp3"));
    }

    /// A name whose sidecar name passes the file-name limit is refused before anything is created.
    void nameLimit_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("fits");
        // 255 bytes a name; the sidecar adds ".wav.vtmeta.json" (16 bytes) to the base name.
        QTest::newRow("239 bytes") << 239 << true;
        QTest::newRow("240 bytes") << 240 << false;
        QTest::newRow("120 two-byte characters") << -120 << false;
    }

    void nameLimit()
    {
        QFETCH(int, length);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        const auto base = length > 0 ? QString(length, u'a') : QString(-length, u'é');
        QCOMPARE(UniqueFileNamer::fitsNameLimit(dir.filePath(base + QStringLiteral(".wav"))), fits);
        if (fits) {
            QCOMPARE(UniqueFileNamer::reserveUniqueURL(dir.path(), base, QStringLiteral("wav")),
                     dir.filePath(base + QStringLiteral(".wav")));
            return;
        }
        try {
            (void)UniqueFileNamer::reserveUniqueURL(dir.path(), base, QStringLiteral("wav"));
            QFAIL("a name past the limit was reserved");
        } catch (const AppError &error) {
            QCOMPARE(error.text(), UniqueFileNamer::nameTooLongMessage(base + QStringLiteral(".wav")));
        }
        QCOMPARE(entriesOf(dir.path()), QStringList());
    }

    void sanitizes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("slash and colon") << "a/b:c"
                                         << "a b c";
        QTest::newRow("spaces and newline") << "  x\n"
                                            << "x";
        QTest::newRow("only slashes") << "///"
                                      << "";
        QTest::newRow("control") << QStringLiteral("a\x01\x7f"
                                                   "b")
                                 << "a  b";
        QTest::newRow("line separator") << QStringLiteral("a\u2028b") << "a b";
        QTest::newRow("unicode kept") << "Café — ♫"
                                      << "Café — ♫";
    }

    void sanitizes()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(UniqueFileNamer::sanitizedBaseName(input), expected);
    }

    void clocks_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("editorClock");
        const auto nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("0") << 0.0 << "00:00"
                           << "0.00";
        QTest::newRow("9.999") << 9.999 << "00:10"
                               << "10.00";
        QTest::newRow("59.5") << 59.5 << "01:00"
                              << "00:59.50";
        QTest::newRow("75.678") << 75.678 << "01:16"
                                << "01:15.67";
        QTest::newRow("3599.4") << 3599.4 << "59:59"
                                << "59:59.40";
        QTest::newRow("36000") << 36000.0 << "10:00:00"
                               << "600:00.00";
        QTest::newRow("negative") << -1.0 << "00:00"
                                  << "00:00.00";
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "00:00"
                                  << "00:00.00";
        QTest::newRow("nan") << nan << "00:00"
                             << "00:00.00";
    }

    void clocks()
    {
        QFETCH(double, seconds);
        QFETCH(QString, clock);
        QFETCH(QString, editorClock);
        QCOMPARE(TimeText::clock(seconds), clock);
        QCOMPARE(TimeText::editorClock(seconds), editorClock);
    }

    void tempoAndDatesIgnoreTheUserLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(roundedBPMText(127.5), QStringLiteral("128 BPM"));
        QCOMPARE(roundedBPMText(90.49), QStringLiteral("90 BPM"));
        const QDateTime afternoon(QDate(2024, 5, 1), QTime(14, 5, 9), Qt::LocalTime);
        QCOMPARE(AppDateFormatters::fileStamp(afternoon), QStringLiteral("2024-05-01 14.05.09"));
        QCOMPARE(AppDateFormatters::sidebarDate(afternoon), QStringLiteral("May 1 2:05 PM"));
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(LibraryNamingTest)
#include "test_library_naming.moc"
