// The source context of a system-audio take: which application plays on the default output,
// with a scripted stream list and against the test PulseAudio daemon.

#include "import/SourceContextService.h"
#include "platform/PulseSoundServer.h"
#include "platform/SoundServerError.h"
#include "support/AudioFixtures.h"
#include "support/FakeClock.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

/// A sound server that lists the streams a test sets.
class ListedStreams final : public SoundServer {
public:
    std::vector<PlaybackStream> streams;
    bool reachable = true;

    std::unique_ptr<CaptureSource> openCapture(CaptureDevice, int, int, CaptureSource::Handlers) override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
    std::vector<PlaybackStream> playbackStreams() override
    {
        if (!reachable)
            throw SoundServerError(SoundServerError::Code::unreachable);
        return streams;
    }
};

PlaybackStream playing(quint32 index, const QString &name, std::optional<qint64> processId = std::nullopt)
{
    PlaybackStream stream;
    stream.index = index;
    stream.onDefaultSink = true;
    stream.appName = name;
    stream.applicationId = QStringLiteral("org.example.") + name;
    stream.processBinary = name.toLower();
    stream.processId = processId;
    stream.mediaName = name + QStringLiteral(" track");
    return stream;
}

RunningApplication application(std::optional<qint64> pid, std::optional<QString> name,
                               std::optional<QString> bundle = std::nullopt)
{
    return {pid, std::move(name), std::move(bundle)};
}

std::optional<QString> text(const char *value)
{
    return QString::fromUtf8(value);
}

} // namespace

Q_DECLARE_METATYPE(RunningApplication)

class TestSourceContext : public QObject {
    Q_OBJECT

private:
    ListedStreams m_server;
    FakeClock m_clock;
    SourceContextService m_service{m_server, m_clock};

    [[nodiscard]] std::optional<QString> bestApp(const std::optional<RunningApplication> &front = std::nullopt,
                                                 const std::optional<QString> &ignoring = std::nullopt) const
    {
        const auto context = m_service.bestCandidate(front, ignoring);
        return context ? context->appName : std::optional<QString>(QStringLiteral("<none>"));
    }

private slots:
    void init()
    {
        m_server.streams.clear();
        m_server.reachable = true;
    }

    void streamPropertiesBecomeTheContext()
    {
        m_server.streams = {playing(7, QStringLiteral("Radio"), 4242)};
        auto context = m_service.bestCandidate(std::nullopt, std::nullopt);
        QVERIFY(context);
        QCOMPARE(context->appName, text("Radio"));
        QCOMPARE(context->bundleIdentifier, text("org.example.Radio"));
        QCOMPARE(context->windowTitle, text("Radio track"));
        QVERIFY(!context->urlString);
        QCOMPARE(context->capturedAt, m_clock.now());

        // Missing properties fall back to the process binary.
        m_server.streams[0].appName.reset();
        m_server.streams[0].applicationId.reset();
        m_server.streams[0].mediaName.reset();
        context = m_service.bestCandidate(std::nullopt, std::nullopt);
        QVERIFY(context);
        QCOMPARE(context->appName, text("radio"));
        QCOMPARE(context->bundleIdentifier, text("radio"));
        QVERIFY(!context->windowTitle);
    }

    void onlyRunningStreamsOnTheDefaultSinkCount()
    {
        auto corked = playing(9, QStringLiteral("Paused"));
        corked.corked = true;
        auto elsewhere = playing(8, QStringLiteral("Headset"));
        elsewhere.onDefaultSink = false;
        auto anonymous = playing(7, QStringLiteral("Anonymous"));
        anonymous.appName.reset();
        anonymous.processBinary.reset();
        m_server.streams = {playing(1, QStringLiteral("Radio")), corked, elsewhere, anonymous};
        QCOMPARE(bestApp(), text("Radio"));
        m_server.streams = {corked, elsewhere, anonymous};
        QCOMPARE(bestApp(), text("<none>"));
    }

    void frontApplicationWinsAmongSeveral_data()
    {
        QTest::addColumn<RunningApplication>("front");
        QTest::addColumn<QString>("expected");
        QTest::newRow("by process") << application(100, std::nullopt) << QStringLiteral("Old");
        QTest::newRow("by name, any case") << application(std::nullopt, QStringLiteral("old")) << QStringLiteral("Old");
        QTest::newRow("by identifier") << application(std::nullopt, std::nullopt, QStringLiteral("org.example.Old"))
                                       << QStringLiteral("Old");
        QTest::newRow("not playing: newest") << application(300, QStringLiteral("Editor")) << QStringLiteral("New");
    }
    void frontApplicationWinsAmongSeveral()
    {
        QFETCH(RunningApplication, front);
        QFETCH(QString, expected);
        m_server.streams = {playing(3, QStringLiteral("Old"), 100), playing(12, QStringLiteral("New"), 200),
                            playing(5, QStringLiteral("Middle"), 150)};
        QCOMPARE(bestApp(front), std::optional(expected));
        QCOMPARE(bestApp(), text("New"));
    }

    void ignoredApplicationNeverCounts()
    {
        m_server.streams = {playing(3, QStringLiteral("Radio")), playing(4, QStringLiteral("Vespertone"))};
        const auto own = text("org.example.Vespertone");
        QCOMPARE(bestApp(std::nullopt, own), text("Radio"));
        QCOMPARE(bestApp(application(std::nullopt, QStringLiteral("Vespertone")), own), text("Radio"));
        m_server.streams = {playing(4, QStringLiteral("Vespertone"))};
        QCOMPARE(bestApp(application(1, QStringLiteral("Vespertone"), own), own), text("<none>"));
    }

    void withNothingPlayingTheFrontApplicationIsTheSource()
    {
        const auto front = application(55, QStringLiteral("Player"), QStringLiteral("org.example.Player"));
        const auto context = m_service.bestCandidate(front, std::nullopt);
        QVERIFY(context);
        QCOMPARE(context->appName, text("Player"));
        QCOMPARE(context->bundleIdentifier, text("org.example.Player"));
        QVERIFY(!context->windowTitle);
        QCOMPARE(bestApp(application(55, std::nullopt, QStringLiteral("org.example.Player"))), text("<none>"));
        m_server.reachable = false;
        QCOMPARE(bestApp(front), text("Player"));
        QCOMPARE(bestApp(), text("<none>"));
    }

    void readsTheRealServersStreams()
    {
        try {
            (void)PulseSoundServer().playbackStreams();
        } catch (const std::exception &) {
            QSKIP("No PulseAudio server answers (PULSE_SERVER, pactl info): run under scripts/with-test-services.sh");
        }
        if (QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("paplay (pulseaudio-utils) is not installed");
        QTemporaryDir dir;
        const auto tone = AudioFixtures::tone(dir.filePath(QStringLiteral("tone.wav")), 30, 440, 0.1);
        auto play = [&](QProcess &player, const QString &name, const QString &title, const QString &sink) {
            player.start(QStringLiteral("paplay"),
                         {QStringLiteral("--client-name=") + name, QStringLiteral("--stream-name=") + title,
                          QStringLiteral("--property=application.id=org.example.") + name,
                          QStringLiteral("--device=") + sink, tone});
            QVERIFY(player.waitForStarted());
        };
        QProcess first, second, elsewhere;
        PulseSoundServer server;
        SourceContextService service(server, m_clock);
        auto appNow = [&](const std::optional<RunningApplication> &front, const std::optional<QString> &ignoring) {
            const auto context = service.bestCandidate(front, ignoring);
            return context ? context->appName : std::nullopt;
        };
        play(first, QStringLiteral("ToneApp"), QStringLiteral("Evening Raga"), QStringLiteral("@DEFAULT_SINK@"));
        QTRY_COMPARE_WITH_TIMEOUT(appNow(std::nullopt, std::nullopt), text("ToneApp"), 10000);
        const auto context = *service.bestCandidate(std::nullopt, std::nullopt);
        QCOMPARE(context.bundleIdentifier, text("org.example.ToneApp"));
        QCOMPARE(context.windowTitle, text("Evening Raga"));

        play(elsewhere, QStringLiteral("MicApp"), QStringLiteral("Voice"), QStringLiteral("mic_feed"));
        play(second, QStringLiteral("OtherApp"), QStringLiteral("Morning"), QStringLiteral("@DEFAULT_SINK@"));
        QTRY_COMPARE_WITH_TIMEOUT(appNow(std::nullopt, std::nullopt), text("OtherApp"), 10000);
        QCOMPARE(appNow(application(first.processId(), std::nullopt), std::nullopt), text("ToneApp"));
        // A stream on another sink is not what the take records.
        QCOMPARE(appNow(application(std::nullopt, QStringLiteral("MicApp")), std::nullopt), text("OtherApp"));
        QCOMPARE(appNow(std::nullopt, QStringLiteral("org.example.OtherApp")), text("ToneApp"));
        for (auto *player : {&first, &second, &elsewhere}) {
            player->kill();
            player->waitForFinished();
        }
    }
};

QTEST_GUILESS_MAIN(TestSourceContext)
#include "test_source_context.moc"
