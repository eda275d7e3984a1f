// The installed tree: executables, encoders, and a desktop entry, icon and AppStream metadata
// that the desktop's own validators accept.

#include "support/TestFiles.h"

#include <QFileInfo>
#include <QProcess>
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
        QVERIFY(QFileInfo(prefix.filePath("share/vespertone/Encoders")).isDir());

        const auto [entry, entryLog] =
            run("desktop-file-validate", {prefix.filePath("share/applications/vespertone.desktop")});
        QVERIFY2(entry == 0 && entryLog.trimmed().isEmpty(), entryLog.constData());
        const auto metainfoPath = prefix.filePath("share/metainfo/app.vespertone.Vespertone.metainfo.xml");
        const auto [metainfo, metainfoLog] = run("appstreamcli", {"validate", "--no-net", metainfoPath});
        QVERIFY2(metainfo == 0, metainfoLog.constData());
        QVERIFY(!readFile(metainfoPath).contains('@'));
        QVERIFY(readFile(prefix.filePath("share/icons/hicolor/scalable/apps/vespertone.svg")).contains("<svg"));
    }
};

QTEST_MAIN(DesktopInstallTest)
#include "test_desktop_install.moc"
