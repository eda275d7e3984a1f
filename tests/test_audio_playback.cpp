// Playback: the feeder's loop seams against the decoded file, and real playback into the test
// daemon's default sink (scripts/with-test-services.sh), recorded from its monitor.

#include "media/AudioFileReader.h"
#include "media/AudioPlaybackService.h"
#include "media/PlaybackFeeder.h"
#include "media/PlaybackSegments.h"
#include "platform/PulseAudioOutput.h"
#include "platform/PulseSoundServer.h"
#include "support/AudioFixtures.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int rate = 48000;

/// Every frame of \a path, interleaved.
std::vector<float> decodeAll(const QString &path)
{
    AudioFileReader reader(path);
    AudioBuffer buffer;
    std::vector<float> all;
    while (const auto frames = reader.read(buffer, 8192))
        for (qint64 frame = 0; frame < frames; ++frame)
            for (const auto &channel : buffer.channels)
                all.push_back(channel[std::size_t(frame)]);
    return all;
}

/// The first channel of the default sink's monitor, with when each buffer arrived.
class MonitorRecorder {
public:
    MonitorRecorder()
    {
        PulseSoundServer server;
        m_source = server.openCapture(SoundServer::CaptureDevice::defaultSinkMonitor, rate, 2,
                                      {[this](CaptureBuffer &&buffer) { add(buffer); }, [] {}});
    }

    [[nodiscard]] qint64 frames()
    {
        const std::lock_guard lock(m_mutex);
        return qint64(m_samples.size());
    }
    /// Frames where a click begins: a loud sample after at least 20 ms of quiet.
    [[nodiscard]] std::vector<qint64> onsets(qint64 from = 0)
    {
        const std::lock_guard lock(m_mutex);
        std::vector<qint64> found;
        qint64 quiet = rate;
        for (auto frame = std::size_t(from); frame < m_samples.size(); ++frame) {
            if (std::abs(m_samples[frame]) > 0.3f) {
                if (quiet >= rate / 50)
                    found.push_back(qint64(frame));
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        return found;
    }
    /// The last frame louder than \a level.
    [[nodiscard]] qint64 lastLoud(float level)
    {
        const std::lock_guard lock(m_mutex);
        for (auto frame = qint64(m_samples.size()) - 1; frame >= 0; --frame)
            if (std::abs(m_samples[std::size_t(frame)]) > level)
                return frame;
        return -1;
    }
    /// When \a frame was heard: its buffer's arrival, less the frames after it in that buffer.
    [[nodiscard]] Clock::time_point heardAt(qint64 frame)
    {
        const std::lock_guard lock(m_mutex);
        for (const auto &[end, time] : m_arrivals)
            if (end > frame)
                return time - std::chrono::microseconds((end - frame) * 1000000 / rate);
        return Clock::now();
    }

private:
    void add(const CaptureBuffer &buffer)
    {
        const auto now = Clock::now();
        const std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < buffer.samples.size(); i += 2)
            m_samples.push_back(buffer.samples[i]);
        m_arrivals.emplace_back(qint64(m_samples.size()), now);
    }

    std::mutex m_mutex;
    std::vector<float> m_samples;
    std::vector<std::pair<qint64, Clock::time_point>> m_arrivals;
    std::unique_ptr<CaptureSource> m_source;
};

using Samples = std::vector<std::pair<Clock::time_point, double>>;

/// How far the published time was from each click when the monitor heard it: the values
/// published around that moment, interpolated (\a loop long loops folded in), against the
/// nearest time of the click grid \a firstClick + k × \a spacing.
std::vector<double> publishedOffsets(MonitorRecorder &recorder, const std::vector<qint64> &onsets,
                                     const Samples &samples, double firstClick, double spacing, double loop = 0)
{
    std::vector<double> offsets;
    for (const auto onset : onsets) {
        const auto heard = recorder.heardAt(onset);
        const auto after =
            std::find_if(samples.begin(), samples.end(), [&](const auto &sample) { return sample.first > heard; });
        if (after == samples.begin() || after == samples.end())
            continue;
        const auto &[beforeTime, beforeValue] = *std::prev(after);
        auto afterValue = after->second;
        if (afterValue < beforeValue)
            afterValue += loop;
        const auto fraction = std::chrono::duration<double>(heard - beforeTime).count()
            / std::chrono::duration<double>(after->first - beforeTime).count();
        offsets.push_back(std::remainder(beforeValue + (afterValue - beforeValue) * fraction - firstClick, spacing));
    }
    return offsets;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

/// The offsets of clicks every 0.5 s written straight into a playback stream after 0.3 s of
/// silence, against the stream's own clock: what the monitor path adds.
std::vector<double> referenceOffsets(MonitorRecorder &recorder)
{
    constexpr qint64 lead = rate * 3 / 10;
    constexpr qint64 spacing = rate / 2;
    std::vector<float> audio(std::size_t(lead + 6 * spacing) * 2, 0.0f);
    for (qint64 click = 0; click < 6; ++click)
        for (qint64 i = 0; i < rate / 200; ++i)
            audio[std::size_t(lead + click * spacing + i) * 2] =
                audio[std::size_t(lead + click * spacing + i) * 2 + 1] =
                    float(0.9 * std::exp(-double(i) / 48) * (i % 2 ? 1 : -1));
    const auto from = recorder.frames();
    PulseAudioOutput output({}, rate, 2);
    Samples samples;
    qint64 written = 0;
    const auto total = qint64(audio.size() / 2);
    const auto end = Clock::now() + std::chrono::milliseconds(4000);
    while (Clock::now() < end) {
        const auto frames = std::min(output.writableFrames(), total - written);
        if (frames > 0) {
            output.write(audio.data() + written * 2, frames);
            written += frames;
            if (written == total)
                output.flushOut();
        }
        samples.emplace_back(Clock::now(), double(output.heardFrame()) / rate);
        output.waitForRequest(std::chrono::milliseconds(5));
    }
    return publishedOffsets(recorder, recorder.onsets(from), samples, 0.3, 0.5);
}
} // namespace

class TestAudioPlayback : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_clicks;     ///< 6 s of clicks every 0.125 s (6000 frames)
    QString m_slowClicks; ///< 6 s of clicks every 0.5 s (24000 frames)
    QString m_tone;
    bool m_pulse = false;

    void requirePulse()
    {
        if (!m_pulse)
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
    }

private slots:
    void initTestCase()
    {
        m_clicks = AudioFixtures::clickTrack(m_dir.filePath(QStringLiteral("clicks.wav")), 6, 480);
        m_slowClicks = AudioFixtures::clickTrack(m_dir.filePath(QStringLiteral("slow clicks.wav")), 6, 120);
        m_tone = AudioFixtures::tone(m_dir.filePath(QStringLiteral("tone.wav")), 4, 440, 0.5);
        m_pulse = serverAnswers() && warmUp(SoundServer::CaptureDevice::defaultSinkMonitor);
    }

    void normalisesTheSelection_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end"); // NaN: none
        QTest::addColumn<double>("expectedStart");
        QTest::addColumn<double>("expectedEnd"); // NaN: none
        const auto none = std::nan("");
        QTest::newRow("negative start") << -2.0 << 5.0 << 0.0 << 5.0;
        QTest::newRow("end equal to start") << 3.0 << 3.0 << 3.0 << none;
        QTest::newRow("end before start") << 3.0 << 1.0 << 3.0 << none;
        QTest::newRow("undefined start") << none << 2.0 << 0.0 << 2.0;
        QTest::newRow("no end") << 1.0 << none << 1.0 << none;
    }
    void normalisesTheSelection()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(double, expectedStart);
        QFETCH(double, expectedEnd);
        const auto optional = [](double value) { return std::isnan(value) ? std::nullopt : std::optional(value); };
        const auto selection = PlaybackSelection::normalized(start, optional(end), true);
        QCOMPARE(selection, (PlaybackSelection{expectedStart, optional(expectedEnd), true}));
    }

    void feedsLoopsSampleAccurately_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end"); // NaN: to the file's end
        QTest::addColumn<bool>("loop");
        QTest::addColumn<qint64>("chunk");
        QTest::addColumn<qint64>("expectedFrames");
        const auto none = std::nan("");
        // 0.3 s is 14400 frames: chunks that do not divide it put the seam inside a buffer.
        QTest::newRow("loop, odd chunks") << 1.0 << 1.3 << true << qint64(4097) << qint64(50000);
        QTest::newRow("loop, tiny chunks") << 0.0 << 0.01 << true << qint64(7) << qint64(50000);
        QTest::newRow("once to the end") << 5.5 << none << false << qint64(1000) << qint64(24000);
        QTest::newRow("end past the file") << 5.0 << 9.0 << false << qint64(3000) << qint64(48000);
        QTest::newRow("loop to the file's end") << 5.75 << none << true << qint64(5000) << qint64(50000);
        QTest::newRow("start past the file") << 7.0 << 8.0 << true << qint64(1000) << qint64(0);
    }
    void feedsLoopsSampleAccurately()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(bool, loop);
        QFETCH(qint64, chunk);
        QFETCH(qint64, expectedFrames);
        const auto file = decodeAll(m_clicks);
        const auto fileFrames = qint64(file.size() / 2);
        AudioFileReader reader(m_clicks);
        PlaybackFeeder feeder(reader);
        const auto selection =
            PlaybackSelection::normalized(start, std::isnan(end) ? std::nullopt : std::optional(end), loop);
        feeder.setSelection(selection);
        feeder.seekToStart();
        PlaybackSegments segments;
        std::vector<float> fed;
        qint64 streamFrame = 0;
        while (streamFrame < 50000 && !feeder.finished()) {
            const auto frames = feeder.fill(fed, std::min(chunk, 50000 - streamFrame), segments, streamFrame);
            if (frames == 0)
                break;
            streamFrame += frames;
        }
        QCOMPARE(streamFrame, expectedFrames);

        // Frame by frame the stream is the file's selection over and over, and the segments
        // map every stream frame back to the file frame it came from.
        const auto first = std::min(qint64(std::llround(start * rate)), fileFrames);
        const auto last = std::isnan(end) ? fileFrames : std::min(qint64(std::llround(end * rate)), fileFrames);
        for (qint64 frame = 0; frame < streamFrame; ++frame) {
            const auto source = first + frame % std::max<qint64>(last - first, 1);
            if (fed[std::size_t(frame * 2)] != file[std::size_t(source * 2)] || segments.fileFrameAt(frame) != source)
                QFAIL(qPrintable(QStringLiteral("stream frame %1 is not file frame %2").arg(frame).arg(source)));
        }
    }

    void loopedClicksStayEvenAcrossSeams()
    {
        requirePulse();
        MonitorRecorder recorder;
        const auto reference = median(referenceOffsets(recorder));
        AudioPlaybackService player;
        Samples times;
        connect(&player, &AudioPlaybackService::currentTimeChanged, this,
                [&](double seconds) { times.emplace_back(Clock::now(), seconds); });
        const auto from = recorder.frames();
        // 1.0...2.0 s: clicks at 1.0 and 1.5 s; the seam follows 0.5 s after the second.
        player.play(m_slowClicks, 1.0, 2.0, true);
        QTRY_VERIFY_WITH_TIMEOUT(player.isPlaying(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.onsets(from).size() >= 9, 10000);
        player.stop();
        QVERIFY(!player.isPlaying());

        // A new stream's first moments reach the monitor unreliably (the sink rewinds to start it
        // early), so the spacing counts from the second click; every seam comes later.
        const auto onsets = recorder.onsets(from);
        for (std::size_t i = 2; i < onsets.size(); ++i)
            QVERIFY2(onsets[i] - onsets[i - 1] == rate / 2,
                     qPrintable(QStringLiteral("click %1 follows %2 frames after the one before")
                                    .arg(i)
                                    .arg(onsets[i] - onsets[i - 1])));

        // When each click was heard the published time named it, as closely as a bare stream's
        // own clock names its clicks through the same monitor.
        QVERIFY2(std::abs(reference) < 0.25, qPrintable(QString::number(reference)));
        const auto offsets = publishedOffsets(recorder, onsets, times, 1.0, 0.5, 1.0);
        QVERIFY(offsets.size() + 2 >= onsets.size());
        qInfo("published time minus heard click: %.1f ms to %.1f ms, the bare stream %.1f ms",
              *std::min_element(offsets.begin(), offsets.end()) * 1000,
              *std::max_element(offsets.begin(), offsets.end()) * 1000, reference * 1000);
        for (std::size_t i = 0; i < offsets.size(); ++i)
            QVERIFY2(std::abs(offsets[i] - reference) < 0.05,
                     qPrintable(QStringLiteral("click %1 published %2 ms off, the bare stream %3 ms")
                                    .arg(i)
                                    .arg(offsets[i] * 1000)
                                    .arg(reference * 1000)));
    }

    void stopSilencesAtOnce()
    {
        requirePulse();
        MonitorRecorder recorder;
        AudioPlaybackService player;
        player.play(m_tone, 0, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(player.isPlaying(), 5000);
        const auto started = recorder.frames();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.lastLoud(0.3f) > started + rate / 2, 5000);
        const auto stopped = Clock::now();
        player.stop();
        player.stop();
        const auto settled = recorder.frames();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.frames() > settled + rate / 2, 5000);
        const auto lastHeard = recorder.heardAt(recorder.lastLoud(0.01f));
        const auto after = std::chrono::duration<double, std::milli>(lastHeard - stopped).count();
        QVERIFY2(after < 40, qPrintable(QStringLiteral("the tone went on %1 ms after the stop").arg(after)));
    }

    void selectionChangesWhilePlaying_data()
    {
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("keepsPlaying");
        QTest::newRow("looping on past the end jumps back") << true << true;
        QTest::newRow("looping off past the end stops") << false << false;
    }
    void selectionChangesWhilePlaying()
    {
        requirePulse();
        QFETCH(bool, loop);
        QFETCH(bool, keepsPlaying);
        AudioPlaybackService player;
        player.play(m_tone, 0, std::nullopt, false);
        QTRY_VERIFY_WITH_TIMEOUT(player.currentTime() > 0.6, 5000);
        player.updateSelection(0.1, 0.4, loop);
        QCOMPARE(player.isPlaying(), keepsPlaying);
        if (keepsPlaying) {
            QTRY_VERIFY_WITH_TIMEOUT(player.currentTime() > 0.2 && player.currentTime() < 0.4, 3000);
            // Still looping a second later, inside the selection.
            QSignalSpy ticks(&player, &AudioPlaybackService::currentTimeChanged);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() > 30, 5000);
            QVERIFY(player.isPlaying() && player.currentTime() >= 0.1 && player.currentTime() < 0.4);
        }
        player.stop();
    }

    void playsToTheEndAndStops()
    {
        requirePulse();
        AudioPlaybackService player;
        QSignalSpy playing(&player, &AudioPlaybackService::isPlayingChanged);
        player.play(m_tone, 3.7, std::nullopt, false);
        QTRY_COMPARE_WITH_TIMEOUT(playing.count(), 2, 5000);
        QVERIFY(!player.isPlaying());
        QVERIFY2(player.currentTime() > 3.9, qPrintable(QString::number(player.currentTime())));
    }

    void failureStopsWithAStatus()
    {
        requirePulse();
        const auto path = m_dir.filePath(QStringLiteral("vanishing.wav"));
        QFile::copy(m_tone, path);
        AudioPlaybackService player;
        QSignalSpy failed(&player, &AudioPlaybackService::failed);
        player.play(m_dir.filePath(QStringLiteral("missing.wav")), 0, std::nullopt, false);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
        QVERIFY(!failed.first().first().toString().isEmpty());
        QVERIFY(!player.isPlaying());

        // A file cut short while it loops: playback ends, with or without a text, never a crash.
        player.play(path, 2.0, 3.5, true);
        QTRY_VERIFY_WITH_TIMEOUT(player.isPlaying(), 5000);
        QVERIFY(QFile::resize(path, 44));
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestAudioPlayback)
#include "test_audio_playback.moc"
