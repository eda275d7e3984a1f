// Capture state and output settings: what parses and what compares equal.

#include "capture/CaptureState.h"
#include "capture/RecordingEncodingSettings.h"

#include <QTest>

class CaptureSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void parsesOnlyExactRawValues()
    {
        for (const auto &raw : {"AACM4A", "aacm4a", "", "mp3", "aiff", "wav", " wavPCM"})
            QCOMPARE(RecordingOutputFormats::fromRawValue(QString::fromLatin1(raw)), std::nullopt);
        for (long long raw : {0LL, 128LL, 96000LL, 128001LL, -128000LL})
            QCOMPARE(AudioBitRates::fromRawValue(raw), std::nullopt);
        for (const auto format : RecordingOutputFormats::all)
            QCOMPARE(RecordingOutputFormats::fromRawValue(RecordingOutputFormats::rawValue(format)), format);
    }

    void valuesCompareByPayload()
    {
        const auto start = QDateTime::fromSecsSinceEpoch(1000);
        QCOMPARE(CaptureState::idle(), CaptureState());
        QVERIFY(CaptureState::failed("a") != CaptureState::failed("b"));
        QVERIFY(CaptureState::recording(start) != CaptureState::recording(start.addSecs(1)));
        QVERIFY(CaptureState::preparing() != CaptureState::finishing());
        const RecordingEncodingSettings a{RecordingOutputFormat::wavPCM, AudioBitRate::kbps192, 48000, 2};
        auto b = a;
        b.sampleRate = 44100;
        QVERIFY(a != b);
    }
};

QTEST_GUILESS_MAIN(CaptureSettingsTest)
#include "test_capture_settings.moc"
