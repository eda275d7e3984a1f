// The manual pages the build makes from each program's --help: man renders them without a
// warning, and they show every entry of the help and the program's version.

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {
struct Output {
    int exitCode = -1;
    QString out;
    QString err;
};

Output run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MANWIDTH", "1000"); // one line per paragraph
    environment.insert("LC_ALL", "C.UTF-8");
    environment.remove("MAN_KEEP_FORMATTING");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString simplified(QString text)
{
    return text.replace(QChar(0x2212), u'-').simplified();
}
} // namespace

class ManualPagesTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheHelp_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("page");
        const auto pages = qEnvironmentVariable("VESPERTONE_BUILD_DIR") + "/share/man/man1/";
        QTest::newRow("vespertone") << qEnvironmentVariable("VESPERTONE_APP") << pages + "vespertone.1";
        QTest::newRow("vespertone-tool") << qEnvironmentVariable("VESPERTONE_TOOL") << pages + "vespertone-tool.1";
    }

    void showsTheHelp()
    {
        QFETCH(QString, program);
        QFETCH(QString, page);
        const auto manual = run("man", {"--warnings", "-l", page});
        QCOMPARE(manual.exitCode, 0);
        QVERIFY2(manual.err.isEmpty(), qPrintable(manual.err));
        const auto text = simplified(manual.out);

        const auto help = run(program, {"--help"});
        QCOMPARE(help.exitCode, 0);
        static const QRegularExpression entry(QStringLiteral(R"(^  (\S.*)\n      (\S.*)$)"),
                                              QRegularExpression::MultilineOption);
        int entries = 0;
        for (auto it = entry.globalMatch(help.out); it.hasNext(); ++entries) {
            const auto match = it.next();
            QVERIFY2(text.contains(simplified(match.captured(1))), qPrintable("synopsis: " + match.captured(1)));
            QVERIFY2(text.contains(simplified(match.captured(2))), qPrintable("description: " + match.captured(2)));
        }
        QVERIFY(entries >= 4);
        for (const auto &usage : help.out.section(u'\n', 0, 1).remove("Usage: ").split(u'\n'))
            QVERIFY2(text.contains(simplified(usage)), qPrintable("usage: " + usage));

        const auto version = run(program, {"--version"}).out.section(u' ', -1).trimmed();
        QVERIFY(!version.isEmpty());
        QVERIFY2(text.contains("Vespertone " + version), qPrintable(version));
    }
};

QTEST_GUILESS_MAIN(ManualPagesTest)
#include "test_manual_pages.moc"
