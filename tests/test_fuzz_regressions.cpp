// Every input the fuzz targets keep, the seeds and each one that ever failed, through the same
// readers and checks as scripts/fuzz.sh, in the ordinary (and the sanitized) build.

#include "FuzzTargets.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTest>

#include <functional>
#include <map>

class TestFuzzRegressions : public QObject {
    Q_OBJECT

private slots:
    void keptInputsPass_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("file");
        int count = 0;
        for (const auto *kind : {"corpus", "regressions"}) {
            const QDir root(QStringLiteral(VESPERTONE_FUZZ_DIR "/") + QLatin1String(kind));
            for (const auto &target : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                for (const auto &name : QDir(root.filePath(target)).entryList(QDir::Files)) {
                    QTest::addRow("%s/%s/%s", kind, qPrintable(target), qPrintable(name))
                        << target << root.filePath(target + u'/' + name);
                    ++count;
                }
            }
        }
        QVERIFY(count > 0);
    }
    void keptInputsPass()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        static const std::map<QString, std::function<bool(const QByteArray &)>> targets{
            {"chromiumSession", FuzzTargets::chromiumSession},
            {"firefoxSession", FuzzTargets::firefoxSession},
            {"sidecar", FuzzTargets::sidecar},
            {"hotKey", FuzzTargets::hotKey},
            {"mp3Gapless", FuzzTargets::mp3Gapless},
            {"containerHeader", FuzzTargets::containerHeader}};
        QVERIFY2(targets.contains(target), qPrintable(target));
        QVERIFY(targets.at(target)(readFile(file)));
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "test_fuzz_regressions.moc"
