// The source context of a system-audio take: which application plays on the default output,
// with a scripted stream list and against the test PulseAudio daemon, also from pool threads.

#include "import/SourceContextService.h"
#include "platform/PulseSoundServer.h"
#include "platform/SoundServerError.h"
#include "support/FakeClock.h"
#include "support/FakeSoundServer.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"

#include <QLocalServer>
#include <QStandardPaths>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

namespace {
PlaybackStream playing(quint32 index, const QString &name, std::optional<qint64> processId = std::nullopt)
{
    return {index, false, true, name, "org.example." + name, name.toLower(), processId, name + " track"};
}
RunningApplication application(std::optional<qint64> pid, std::optional<QString> name,
                               std::optional<QString> bundle = std::nullopt)
{
    return {pid, std::move(name), std::move(bundle)};
}
} // namespace

Q_DECLARE_METATYPE(RunningApplication)

class TestSourceContext : public QObject {
    Q_OBJECT

    FakeSoundServer m_server;
    FakeClock m_clock;
    SourceContextService m_service{m_server, m_clock};

    [[nodiscard]] QString bestApp(const std::optional<RunningApplication> &front = std::nullopt,
                                  const std::optional<QString> &ignoring = std::nullopt) const
    {
        const auto context = m_service.bestCandidate(front, ignoring);
        return context ? context->appName.value_or("<unnamed>") : QStringLiteral("<none>");
    }

private slots:
    void streamPropertiesBecomeTheContext()
    {
        m_server.streams = {playing(7, "Radio", 4242)};
        const auto full = *m_service.bestCandidate(std::nullopt, std::nullopt);
        // Missing properties fall back to the process binary.
        m_server.streams[0] = {7, false, true, std::nullopt, std::nullopt, "radio", std::nullopt, std::nullopt};
        const auto bare = *m_service.bestCandidate(std::nullopt, std::nullopt);
        for (const auto &context : {full, bare})
            QCOMPARE(context.capturedAt, m_clock.now());
        QCOMPARE(QList({full.appName, full.bundleIdentifier, full.windowTitle, full.urlString, bare.appName,
                        bare.bundleIdentifier, bare.windowTitle}),
                 QList<std::optional<QString>>(
                     {"Radio", "org.example.Radio", "Radio track", std::nullopt, "radio", "radio", std::nullopt}));
    }

    void choosesAmongTheRunningStreamsOfTheDefaultSink_data()
    {
        QTest::addColumn<std::optional<RunningApplication>>("front");
        QTest::addColumn<std::optional<QString>>("ignoring");
        QTest::addColumn<QString>("expected");
        const std::optional<QString> none, own("org.example.Vespertone");
        QTest::newRow("newest") << std::optional<RunningApplication>() << none << "New";
        QTest::newRow("front by process") << std::optional(application(100, std::nullopt)) << none << "Old";
        QTest::newRow("front by name, any case") << std::optional(application(std::nullopt, "old")) << none << "Old";
        QTest::newRow("front by identifier")
            << std::optional(application(std::nullopt, std::nullopt, "org.example.Old")) << none << "Old";
        QTest::newRow("front not playing") << std::optional(application(300, "Editor")) << none << "New";
        QTest::newRow("front paused") << std::optional(application(std::nullopt, "Paused")) << none << "New";
        QTest::newRow("front elsewhere") << std::optional(application(std::nullopt, "Headset")) << none << "New";
        QTest::newRow("ignored even in front")
            << std::optional(application(std::nullopt, "Vespertone")) << own << "New";
    }
    void choosesAmongTheRunningStreamsOfTheDefaultSink()
    {
        QFETCH(std::optional<RunningApplication>, front);
        QFETCH(std::optional<QString>, ignoring);
        QFETCH(QString, expected);
        auto paused = playing(20, "Paused"), elsewhere = playing(21, "Headset"), anonymous = playing(22, "Anon");
        paused.corked = true;
        elsewhere.onDefaultSink = false;
        anonymous.appName.reset();
        anonymous.processBinary.reset();
        m_server.streams = {playing(3, "Old", 100),
                            playing(12, "New", 200),
                            playing(5, "Middle", 150),
                            playing(19, "Vespertone"),
                            paused,
                            elsewhere,
                            anonymous};
        if (!ignoring)
            m_server.streams.erase(m_server.streams.begin() + 3);
        QCOMPARE(bestApp(front, ignoring), expected);
    }

    void withNothingPlayingTheFrontApplicationIsTheSource()
    {
        m_server.streams.clear();
        const auto front = application(55, "Player", "org.example.Player");
        const auto context = *m_service.bestCandidate(front, std::nullopt);
        QCOMPARE(QList({context.appName, context.bundleIdentifier, context.windowTitle}),
                 QList<std::optional<QString>>({"Player", "org.example.Player", std::nullopt}));
        QCOMPARE(QStringList({bestApp(application(55, std::nullopt, "org.example.Player")),
                              bestApp(front, "org.example.Player"), bestApp()}),
                 QStringList({"<none>", "<none>", "<none>"}));
    }

    void readsTheRealServerFromPoolThreads()
    {
        if (!serverAnswers() || QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("needs scripts/with-test-services.sh and paplay");
        QTemporaryDir dir;
        TonePlayers players;
        auto play = [&](const QString &name, const QString &title, const QString &sink) {
            return players.play(
                dir.path(), sink, 440, 0.1, 30,
                {"--client-name=" + name, "--stream-name=" + title, "--property=application.id=org.example." + name});
        };
        PulseSoundServer server;
        SourceContextService service(server, m_clock);
        // As the store runs it: on the thread pool, several lookups at once.
        auto appNow = [&](const std::optional<RunningApplication> &front, const std::optional<QString> &ignoring) {
            QList<QFuture<std::optional<RecordingSourceContext>>> lookups;
            for (int i = 0; i < 4; ++i)
                lookups << QtConcurrent::run([&] { return service.bestCandidate(front, ignoring); });
            QStringList apps;
            for (auto &lookup : lookups)
                apps << lookup.result().value_or(RecordingSourceContext{}).appName.value_or("<none>");
            apps.removeDuplicates();
            return apps.join(u'|');
        };
        QVERIFY(play("ToneApp", "Evening Raga", "@DEFAULT_SINK@"));
        QTRY_COMPARE_WITH_TIMEOUT(appNow(std::nullopt, std::nullopt), QStringLiteral("ToneApp"), 10000);
        const auto context = *service.bestCandidate(std::nullopt, std::nullopt);
        QCOMPARE(QStringList({*context.bundleIdentifier, *context.windowTitle}),
                 QStringList({"org.example.ToneApp", "Evening Raga"}));
        const auto tonePid = players.last().processId();
        QVERIFY(play("MicApp", "Voice", "mic_feed"));
        QVERIFY(play("OtherApp", "Morning", "@DEFAULT_SINK@"));
        QTRY_COMPARE_WITH_TIMEOUT(appNow(std::nullopt, std::nullopt), QStringLiteral("OtherApp"), 10000);
        QCOMPARE(appNow(application(tonePid, std::nullopt), std::nullopt), QStringLiteral("ToneApp"));
        QCOMPARE(appNow(application(std::nullopt, "MicApp"), std::nullopt), QStringLiteral("OtherApp"));
        QCOMPARE(appNow(std::nullopt, "org.example.OtherApp"), QStringLiteral("ToneApp"));
    }

    void silentServerIsGivenUpOn()
    {
        // A socket that takes the connection and never answers.
        QTemporaryDir dir;
        QLocalServer silent;
        QVERIFY(silent.listen(dir.filePath(QStringLiteral("silent"))));
        PulseSoundServer server("unix:" + silent.fullServerName().toUtf8());
        auto lookup = QtConcurrent::run([&] {
            try {
                (void)server.playbackStreams();
            } catch (const SoundServerError &error) {
                return error.code() == SoundServerError::Code::unreachable;
            }
            return false;
        });
        QVERIFY(lookup.result());
    }
};

QTEST_GUILESS_MAIN(TestSourceContext)
#include "test_source_context.moc"
