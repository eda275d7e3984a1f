// The lame-backed MP3 encoder: command line, input check, exit status, diagnostics, missing encoders.

#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

/// Writes an executable (or not) shell script named "lame" into \a folder; returns \a folder.
QString writeEncoder(const QString &folder, const QByteArray &body, bool executable = true)
{
    QDir(folder).removeRecursively();
    const auto path = writeFile(folder + QStringLiteral("/lame"), "#!/bin/sh\n" + body);
    QFile::setPermissions(path, executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner : QFile::ReadOwner);
    return folder;
}

} // namespace

class TestMP3Encoder : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_wav;
    [[nodiscard]] QString encoders() const { return m_dir.filePath(QStringLiteral("Encoders")); }
    [[nodiscard]] QString out() const { return m_dir.filePath(QStringLiteral("out.mp3")); }
    /// What encoding m_wav with the encoders in \a folder throws, and that it leaves no output.
    QString failure(const QString &folder, const QString &wav = {})
    {
        MP3EncoderService service(folder);
        const auto text = failureOf(service.encode(wav.isEmpty() ? m_wav : wav, out(), AudioBitRate::kbps128));
        return QFileInfo::exists(out()) ? QStringLiteral("output left behind") : text;
    }

private slots:
    void initTestCase()
    {
        configureFFmpegLogging();
        m_wav = AudioFixtures::tone(m_dir.filePath(QStringLiteral("My Take.wav")), 1.0);
    }

    void passesExactArgumentList()
    {
        const auto log = m_dir.filePath(QStringLiteral("arguments.txt"));
        writeEncoder(encoders(), "printf '%s\\n' \"$@\" > '" + log.toUtf8() + "'\nprintf x > \"$6\"\n");
        MP3EncoderService service(encoders());
        QCOMPARE(finish(service.encode(m_wav, out(), AudioBitRate::kbps320)), out());
        QCOMPARE(QString::fromUtf8(readFile(log)).split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{"--silent", "--cbr", "-b", "320", m_wav, out()}));
        QFile::remove(out());
    }

    void reportsFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("message");
        const QString failed = QStringLiteral("MP3 encoding failed.");
        const QString writes = QStringLiteral("printf x > \"$6\"\n");
        QTest::newRow("one line") << QByteArray("echo 'Could not find \"x.wav\".' >&2\nexit 1\n") << QString()
                                  << QStringLiteral("Could not find \"x.wav\".");
        QTest::newRow("silent, partial output") << QByteArray("printf x > \"$6\"\nexit 2\n") << QString() << failed;
        QTest::newRow("padded lines") << QByteArray("printf '\\n  first\\nsecond \\n\\n' >&2\nexit 3\n") << QString()
                                      << QStringLiteral("first\nsecond");
        QTest::newRow("not utf-8") << QByteArray("printf 'bad \\377\\376 bytes' >&2\nexit 1\n") << QString() << failed;
        QTest::newRow("killed") << QByteArray("echo dying >&2\nkill -9 $$\n") << QString() << QStringLiteral("dying");
        QTest::newRow("success without file") << QByteArray("exit 0\n") << QString() << failed;
        // The input is checked before the encoder runs: it would happily encode noise.
        QTest::newRow("aac named wav") << writes.toUtf8() << QStringLiteral("aac.wav")
                                       << QStringLiteral("“aac.wav” is not a PCM WAV file.");
        QTest::newRow("text named wav") << writes.toUtf8() << QStringLiteral("text.wav")
                                        << QStringLiteral("“text.wav” is not a PCM WAV file.");
        QTest::newRow("missing input") << writes.toUtf8() << QStringLiteral("none.wav")
                                       << QStringLiteral("“none.wav” is not a PCM WAV file.");
    }

    void reportsFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, input);
        QFETCH(QString, message);
        const auto aac = AudioFixtures::tone(m_dir.filePath(QStringLiteral("aac.m4a")), 0.5);
        QFile::copy(aac, m_dir.filePath(QStringLiteral("aac.wav")));
        writeFile(m_dir.filePath(QStringLiteral("text.wav")), "RIFF but not really\n");
        QCOMPARE(failure(writeEncoder(encoders(), script), input.isEmpty() ? QString() : m_dir.filePath(input)),
                 message);
    }

    void unusableEncoders()
    {
        const QString missing = QStringLiteral("The bundled LAME MP3 encoder is missing.");
        const auto none = m_dir.filePath(QStringLiteral("none"));
        QCOMPARE(failure(none), missing);
        QVERIFY(!MP3EncoderService(none).isAvailable());
        // A dangling link or a directory is no encoder.
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("directory/lame"))));
        QVERIFY(!MP3EncoderService(m_dir.filePath(QStringLiteral("directory"))).isAvailable());
        const auto linked = m_dir.filePath(QStringLiteral("linked"));
        QDir().mkpath(linked);
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), linked + QStringLiteral("/lame")));
        QCOMPARE(failure(linked), missing);
        // Found but not executable: a launch failure, not a missing encoder.
        const auto script = writeEncoder(m_dir.filePath(QStringLiteral("script")), "exit 0\n", false);
        QVERIFY(!MP3EncoderService(script).isAvailable());
        QVERIFY2(failure(script).startsWith(QStringLiteral("The encoder “lame” could not be started")),
                 qPrintable(failure(script)));
    }

    void guiThreadRunsWhileEncoding()
    {
        // The fake encoder waits for a file that only the GUI thread's event loop creates.
        const auto flag = m_dir.filePath(QStringLiteral("go"));
        writeEncoder(encoders(), "while [ ! -e '" + flag.toUtf8() + "' ]; do sleep 0.01; done\nprintf x > \"$6\"\n");
        MP3EncoderService service(encoders());
        auto task = service.encode(m_wav, out(), AudioBitRate::kbps128);
        QTimer::singleShot(0, this, [&] { writeFile(flag, {}); });
        QCOMPARE(finish(std::move(task)), out());
        QFile::remove(out());
    }

    void realLameEncodesAtConstantBitRate()
    {
        MP3EncoderService service; // the build tree's Encoders folder
        QVERIFY2(service.isAvailable(), qPrintable(MP3EncoderService::defaultEncodersFolder()));
        const auto wav = AudioFixtures::tone(m_dir.filePath(QStringLiteral("four.wav")), 4.0);
        qint64 previousSize = 0;
        for (auto rate : {AudioBitRate::kbps128, AudioBitRate::kbps320}) {
            const auto mp3 = m_dir.filePath(QStringLiteral("tone %1.mp3").arg(AudioBitRates::rawValue(rate)));
            QCOMPARE(finish(service.encode(wav, mp3, rate)), mp3);
            AudioFileReader reader(mp3);
            QVERIFY2(std::abs(reader.length() - 4 * 48000) < 48000 / 10, qPrintable(QString::number(reader.length())));
            // Constant bit rate: the size follows the rate.
            const auto expected = AudioBitRates::rawValue(rate) / 8 * 4;
            const auto size = QFileInfo(mp3).size();
            QVERIFY2(std::abs(size - expected) < expected / 10 && size > previousSize,
                     qPrintable(QString::number(size)));
            previousSize = size;
        }
    }

    void toolRefusesBadInput()
    {
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("run through ctest");
        const auto text = writeFile(m_dir.filePath(QStringLiteral("notes.wav")), "just text\n");
        const auto run = runTool({QStringLiteral("encode-mp3"), text, out(), QStringLiteral("--folder"), m_dir.path()});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err.trimmed(), QByteArray("“notes.wav” is not a PCM WAV file."));
        QVERIFY(!QFileInfo::exists(out()));
    }
};

QTEST_GUILESS_MAIN(TestMP3Encoder)
#include "test_mp3_encoder.moc"
