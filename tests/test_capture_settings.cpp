// Capture state and output settings: raw values, titles and writer settings per format.

#include "capture/CaptureState.h"
#include "capture/RecordingEncodingSettings.h"

#include <QTest>

class CaptureSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void parsesOnlyExactRawValues()
    {
        QCOMPARE(RecordingOutputFormats::fromRawValue(QStringLiteral("wavPCM")), RecordingOutputFormat::wavPCM);
        for (const auto &raw : {"AACM4A", "aacm4a", "", "mp3", "aiff", "wav"})
            QCOMPARE(RecordingOutputFormats::fromRawValue(QString::fromLatin1(raw)), std::nullopt);
        QCOMPARE(AudioBitRates::fromRawValue(320000), AudioBitRate::kbps320);
        for (long long raw : {0LL, 128LL, 96000LL, 128001LL, -128000LL})
            QCOMPARE(AudioBitRates::fromRawValue(raw), std::nullopt);
    }

    void namesFormatsAndRates()
    {
        QStringList titles, labels, rates;
        for (auto format : RecordingOutputFormats::all) {
            titles << RecordingOutputFormats::title(format);
            labels << RecordingOutputFormats::shortLabel(format);
            QCOMPARE(RecordingOutputFormats::fromRawValue(RecordingOutputFormats::rawValue(format)), format);
        }
        for (auto rate : AudioBitRates::all)
            rates << AudioBitRates::title(rate);
        QCOMPARE(titles, (QStringList{"AAC (.m4a)", "MP3 (.mp3)", "WAV PCM (.wav)", "AIFF PCM (.aiff)"}));
        QCOMPARE(labels, (QStringList{"M4A", "MP3", "WAV", "AIFF"}));
        QCOMPARE(rates, (QStringList{"128 kbps", "192 kbps", "256 kbps", "320 kbps"}));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(AudioBitRates::rawValue(AudioBitRates::all[i]), 128000 + 64000 * i);
        QVERIFY(RecordingOutputFormats::usesBitRate(RecordingOutputFormat::mp3LAME));
        QVERIFY(!RecordingOutputFormats::usesBitRate(RecordingOutputFormat::aiffPCM));
    }

    void aacSettingsCarryTheBitRate()
    {
        const RecordingEncodingSettings settings{RecordingOutputFormat::aacM4A, AudioBitRate::kbps256, 48000, 2};
        QCOMPARE(settings.pathExtension(), QStringLiteral("m4a"));
        QCOMPARE(settings.fileType(), CaptureFileType::appleM4A);
        const auto output = settings.outputSettings();
        QCOMPARE(output.size(), 4);
        QCOMPARE(output.value("AVFormatIDKey").value<quint32>(), 0x61616320u);
        QCOMPARE(output.value("AVSampleRateKey").toDouble(), 48000.0);
        QCOMPARE(output.value("AVNumberOfChannelsKey").toInt(), 2);
        QCOMPARE(output.value("AVEncoderBitRateKey").toInt(), 256000);
    }

    void pcmSettingsPerFormat_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<CaptureFileType>("fileType");
        QTest::addColumn<bool>("bigEndian");
        QTest::newRow("mp3 captures wav") << RecordingOutputFormat::mp3LAME << "wav" << CaptureFileType::wave << false;
        QTest::newRow("wav") << RecordingOutputFormat::wavPCM << "wav" << CaptureFileType::wave << false;
        QTest::newRow("aiff") << RecordingOutputFormat::aiffPCM << "aiff" << CaptureFileType::aiff << true;
    }

    void pcmSettingsPerFormat()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(QString, extension);
        QFETCH(CaptureFileType, fileType);
        QFETCH(bool, bigEndian);
        const RecordingEncodingSettings settings{format, AudioBitRate::kbps320, 48000, 2};
        QCOMPARE(settings.pathExtension(), extension);
        QCOMPARE(settings.fileType(), fileType);
        const auto output = settings.outputSettings();
        QCOMPARE(output.size(), 7);
        QCOMPARE(output.value("AVFormatIDKey").value<quint32>(), 0x6C70636Du);
        QCOMPARE(output.value("AVLinearPCMBitDepthKey").toInt(), 16);
        QCOMPARE(output.value("AVLinearPCMIsFloatKey").toBool(), false);
        QCOMPARE(output.value("AVLinearPCMIsBigEndianKey").toBool(), bigEndian);
        QCOMPARE(output.value("AVLinearPCMIsNonInterleaved").toBool(), false);
        QVERIFY(!output.contains("AVEncoderBitRateKey"));
    }

    void statesCompareByPayload()
    {
        const auto start = QDateTime::fromSecsSinceEpoch(1000);
        QCOMPARE(CaptureState::idle(), CaptureState());
        QVERIFY(CaptureState::failed("a") != CaptureState::failed("b"));
        QVERIFY(CaptureState::recording(start) != CaptureState::recording(start.addSecs(1)));
        QCOMPARE(CaptureState::recording(start), CaptureState::recording(start));
        QVERIFY(CaptureState::preparing() != CaptureState::finishing());
        const RecordingEncodingSettings a{RecordingOutputFormat::wavPCM, AudioBitRate::kbps192, 48000, 2};
        auto b = a;
        b.sampleRate = 44100;
        QVERIFY(a != b);
    }
};

QTEST_GUILESS_MAIN(CaptureSettingsTest)
#include "test_capture_settings.moc"
