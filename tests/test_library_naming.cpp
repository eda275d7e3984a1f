// File naming rules and the shared display texts.

#include "library/Formatters.h"
#include "library/UniqueFileNamer.h"
#include "library/RecordingScanner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <limits>

namespace {
void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}
} // namespace

class LibraryNamingTest : public QObject {
    Q_OBJECT

private slots:
    void trimNamesCountPastTakenNames()
    {
        QTemporaryDir dir;
        const auto source = dir.filePath(QStringLiteral("Take.m4a"));
        QCOMPARE(UniqueFileNamer::trimmedURL(source), dir.filePath(QStringLiteral("Take Trim.m4a")));
        touch(dir.filePath(QStringLiteral("Take Trim.m4a")));
        touch(dir.filePath(QStringLiteral("Take Trim 2.m4a")));
        QCOMPARE(UniqueFileNamer::trimmedURL(source), dir.filePath(QStringLiteral("Take Trim 3.m4a")));
        QCOMPARE(UniqueFileNamer::trimmedURL(dir.filePath(QStringLiteral("Loop.wav"))),
                 dir.filePath(QStringLiteral("Loop Trim.m4a")));
    }

    void aFolderOrDanglingLinkAlsoTakesTheName()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("A.wav"));
        QFile::link(dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("A 2.wav")));
        QCOMPARE(UniqueFileNamer::uniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav")),
                 dir.filePath(QStringLiteral("A 3.wav")));
    }

    void temporaryImportNamesLiveInTheWorkFolder()
    {
        const QDateTime date(QDate(2024, 5, 1), QTime(9, 5, 3), Qt::LocalTime);
        QCOMPARE(UniqueFileNamer::temporaryImportURL(QStringLiteral("/L"), date, QStringLiteral("mp3")),
                 QStringLiteral("/L/.vespertone/tmp/Import 2024-05-01 09.05.03.mp3"));
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
        QTest::newRow("adjacent") << "a//b"
                                  << "a  b";
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

    void splitsNamesAtTheLastDot()
    {
        QCOMPARE(UniqueFileNamer::baseName(QStringLiteral("/a/b.c.wav")), QStringLiteral("b.c"));
        QCOMPARE(UniqueFileNamer::extension(QStringLiteral("/a/b.c.wav")), QStringLiteral("wav"));
        QCOMPARE(UniqueFileNamer::baseName(QStringLiteral("/a/noext")), QStringLiteral("noext"));
        QCOMPARE(UniqueFileNamer::extension(QStringLiteral("/a/.hidden")), QString());
    }

    void clock_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("59.5") << 59.5 << "01:00";
        QTest::newRow("3599.4") << 3599.4 << "59:59";
        QTest::newRow("3600") << 3600.0 << "1:00:00";
        QTest::newRow("36000") << 36000.0 << "10:00:00";
        QTest::newRow("65") << 65.0 << "01:05";
        QTest::newRow("negative") << -1.0 << "00:00";
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "00:00";
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << "00:00";
    }

    void clock()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(TimeText::clock(seconds), text);
    }

    void editorClock_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << "0.00";
        QTest::newRow("9.994") << 9.994 << "9.99";
        QTest::newRow("9.999") << 9.999 << "10.00";
        QTest::newRow("10") << 10.0 << "00:10.00";
        QTest::newRow("75.678") << 75.678 << "01:15.67";
        QTest::newRow("600.5") << 600.5 << "10:00.50";
        QTest::newRow("negative") << -0.5 << "00:00.00";
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << "00:00.00";
    }

    void editorClock()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(TimeText::editorClock(seconds), text);
    }

    void roundsTempoHalfAwayFromZero()
    {
        QCOMPARE(roundedBPMText(127.5), QStringLiteral("128 BPM"));
        QCOMPARE(roundedBPMText(90.49), QStringLiteral("90 BPM"));
    }

    void datesIgnoreTheUserLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QDateTime morning(QDate(2024, 5, 1), QTime(9, 5, 3), Qt::LocalTime);
        QCOMPARE(AppDateFormatters::fileStamp(morning), QStringLiteral("2024-05-01 09.05.03"));
        const QDateTime afternoon(QDate(2024, 5, 1), QTime(14, 5, 9), Qt::LocalTime);
        QCOMPARE(AppDateFormatters::sidebarDate(afternoon), QStringLiteral("May 1 2:05 PM"));
        QVERIFY(!AppDateFormatters::listDate(afternoon).isEmpty());
        QLocale::setDefault(QLocale::c());
    }

    void creationDateFallsBackToModification()
    {
        QTemporaryDir dir;
        const auto path = dir.filePath(QStringLiteral("a.wav"));
        touch(path);
        const auto date = RecordingScanner::fileCreationDate(path);
        QVERIFY(date.isValid());
        QVERIFY(qAbs(date.secsTo(QDateTime::currentDateTime())) < 60);
        // A missing file has neither: the current time stands in.
        const auto missing = RecordingScanner::fileCreationDate(dir.filePath(QStringLiteral("none.wav")));
        QVERIFY(qAbs(missing.secsTo(QDateTime::currentDateTime())) < 60);
    }
};

QTEST_GUILESS_MAIN(LibraryNamingTest)
#include "test_library_naming.moc"
