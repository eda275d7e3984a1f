// The installed tree: executables, encoders, manual pages, completion, and a desktop entry, icon
// and AppStream metadata that the desktop's own validators accept.

#include "support/TestFiles.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
/// Runs \a program; its exit code and output, -1 when it did not run.
std::pair<int, QByteArray> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll()};
    return {process.exitCode(), process.readAll()};
}
} // namespace

class DesktopInstallTest : public QObject {
    Q_OBJECT

private slots:
    void installedTreeValidates()
    {
        QTemporaryDir prefix;
        const auto [installed, log] =
            run("cmake", {"--install", qEnvironmentVariable("VESPERTONE_BUILD_DIR"), "--prefix", prefix.path()});
        QVERIFY2(installed == 0, log.constData());
        // The validators below fail on a missing desktop entry or metadata, the icon read on a missing icon.
        QVERIFY(QFileInfo(prefix.filePath("bin/vespertone")).isExecutable());
        QVERIFY(QFileInfo(prefix.filePath("bin/vespertone-tool")).isExecutable());
        // The encoders are the system's programs, not links into the build tree.
        const QFileInfo lame(prefix.filePath("share/vespertone/Encoders/lame"));
        QVERIFY(lame.isSymLink());
        QVERIFY2(!lame.symLinkTarget().startsWith(qEnvironmentVariable("VESPERTONE_BUILD_DIR")),
                 qPrintable(lame.symLinkTarget()));
        QCOMPARE(lame.canonicalFilePath(), QFileInfo(QStandardPaths::findExecutable("lame")).canonicalFilePath());
        QVERIFY(QFileInfo(prefix.filePath("share/man/man1/vespertone-tool.1")).size() > 0);
        QVERIFY(QFileInfo(prefix.filePath("share/man/man1/vespertone.1")).size() > 0);
        QVERIFY(readFile(prefix.filePath("share/bash-completion/completions/vespertone-tool")).contains("complete -F"));

        const auto [entry, entryLog] =
            run("desktop-file-validate", {prefix.filePath("share/applications/vespertone.desktop")});
        QVERIFY2(entry == 0 && entryLog.trimmed().isEmpty(), entryLog.constData());
        const auto metainfoPath = prefix.filePath("share/metainfo/app.vespertone.Vespertone.metainfo.xml");
        const auto [metainfo, metainfoLog] = run("appstreamcli", {"validate", "--no-net", metainfoPath});
        QVERIFY2(metainfo == 0, metainfoLog.constData());
        QVERIFY(!readFile(metainfoPath).contains('@'));
        // The metadata's newest release is the version the installed programs report.
        const auto [versioned, version] = run(prefix.filePath("bin/vespertone-tool"), {"--version"});
        QCOMPARE(versioned, 0);
        const auto number = version.trimmed().split(' ').last();
        QVERIFY(readFile(metainfoPath).contains("<releases>\n    <release version=\"" + number + "\""));
        QCOMPARE(run(prefix.filePath("bin/vespertone"), {"--version"}).second.trimmed(), "vespertone " + number);
        QVERIFY(readFile(prefix.filePath("share/icons/hicolor/scalable/apps/vespertone.svg")).contains("<svg"));
    }
};

QTEST_MAIN(DesktopInstallTest)
#include "test_desktop_install.moc"
