// The lame-backed MP3 encoder: command line, exit status, diagnostics, missing encoders.

#include "media/AudioFileReader.h"
#include "media/MP3EncoderError.h"
#include "media/MP3EncoderService.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <qcoro/qcorotask.h>

namespace {

/// Writes an executable (or not) shell script named "lame" into \a folder.
QString writeEncoder(const QString &folder, const QByteArray &body, bool executable = true)
{
    const auto path = folder + QStringLiteral("/lame");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write("#!/bin/sh\n" + body);
    file.close();
    auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    file.setPermissions(permissions);
    return path;
}

/// What encode threw: the MP3EncoderError code (none for another AppError) and the message.
struct Failure {
    std::optional<MP3EncoderError::Code> code;
    QString text;
};

std::optional<Failure> failure(MP3EncoderService &service, const QString &wav, const QString &mp3)
{
    try {
        finish(service.encode(wav, mp3, AudioBitRate::kbps128));
    } catch (const MP3EncoderError &error) {
        return Failure{error.code(), error.text()};
    } catch (const AppError &error) {
        return Failure{std::nullopt, error.text()};
    }
    return std::nullopt;
}

} // namespace

class TestMP3Encoder : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    [[nodiscard]] QString encoders() const { return m_dir.filePath(QStringLiteral("Encoders")); }
    [[nodiscard]] QString in() const { return m_dir.filePath(QStringLiteral("in.wav")); }
    [[nodiscard]] QString out() const { return m_dir.filePath(QStringLiteral("out.mp3")); }
    /// A fresh folder named \a name.
    [[nodiscard]] QString folder(const QString &name) const
    {
        const auto path = m_dir.filePath(name);
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }

private slots:
    void init() { (void)folder(QStringLiteral("Encoders")); }

    void passesExactArgumentList()
    {
        const auto log = m_dir.filePath(QStringLiteral("arguments.txt"));
        writeEncoder(encoders(),
                     "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + log.toUtf8() + "'; done\nprintf x > \"$6\"\n");
        const auto wav = m_dir.filePath(QStringLiteral("My Take.wav"));
        const auto mp3 = m_dir.filePath(QStringLiteral("My Take.mp3"));
        MP3EncoderService service(encoders());
        for (const auto &[rate, kbps] :
             {std::pair{AudioBitRate::kbps128, "128"}, std::pair{AudioBitRate::kbps192, "192"},
              std::pair{AudioBitRate::kbps256, "256"}, std::pair{AudioBitRate::kbps320, "320"}}) {
            QFile::remove(log);
            QCOMPARE(finish(service.encode(wav, mp3, rate)), mp3);
            QFile file(log);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts),
                     (QStringList{"--silent", "--cbr", "-b", kbps, wav, mp3}));
        }
    }

    void reportsEncoderFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("message");
        const QString failed = QStringLiteral("MP3 encoding failed.");
        QTest::newRow("one line") << QByteArray("echo 'Could not find \"x.wav\".' >&2\nexit 1\n")
                                  << QStringLiteral("Could not find \"x.wav\".");
        QTest::newRow("silent") << QByteArray("exit 2\n") << failed;
        QTest::newRow("padded lines") << QByteArray("printf '\\n  first\\nsecond \\n\\n' >&2\nexit 3\n")
                                      << QStringLiteral("first\nsecond");
        QTest::newRow("only blanks") << QByteArray("printf ' \\n\\t\\n' >&2\nexit 1\n") << failed;
        QTest::newRow("not utf-8") << QByteArray("printf 'bad \\377\\376 bytes' >&2\nexit 1\n") << failed;
        QTest::newRow("killed") << QByteArray("echo dying >&2\nkill -9 $$\n") << QStringLiteral("dying");
        QTest::newRow("success without file") << QByteArray("exit 0\n") << failed;
        QTest::newRow("stdout ignored") << QByteArray("echo 'progress output'\nexit 1\n") << failed;
    }

    void reportsEncoderFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, message);
        writeEncoder(encoders(), script);
        MP3EncoderService service(encoders());
        QVERIFY(service.isAvailable());
        const auto thrown = failure(service, in(), out());
        QVERIFY(thrown);
        QCOMPARE(thrown->code, MP3EncoderError::Code::encodingFailed);
        QCOMPARE(thrown->text, message);
    }

    void unusableEncoders()
    {
        const QString missing = QStringLiteral("The bundled LAME MP3 encoder is missing.");
        MP3EncoderService none(encoders());
        QVERIFY(!none.encoderLocation());
        QVERIFY(!none.isAvailable());
        auto thrown = failure(none, in(), out());
        QVERIFY(thrown);
        QCOMPARE(thrown->code, MP3EncoderError::Code::missingEncoder);
        QCOMPARE(thrown->text, missing);
        writeEncoder(encoders(), "exit 0\n"); // the location is looked up on every call
        QVERIFY(none.isAvailable());

        // A dangling link or a directory is no encoder.
        const auto linked = folder(QStringLiteral("linked"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), linked + QStringLiteral("/lame")));
        MP3EncoderService dangling(linked);
        QVERIFY(!dangling.isAvailable());
        QCOMPARE(failure(dangling, in(), out())->text, missing);
        const auto directory = folder(QStringLiteral("directory"));
        QVERIFY(QDir().mkpath(directory + QStringLiteral("/lame")));
        QVERIFY(!MP3EncoderService(directory).isAvailable());

        // Found but not executable: a launch failure, not the encoder's own failure.
        MP3EncoderService script(QFileInfo(writeEncoder(folder(QStringLiteral("script")), "exit 0\n", false)).path());
        QVERIFY(script.encoderLocation());
        QVERIFY(!script.isAvailable());
        thrown = failure(script, in(), out());
        QVERIFY(thrown);
        QCOMPARE(thrown->code, std::nullopt);
        QVERIFY2(thrown->text.contains(QStringLiteral("could not be started")), qPrintable(thrown->text));
    }

    void guiThreadRunsWhileEncoding()
    {
        // The fake encoder waits for a file that only the GUI thread's event loop creates.
        const auto flag = m_dir.filePath(QStringLiteral("go"));
        writeEncoder(encoders(), "while [ ! -e '" + flag.toUtf8() + "' ]; do sleep 0.01; done\nprintf x > \"$6\"\n");
        MP3EncoderService service(encoders());
        auto task = service.encode(QStringLiteral("/in.wav"), out(), AudioBitRate::kbps128);
        QTimer::singleShot(0, this, [&] {
            QFile file(flag);
            QVERIFY(file.open(QIODevice::WriteOnly));
        });
        QCOMPARE(finish(std::move(task)), out());
    }

    void realLameEncodesAtConstantBitRate()
    {
        MP3EncoderService service; // the build tree's Encoders folder
        QVERIFY2(service.isAvailable(), qPrintable(MP3EncoderService::defaultEncodersFolder()));
        const auto wav = AudioFixtures::tone(m_dir.filePath(QStringLiteral("tone with space.wav")), 4.0);

        qint64 previousSize = 0;
        for (auto rate : {AudioBitRate::kbps128, AudioBitRate::kbps320}) {
            const auto mp3 = m_dir.filePath(QStringLiteral("tone %1.mp3").arg(AudioBitRates::rawValue(rate)));
            QCOMPARE(finish(service.encode(wav, mp3, rate)), mp3);
            AudioFileReader reader(mp3);
            QCOMPARE(reader.sampleRate(), 48000.0);
            QCOMPARE(reader.channelCount(), 2);
            QVERIFY2(std::abs(reader.length() - 4 * 48000) < 48000 / 10, qPrintable(QString::number(reader.length())));
            // Constant bit rate: the size follows the rate.
            const auto expected = AudioBitRates::rawValue(rate) / 8 * 4;
            const auto size = QFileInfo(mp3).size();
            QVERIFY2(std::abs(size - expected) < expected / 10, qPrintable(QString::number(size)));
            QVERIFY(size > previousSize);
            previousSize = size;
        }
        QVERIFY(QFileInfo::exists(wav)); // the source is kept

        // Unreadable input: lame's own one-line diagnostic, and no output.
        const auto absent = m_dir.filePath(QStringLiteral("absent.mp3"));
        const auto thrown = failure(service, m_dir.filePath(QStringLiteral("absent.wav")), absent);
        QVERIFY(thrown && !thrown->text.isEmpty());
        QVERIFY(!thrown->text.endsWith(u'\n'));
        QVERIFY(!QFileInfo::exists(absent));
    }
};

QTEST_GUILESS_MAIN(TestMP3Encoder)
#include "test_mp3_encoder.moc"
