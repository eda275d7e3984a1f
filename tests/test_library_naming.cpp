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
    /// A folder, a file or a dangling link takes a name; reserving creates the file, so a second
    /// reservation of the same base gets the next name.
    void newNamesSkipTakenOnes()
    {
        QTemporaryDir dir;
        const auto name = [&](const char *file) { return dir.filePath(QLatin1String(file)); };
        QDir(dir.path()).mkdir(QStringLiteral("A.wav"));
        QFile::link(name("missing"), name("A 2.wav"));
        QCOMPARE(UniqueFileNamer::uniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav")), name("A 3.wav"));
        QCOMPARE(UniqueFileNamer::reserveUniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav")),
                 name("A 3.wav"));
        QCOMPARE(UniqueFileNamer::reserveUniqueURL(dir.path(), QStringLiteral("A"), QStringLiteral("wav")),
                 name("A 4.wav"));
        QVERIFY(QFileInfo(name("A 3.wav")).isFile() && QFileInfo(name("A 3.wav")).size() == 0);
        QVERIFY(QFileInfo(name("A 2.wav")).isSymLink()); // the link was not followed
    }

    /// A name whose sidecar name (base + ".wav.vtmeta.json") passes 255 bytes is refused before
    /// anything is created.
    void nameLimit_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("fits");
        QTest::newRow("239 bytes") << QString(239, u'a') << true;
        QTest::newRow("240 bytes") << QString(240, u'a') << false;
        QTest::newRow("120 two-byte characters") << QString(120, u'é') << false;
    }

    void nameLimit()
    {
        QFETCH(QString, base);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        const auto file = dir.filePath(base + QStringLiteral(".wav"));
        QCOMPARE(UniqueFileNamer::fitsNameLimit(file), fits);
        try {
            QCOMPARE(UniqueFileNamer::reserveUniqueURL(dir.path(), base, QStringLiteral("wav")), file);
            QVERIFY(fits);
        } catch (const AppError &error) {
            QVERIFY(!fits);
            QCOMPARE(error.text(), UniqueFileNamer::nameTooLongMessage(base + QStringLiteral(".wav")));
            QCOMPARE(entriesOf(dir.path()), QStringList());
        }
    }

    void sanitizes()
    {
        const std::pair<QString, QString> cases[] = {{"a/b:c", "a b c"},
                                                     {"  x\n", "x"},
                                                     {"///", ""},
                                                     {QStringLiteral("a\x01\x7f") + u'b', "a  b"},
                                                     {QStringLiteral("a\u2028b"), "a b"},
                                                     {"Café — ♫", "Café — ♫"}};
        for (const auto &[input, expected] : cases)
            QCOMPARE(UniqueFileNamer::sanitizedBaseName(input), expected);
    }

    void clocks()
    {
        const std::tuple<double, QString, QString> cases[] = {
            {-1.0, "00:00", "00:00.00"},
            {std::numeric_limits<double>::quiet_NaN(), "00:00", "00:00.00"},
            {std::numeric_limits<double>::infinity(), "00:00", "00:00.00"},
            // Beyond any integer: nothing to convert.
            {1e300, "00:00", "00:00.00"},
            {9.3e18, "00:00", "00:00.00"},
            {9.999, "00:10", "10.00"},
            {59.5, "01:00", "00:59.50"},
            {3600.0, "1:00:00", "60:00.00"}};
        for (const auto &[seconds, clock, editorClock] : cases) {
            QCOMPARE(TimeText::clock(seconds), clock);
            QCOMPARE(TimeText::editorClock(seconds), editorClock);
        }
    }

    void tempoAndDatesIgnoreTheUserLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(roundedBPMText(127.5), QStringLiteral("128 BPM"));
        const QDateTime afternoon(QDate(2024, 5, 1), QTime(14, 5, 9), Qt::LocalTime);
        QCOMPARE(AppDateFormatters::fileStamp(afternoon), QStringLiteral("2024-05-01 14.05.09"));
        QCOMPARE(AppDateFormatters::sidebarDate(afternoon), QStringLiteral("May 1 2:05 PM"));
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(LibraryNamingTest)
#include "test_library_naming.moc"
