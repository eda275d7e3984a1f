// The desktop Trash through GIO, in child processes with a private home and data folder each
// (GIO reads them once). A file on another file system ($topdir/.Trash-$uid) is not covered:
// no second file system can be made here without mounting one.

#include "platform/FreedesktopTrash.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QUrl>

class TestDesktopTrash : public QObject {
    Q_OBJECT

private slots:
    void movesIntoTheHomeTrashOrSaysWhyNot_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dataIsAFile");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("trash created, percent and newline in the name") << "100% done\nnow.wav" << false << "ok";
        QTest::newRow("data folder is a file")
            << "Take.wav" << true << "Unable to create trash directory %1/Trash: Not a directory";
    }
    void movesIntoTheHomeTrashOrSaysWhyNot()
    {
        QFETCH(QString, name);
        QFETCH(bool, dataIsAFile);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const auto data = dir.filePath(QStringLiteral("data")), path = dir.filePath(name);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("home"))));
        for (const auto &file : dataIsAFile ? QStringList{path, data} : QStringList{path}) {
            QFile created(file);
            QVERIFY(created.open(QIODevice::WriteOnly) && created.write("audio") == 5);
        }
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--trash"), path});
        QVERIFY(child.waitForFinished());
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), outcome.arg(data));
        QCOMPARE(QFile::exists(path), dataIsAFile); // a refused file stays where it was
        if (dataIsAFile)
            return;
        QFile trashed(data + "/Trash/files/" + name), info(data + "/Trash/info/" + name + ".trashinfo");
        QVERIFY(trashed.open(QIODevice::ReadOnly) && trashed.readAll() == "audio");
        QVERIFY(info.open(QIODevice::ReadOnly));
        const auto lines = QString::fromUtf8(info.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3); // [Trash Info], Path=, DeletionDate=
        QVERIFY2(lines[1].startsWith("Path=") && QUrl::fromPercentEncoding(lines[1].mid(5).toUtf8()) == path
                     && !lines[1].mid(5).contains(QRegularExpression("%(?![0-9A-F]{2})")),
                 qPrintable(lines[1]));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--trash") {
        QString error;
        QTextStream(stdout) << (FreedesktopTrash().moveToTrash(QFile::decodeName(argv[2]), &error) ? "ok" : error);
        return 0;
    }
    TestDesktopTrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_trash.moc"
