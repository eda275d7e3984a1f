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

/// The message of the exception \a encode throws, or a null text when it succeeds.
QString failureText(MP3EncoderService &service, const QString &wav, const QString &mp3)
{
    try {
        finish(service.encode(wav, mp3, AudioBitRate::kbps192));
    } catch (const std::exception &error) {
        return errorText(error);
    }
    return {};
}

} // namespace

class TestMP3Encoder : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    [[nodiscard]] QString encoders() const { return m_dir.filePath(QStringLiteral("Encoders")); }

private slots:
    void init()
    {
        QDir(encoders()).removeRecursively();
        QDir().mkpath(encoders());
    }

    void passesExactArgumentList_data()
    {
        QTest::addColumn<AudioBitRate>("rate");
        QTest::addColumn<QString>("kbps");
        QTest::newRow("128") << AudioBitRate::kbps128 << QStringLiteral("128");
        QTest::newRow("192") << AudioBitRate::kbps192 << QStringLiteral("192");
        QTest::newRow("256") << AudioBitRate::kbps256 << QStringLiteral("256");
        QTest::newRow("320") << AudioBitRate::kbps320 << QStringLiteral("320");
    }

    void passesExactArgumentList()
    {
        QFETCH(AudioBitRate, rate);
        QFETCH(QString, kbps);
        const auto log = m_dir.filePath(QStringLiteral("arguments.txt"));
        writeEncoder(encoders(), "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + log.toUtf8()
                                     + "'; done\nprintf x > \"$6\"\n");
        QFile::remove(log);
        const auto wav = m_dir.filePath(QStringLiteral("My Take.wav"));
        const auto mp3 = m_dir.filePath(QStringLiteral("My Take.mp3"));
        MP3EncoderService service(encoders());

        QCOMPARE(finish(service.encode(wav, mp3, rate)), mp3);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto received = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(received, (QStringList{QStringLiteral("--silent"), QStringLiteral("--cbr"), QStringLiteral("-b"), kbps,
                                        wav, mp3}));
    }

    void reportsEncoderFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("one line") << QByteArray("echo 'Could not find \"x.wav\".' >&2\nexit 1\n")
                                  << QStringLiteral("Could not find \"x.wav\".");
        QTest::newRow("silent") << QByteArray("exit 2\n") << QStringLiteral("MP3 encoding failed.");
        QTest::newRow("padded lines") << QByteArray("printf '\\n  first\\nsecond \\n\\n' >&2\nexit 3\n")
                                      << QStringLiteral("first\nsecond");
        QTest::newRow("only blanks") << QByteArray("printf ' \\n\\t\\n' >&2\nexit 1\n")
                                     << QStringLiteral("MP3 encoding failed.");
        QTest::newRow("not utf-8") << QByteArray("printf 'bad \\377\\376 bytes' >&2\nexit 1\n")
                                   << QStringLiteral("MP3 encoding failed.");
        QTest::newRow("killed") << QByteArray("echo dying >&2\nkill -9 $$\n") << QStringLiteral("dying");
        QTest::newRow("success without file") << QByteArray("exit 0\n") << QStringLiteral("MP3 encoding failed.");
        QTest::newRow("stdout ignored") << QByteArray("echo 'progress output'\nexit 1\n")
                                        << QStringLiteral("MP3 encoding failed.");
    }

    void reportsEncoderFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, message);
        writeEncoder(encoders(), script);
        MP3EncoderService service(encoders());
        QVERIFY(service.isAvailable());

        try {
            finish(service.encode(m_dir.filePath(QStringLiteral("in.wav")),
                                          m_dir.filePath(QStringLiteral("out.mp3")), AudioBitRate::kbps128));
            QFAIL("encode succeeded");
        } catch (const MP3EncoderError &error) {
            QCOMPARE(error.code(), MP3EncoderError::Code::encodingFailed);
            QCOMPARE(error.text(), message);
        }
    }

    void missingEncoder()
    {
        MP3EncoderService service(encoders());
        QVERIFY(!service.encoderLocation());
        QVERIFY(!service.isAvailable());
        try {
            finish(service.encode(m_dir.filePath(QStringLiteral("in.wav")),
                                          m_dir.filePath(QStringLiteral("out.mp3")), AudioBitRate::kbps128));
            QFAIL("encode succeeded");
        } catch (const MP3EncoderError &error) {
            QCOMPARE(error.code(), MP3EncoderError::Code::missingEncoder);
            QCOMPARE(error.text(), QStringLiteral("The bundled LAME MP3 encoder is missing."));
        }

        // The location is looked up on every call.
        writeEncoder(encoders(), "exit 0\n");
        QVERIFY(service.isAvailable());
    }

    void danglingLinkCountsAsMissing()
    {
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), encoders() + QStringLiteral("/lame")));
        MP3EncoderService service(encoders());
        QVERIFY(!service.isAvailable());
        QCOMPARE(failureText(service, QStringLiteral("/x.wav"), QStringLiteral("/x.mp3")),
                 QStringLiteral("The bundled LAME MP3 encoder is missing."));
    }

    void directoryIsNotAnEncoder()
    {
        QVERIFY(QDir().mkpath(encoders() + QStringLiteral("/lame")));
        QVERIFY(!MP3EncoderService(encoders()).isAvailable());
    }

    void nonExecutableEncoderFailsToLaunch()
    {
        writeEncoder(encoders(), "exit 0\n", false);
        MP3EncoderService service(encoders());
        QVERIFY(service.encoderLocation());
        QVERIFY(!service.isAvailable());
        try {
            finish(service.encode(m_dir.filePath(QStringLiteral("in.wav")),
                                          m_dir.filePath(QStringLiteral("out.mp3")), AudioBitRate::kbps128));
            QFAIL("encode succeeded");
        } catch (const MP3EncoderError &error) {
            QFAIL(qPrintable(QStringLiteral("launch failure reported as encoder error: ") + error.text()));
        } catch (const AppError &error) {
            QVERIFY2(error.text().contains(QStringLiteral("could not be started")), qPrintable(error.text()));
        }
    }

    void guiThreadRunsWhileEncoding()
    {
        // The fake encoder waits for a file that only the GUI thread's event loop creates.
        const auto flag = m_dir.filePath(QStringLiteral("go"));
        writeEncoder(encoders(), "while [ ! -e '" + flag.toUtf8() + "' ]; do sleep 0.01; done\nprintf x > \"$6\"\n");
        MP3EncoderService service(encoders());
        auto task = service.encode(QStringLiteral("/in.wav"), m_dir.filePath(QStringLiteral("out.mp3")),
                                   AudioBitRate::kbps128);
        QTimer::singleShot(0, this, [&] {
            QFile file(flag);
            QVERIFY(file.open(QIODevice::WriteOnly));
        });
        QCOMPARE(finish(std::move(task)), m_dir.filePath(QStringLiteral("out.mp3")));
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
    }

    void realLameRejectsUnreadableInput()
    {
        MP3EncoderService service;
        const auto text = failureText(service, m_dir.filePath(QStringLiteral("absent.wav")),
                                      m_dir.filePath(QStringLiteral("absent.mp3")));
        QVERIFY(!text.isEmpty());
        QVERIFY(!text.endsWith(u'\n'));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("absent.mp3"))));
    }
};

QTEST_GUILESS_MAIN(TestMP3Encoder)
#include "test_mp3_encoder.moc"
