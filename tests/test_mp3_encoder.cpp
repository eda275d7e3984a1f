// The lame-backed MP3 encoder: input check, exit status, diagnostics, missing encoders.

#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "media/MP3EncoderService.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace {
/// The process whose parent is \a parent and whose command is \a name; 0 when there is none.
qint64 childNamed(qint64 parent, const QByteArray &name)
{
    for (const auto &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const auto pid = entry.toLongLong(&number);
        if (!number)
            continue;
        // "PID (COMM) STATE PPID ..."
        const auto stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const auto close = stat.lastIndexOf(')');
        const auto fields = stat.mid(close + 2).split(' ');
        if (stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1) == name
            && fields.value(1).toLongLong() == parent)
            return pid;
    }
    return 0;
}

/// True while \a pid names a process that is not a zombie.
bool isRunning(qint64 pid)
{
    const auto stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}
} // namespace

class TestMP3Encoder : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_wav;
    [[nodiscard]] QString out() const { return m_dir.filePath(QStringLiteral("out.mp3")); }
    /// Writes a shell script named "lame" into a fresh folder; returns the folder.
    QString writeEncoder(const QByteArray &body, bool executable = true)
    {
        const auto folder = m_dir.filePath(QStringLiteral("Encoders"));
        QDir(folder).removeRecursively();
        const auto path = writeFile(folder + QStringLiteral("/lame"), "#!/bin/sh\n" + body);
        QFile::setPermissions(path, executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
        return folder;
    }

private slots:
    void initTestCase()
    {
        configureFFmpegLogging();
        m_wav = AudioFixtures::tone(m_dir.filePath(QStringLiteral("My Take.wav")), 1.0);
        QFile::copy(AudioFixtures::tone(m_dir.filePath(QStringLiteral("aac.m4a")), 0.5),
                    m_dir.filePath(QStringLiteral("aac.wav")));
        writeFile(m_dir.filePath(QStringLiteral("text.wav")), "RIFF but not really\n");
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("directory/lame"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("linked"))));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), m_dir.filePath(QStringLiteral("linked/lame"))));
    }

    /// \a encoder is a script body, or "-" and a folder name; a \a message ending in "*" is a
    /// prefix. A failed encoding leaves no output.
    void reportsFailures_data()
    {
        QTest::addColumn<QByteArray>("encoder");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("message");
        const QString failed = QStringLiteral("MP3 encoding failed.");
        const QString missing =
            QStringLiteral("The LAME MP3 encoder is missing. Install it with “sudo apt install lame”.");
        const QByteArray writes = "printf x > \"$6\"\n";
        QTest::newRow("one line") << QByteArray("echo 'Could not find \"x.wav\".' >&2\nexit 1\n") << QString()
                                  << QStringLiteral("Could not find \"x.wav\".");
        QTest::newRow("silent, partial output") << writes + "exit 2\n" << QString() << failed;
        QTest::newRow("padded lines") << QByteArray("printf '\\n  first\\nsecond \\n\\n' >&2\nexit 3\n") << QString()
                                      << QStringLiteral("first\nsecond");
        QTest::newRow("not utf-8") << QByteArray("printf 'bad \\377\\376 bytes' >&2\nexit 1\n") << QString() << failed;
        QTest::newRow("killed") << QByteArray("echo dying >&2\nkill -9 $$\n") << QString() << QStringLiteral("dying");
        const QString noAudio = QStringLiteral("MP3 encoding failed: the encoder wrote no audio.");
        QTest::newRow("success without file") << QByteArray("exit 0\n") << QString() << noAudio;
        QTest::newRow("success with no audio") << writes + "exit 0\n" << QString() << noAudio;
        // The input is checked before the encoder runs: it would happily encode noise.
        for (const char *input : {"aac.wav", "text.wav", "none.wav"})
            QTest::addRow("%s", input) << writes << QString::fromLatin1(input)
                                       << QStringLiteral("“%1” is not a PCM WAV file.").arg(QLatin1String(input));
        QTest::newRow("no encoder") << QByteArray("-none") << QString() << missing;
        QTest::newRow("a dangling link") << QByteArray("-linked") << QString() << missing;
        // Found but not executable: a launch failure, not a missing encoder.
        const auto unstartable = QStringLiteral("The encoder “lame” could not be started*");
        QTest::newRow("not executable") << QByteArray() << QString() << unstartable;
        QTest::newRow("a directory") << QByteArray("-directory") << QString() << unstartable;
    }

    void reportsFailures()
    {
        QFETCH(QByteArray, encoder);
        QFETCH(QString, input);
        QFETCH(QString, message);
        QFile::remove(out());
        const auto folder = encoder.startsWith('-') ? m_dir.filePath(QString::fromUtf8(encoder.mid(1)))
                                                    : writeEncoder(encoder, !encoder.isEmpty());
        MP3EncoderService service(folder);
        QCOMPARE(service.isAvailable(), !encoder.isEmpty() && !encoder.startsWith('-'));
        const auto text =
            failureOf(service.encode(input.isEmpty() ? m_wav : m_dir.filePath(input), out(), AudioBitRate::kbps128));
        if (message.endsWith(u'*'))
            QVERIFY2(text.startsWith(message.chopped(1)), qPrintable(text));
        else
            QCOMPARE(text, message);
        QVERIFY(!QFileInfo::exists(out()));
    }

    /// What lame is given beyond its command line: the environment of the program and the
    /// folder it runs in. Neither may change what it makes or where it looks.
    void lameSeesOnlyItsCommandLine()
    {
        qputenv("LAMEOPT", "-m m --resample 22.05");
        MP3EncoderService real; // the build tree's Encoders folder
        const auto mp3 = m_dir.filePath(QStringLiteral("lameopt.mp3"));
        const auto encoded = finish(real.encode(m_wav, mp3, AudioBitRate::kbps128));
        qunsetenv("LAMEOPT");
        QCOMPARE(encoded, mp3);
        const AudioFileReader reader(mp3);
        QCOMPARE(reader.sampleRate(), 48000.0);
        QCOMPARE(reader.channelCount(), 2);

        // A fake tells where it ran: a folder of its own that only this user may enter.
        const auto report = m_dir.filePath(QStringLiteral("where"));
        MP3EncoderService fake(writeEncoder("stat -c '%a %u %F' . > '" + report.toUtf8() + "'\npwd >> '"
                                            + report.toUtf8() + "'\ncp '" + mp3.toUtf8() + "' \"$6\"\n"));
        QCOMPARE(finish(fake.encode(m_wav, out(), AudioBitRate::kbps128)), out());
        QFile::remove(out());
        const auto lines = QString::fromUtf8(readFile(report)).split(u'\n');
        QCOMPARE(lines.value(0), QStringLiteral("700 %1 directory").arg(::geteuid()));
        QVERIFY2(!lines.value(1).startsWith(m_dir.path()) && !lines.value(1).isEmpty(), qPrintable(lines.value(1)));
        QVERIFY2(!QFileInfo::exists(lines.value(1)), "the folder outlived the run");
    }

    /// The terminal tool killed during an encode takes lame with it.
    void lameDiesWithItsCaller()
    {
        const auto wav = m_dir.filePath(QStringLiteral("long.wav"));
        QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                                   {"-v", "error", "-y", "-f", "lavfi", "-i",
                                    "sine=frequency=440:sample_rate=48000:duration=900", "-ac", "2", wav}),
                 0);
        QProcess tool;
        tool.start(qEnvironmentVariable("VESPERTONE_TOOL"),
                   {QStringLiteral("encode-mp3"), wav, m_dir.filePath(QStringLiteral("long.mp3"))});
        QVERIFY(tool.waitForStarted());
        qint64 lame = 0;
        QVERIFY(QTest::qWaitFor([&] { return (lame = childNamed(tool.processId(), "lame")) > 0; }, 20000));
        ::kill(pid_t(tool.processId()), SIGKILL);
        QVERIFY(tool.waitForFinished());
        const bool gone = QTest::qWaitFor([&] { return !isRunning(lame); }, 5000);
        if (!gone)
            ::kill(pid_t(lame), SIGKILL);
        QVERIFY2(gone, "lame outlived the tool");
        QFile::remove(wav);
    }

    void realLameEncodesAtConstantBitRate()
    {
        MP3EncoderService service; // the build tree's Encoders folder
        QVERIFY2(service.isAvailable(), qPrintable(MP3EncoderService::defaultEncodersFolder()));
        const auto wav = AudioFixtures::tone(m_dir.filePath(QStringLiteral("four.wav")), 4.0);
        for (auto rate : {AudioBitRate::kbps128, AudioBitRate::kbps320}) {
            const auto mp3 = m_dir.filePath(QStringLiteral("tone %1.mp3").arg(AudioBitRates::rawValue(rate)));
            QCOMPARE(finish(service.encode(wav, mp3, rate)), mp3);
            QVERIFY(std::abs(AudioFileReader(mp3).length() - 4 * 48000) < 48000 / 10);
            // Constant bit rate: the size follows the rate.
            const auto expected = AudioBitRates::rawValue(rate) / 8 * 4;
            QVERIFY2(std::abs(QFileInfo(mp3).size() - expected) < expected / 10,
                     qPrintable(QString::number(QFileInfo(mp3).size())));
        }
    }
};

QTEST_GUILESS_MAIN(TestMP3Encoder)
#include "test_mp3_encoder.moc"
