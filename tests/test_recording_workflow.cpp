// The store's recording workflow against a scripted sound server: toggles and their rules,
// status texts, the elapsed clock, MP3 encoding and its fallback, the source sidecar,
// interrupted takes and the recovery of takes a killed process left behind.

#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "library/Formatters.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "store/ActiveTake.h"
#include "store/RecordingLibraryStore.h"
#include "store/TakeLock.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Kind = CaptureState::Kind;

namespace {

/// A store on a fake sound server and a foreground monitor the test drives.
struct Rig {
    TestEnvironment env;
    FakeSoundServer server;
    ForegroundApplicationMonitor monitor;
    std::unique_ptr<RecordingLibraryStore> store;
    QStringList statuses; ///< every non-empty status text, in order
    QList<Kind> states;   ///< every mirrored capture state

    explicit Rig(const QString &encoders = {}) { open(encoders); }

    void open(const QString &encoders = {})
    {
        auto environment = env.storeEnvironment();
        environment.soundServer = &server;
        environment.foregroundMonitor = &monitor;
        environment.encodersFolder = encoders;
        store = std::make_unique<RecordingLibraryStore>(environment);
        QSignalSpy recovered(store.get(), &RecordingLibraryStore::recoveryFinished);
        if (!recovered.wait(20000))
            qFatal("the store did not finish starting");
        QObject::connect(store.get(), &RecordingLibraryStore::statusMessageChanged, store.get(), [this] {
            if (const auto &status = store->statusMessage(); status && !status->isEmpty())
                statuses << *status;
        });
        QObject::connect(store.get(), &RecordingLibraryStore::captureStateChanged, store.get(),
                         [this] { states << store->captureState().kind(); });
    }

    [[nodiscard]] QString takeName() const
    {
        return QStringLiteral("Vespertone ") + AppDateFormatters::fileStamp(env.clock.now());
    }
    void start(RecordingInputSource source = RecordingInputSource::macAudio) { finish(store->startRecording(source)); }
    /// Feeds a short tone and stops; the final path or none.
    std::optional<QString> record(double seconds = 0.3)
    {
        server.feedSine(seconds);
        return finish(store->stopRecording());
    }
    [[nodiscard]] QStringList workFiles() const
    {
        return QDir(UniqueFileNamer::workFolder(env.libraryFolder())).entryList(QDir::Files);
    }
};

/// An encoders folder holding a "lame" script with \a body.
QString fakeEncoders(const QString &folder, const QByteArray &body)
{
    QDir().mkpath(folder);
    QFile script(folder + QStringLiteral("/lame"));
    if (!script.open(QIODevice::WriteOnly))
        qFatal("cannot write the fake encoder");
    script.write("#!/bin/sh\n" + body + "\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    return folder;
}

QByteArray realLame()
{
    return QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("lame")));
}

/// Only what encodes MP3 needs the real encoder.
#define REQUIRE_LAME()                                                                                                 \
    if (realLame().isEmpty())                                                                                          \
    QSKIP("lame is not installed")

} // namespace

class RecordingWorkflowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void aTakeRunsThroughEveryStep_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<RecordingInputSource>("input");
        QTest::addColumn<QString>("recordingText");
        QTest::addColumn<QString>("extension");
        QTest::newRow("mac m4a") << RecordingOutputFormat::aacM4A << RecordingInputSource::macAudio
                                 << "Recording Mac M4A"
                                 << "m4a";
        QTest::newRow("mic wav") << RecordingOutputFormat::wavPCM << RecordingInputSource::microphone
                                 << "Recording Mic WAV"
                                 << "wav";
        QTest::newRow("mac aiff") << RecordingOutputFormat::aiffPCM << RecordingInputSource::macAudio
                                  << "Recording Mac AIFF"
                                  << "aiff";
        QTest::newRow("mic mp3") << RecordingOutputFormat::mp3LAME << RecordingInputSource::microphone
                                 << "Recording Mic MP3"
                                 << "mp3";
    }
    void aTakeRunsThroughEveryStep()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(RecordingInputSource, input);
        QFETCH(QString, recordingText);
        QFETCH(QString, extension);
        if (format == RecordingOutputFormat::mp3LAME)
            REQUIRE_LAME();
        Rig rig;
        rig.store->setRecordingFormat(format);
        const auto other =
            input == RecordingInputSource::macAudio ? RecordingInputSource::microphone : RecordingInputSource::macAudio;
        rig.start(input);
        QCOMPARE(rig.statuses, (QStringList{"Preparing recording", recordingText}));
        QVERIFY(rig.states == (QList<Kind>{Kind::preparing, Kind::recording}));
        QVERIFY(rig.store->isRecording(input) && !rig.store->canToggleRecording(other));
        QVERIFY(rig.store->activeTake()->settings
                == (RecordingEncodingSettings{format, AudioBitRate::kbps192, 48000, 2}));
        QCOMPARE(rig.server.lastDevice(),
                 input == RecordingInputSource::macAudio ? SoundServer::CaptureDevice::defaultSinkMonitor
                                                         : SoundServer::CaptureDevice::defaultSource);
        // The file being written is locked against edits and other processes' recovery.
        const auto written =
            rig.env.path(rig.takeName() + (format == RecordingOutputFormat::mp3LAME ? "" : "." + extension));
        if (format != RecordingOutputFormat::mp3LAME)
            QVERIFY(TakeLock::isHeld(written));
        else
            QVERIFY(TakeLock::isHeld(UniqueFileNamer::workFolder(rig.env.libraryFolder()) + u'/' + rig.takeName()
                                     + ".wav"));
        rig.store->toggleRecording(other);
        QVERIFY(rig.store->isRecording(input));

        const auto final = rig.record();
        QVERIFY(final);
        const auto name = rig.takeName() + u'.' + extension;
        const auto saved = rig.statuses.indexOf("Saved " + name);
        QVERIFY2(saved > 0, qPrintable(rig.statuses.join(" | ")));
        QCOMPARE(rig.statuses.value(2), QStringLiteral("Saving recording"));
        QCOMPARE(rig.statuses.contains("Encoding MP3"), format == RecordingOutputFormat::mp3LAME);
        QCOMPARE(rig.statuses.value(saved + 1), "Analyzing " + name);
        QVERIFY(rig.states.mid(2) == (QList<Kind>{Kind::finishing, Kind::idle}));
        QVERIFY(!rig.store->activeTake() && !rig.store->activeRecordingInputSource());
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{*final});
        QVERIFY(MetadataStore::load(*final)->analyzedAt.has_value());
        QVERIFY(!TakeLock::isHeld(*final));
        QVERIFY(rig.workFiles().isEmpty());
    }

    void startAndStopRulesAndTheElapsedClock()
    {
        Rig rig;
        finish(rig.store->stopRecording());
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("No recording is active."));
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        // Toggles are ignored while the take prepares.
        rig.server.holdOpen = true;
        rig.store->toggleRecording(RecordingInputSource::microphone);
        QCOMPARE(rig.store->captureState().kind(), Kind::preparing);
        QVERIFY(!rig.store->canToggleRecording(RecordingInputSource::microphone));
        rig.store->toggleRecording(RecordingInputSource::macAudio);
        rig.server.holdOpen = false;
        rig.server.openGate.release();
        QTRY_COMPARE(rig.store->captureState().kind(), Kind::recording);
        QCOMPARE(rig.server.opened.load(), 1);
        const auto started = rig.env.clock.now();
        rig.env.clock.advance(2s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:02"));
        rig.env.clock.advance(63s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("01:05"));
        // Far past the dismissal delay, the recording status is still shown.
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("Recording Mic WAV"));
        finish(rig.store->startRecording(RecordingInputSource::macAudio));
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("A recording is already running."));
        QVERIFY(rig.store->activeTake()->source == RecordingSourceContext::microphone(started));
        QVERIFY(rig.record());
        rig.env.clock.advance(5s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));

        // A start that fails clears the take, and failed allows the next one.
        rig.server.openFailure = SoundServerError::Code::unreachable;
        rig.start();
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("The sound server could not be reached."));
        QCOMPARE(rig.store->captureState().kind(), Kind::failed);
        QVERIFY(!rig.store->activeTake() && rig.store->canToggleRecording(RecordingInputSource::macAudio));
        rig.server.openFailure.reset();
        rig.env.clock.advance(2s);
        rig.start();
        QVERIFY(rig.record());
    }

    void mp3TakesGetTheBitRateOrFallBackToWAV()
    {
        REQUIRE_LAME();
        const auto log = m_dir.filePath("lame-args.txt");
        const auto encoders =
            fakeEncoders(m_dir.filePath("logging"),
                         "printf '%s\\n' \"$@\" > '" + QFile::encodeName(log) + "'\nexec '" + realLame() + "' \"$@\"");
        Rig rig(encoders);
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.store->setAacBitRate(AudioBitRate::kbps320);
        QFile taken(rig.env.path(rig.takeName() + ".mp3")); // the take becomes NAME 2.mp3
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        rig.start();
        QVERIFY(rig.record());
        QVERIFY2(rig.statuses.contains("Saved " + rig.takeName() + " 2.mp3"), qPrintable(rig.statuses.join(" | ")));
        QCOMPARE(QFileInfo(taken).size(), 0);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).split(u'\n').mid(0, 4),
                 (QStringList{"--silent", "--cbr", "-b", "320"}));

        Rig failing(fakeEncoders(m_dir.filePath("failing"), "echo broken >&2\nexit 1"));
        failing.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        failing.start();
        const auto final = failing.record(0.5);
        QVERIFY2(failing.statuses.contains("MP3 encoding failed; saved " + failing.takeName() + ".wav"),
                 qPrintable(failing.statuses.join(" | ")));
        QCOMPARE(QFileInfo(*final).absolutePath(), failing.env.libraryFolder());
        QVERIFY(failing.workFiles().isEmpty());

        Rig missing(m_dir.filePath("empty-encoders"));
        missing.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        missing.start();
        QCOMPARE(missing.statuses, (QStringList{"Preparing recording", "The bundled LAME MP3 encoder is missing."}));
        QCOMPARE(missing.server.opened.load(), 0);
    }

    void aTakeBeingEncodedKeepsItsLock()
    {
        REQUIRE_LAME();
        const auto gate = m_dir.filePath("gate");
        QVERIFY(::mkfifo(QFile::encodeName(gate).constData(), 0600) == 0);
        Rig rig(fakeEncoders(m_dir.filePath("gated"),
                             "read line < '" + QFile::encodeName(gate) + "'\nexec '" + realLame() + "' \"$@\""));
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.start();
        rig.server.feedSine(0.3);
        auto stopping = rig.store->stopRecording();
        QTRY_COMPARE(rig.statuses.last(), QStringLiteral("Encoding MP3"));
        const auto wav = UniqueFileNamer::workFolder(rig.env.libraryFolder()) + u'/' + rig.takeName() + ".wav";
        QVERIFY(TakeLock::isHeld(wav));
        // Another store's recovery leaves the take alone while it is encoded.
        RecordingLibraryStore other(rig.env.storeEnvironment());
        QSignalSpy recovered(&other, &RecordingLibraryStore::recoveryFinished);
        QVERIFY(recovered.wait(10000));
        QVERIFY(QFileInfo::exists(wav));
        QFile release(gate);
        QVERIFY(release.open(QIODevice::WriteOnly));
        release.write("go\n");
        release.close();
        QVERIFY(finish(std::move(stopping)));
        QVERIFY(!TakeLock::isHeld(wav) && rig.workFiles().isEmpty());
        QCOMPARE(QDir(rig.env.libraryFolder()).entryList({"*.mp3"}, QDir::Files), QStringList{rig.takeName() + ".mp3"});
    }

    void theSourceGoesIntoTheSidecar()
    {
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        PlaybackStream stream;
        stream.index = 7;
        stream.onDefaultSink = true;
        stream.appName = "Firefox";
        stream.applicationId = "firefox";
        stream.processId = 4242;
        stream.mediaName = "A song";
        rig.server.streams = {stream};
        emit rig.monitor.applicationActivated({4242, "Firefox", "firefox"});
        emit rig.monitor.applicationActivated({QCoreApplication::applicationPid(), "Vespertone", "vespertone"});
        rig.start(RecordingInputSource::macAudio);
        QTRY_VERIFY(rig.store->activeTake()->source); // looked up off the GUI thread
        const auto final = rig.record();
        const auto source = MetadataStore::load(*final)->source;
        QCOMPARE(source->appName.value_or(QString()), QStringLiteral("Firefox"));
        QCOMPARE(source->bundleIdentifier.value_or(QString()), QStringLiteral("firefox"));
        QCOMPARE(source->windowTitle.value_or(QString()), QStringLiteral("A song"));
    }

    void anInterruptedTakeIsReportedOnceAndKept()
    {
        REQUIRE_LAME();
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.start(RecordingInputSource::microphone);
        rig.server.feedSine(0.5);
        QSignalSpy kept(rig.store.get(), &RecordingLibraryStore::interruptedTakeSaved);
        rig.server.failSource();
        QVERIFY(kept.wait(20000));
        const auto url = kept.first().first().toString();
        QCOMPARE(url, rig.env.path(rig.takeName() + ".mp3"));
        const auto failure = AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text();
        QCOMPARE(rig.store->statusMessage(), failure);
        QCOMPARE(rig.statuses.count(failure), 1);
        QCOMPARE(kept.count(), 1);
        QVERIFY(!rig.store->activeTake());
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{url});
        QVERIFY(MetadataStore::load(url)->source == RecordingSourceContext::microphone(rig.env.clock.now()));
        QVERIFY(rig.workFiles().isEmpty());
    }

    void theStoreGoesAwayDuringAStartOrAStop()
    {
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        rig.server.holdOpen = true;
        auto starting = rig.store->startRecording(RecordingInputSource::microphone);
        // The open in flight is let go as the store goes; teardown waits for it.
        rig.server.holdOpen = false;
        rig.server.openGate.release();
        rig.store.reset();
        QCOMPARE(failureOf(std::move(starting)), QString());

        rig.open();
        rig.start(RecordingInputSource::microphone);
        rig.server.feedSine(0.3);
        auto stopping = rig.store->stopRecording();
        rig.store.reset();
        QCOMPARE(finish(std::move(stopping)), std::nullopt);
        // The take is finished and kept all the same.
        QTRY_VERIFY(QFileInfo(rig.env.path(rig.takeName() + ".wav")).size() > 44);
    }

    void leftOverTakesAreRecoveredOnceUnlessLockedByALiveProcess()
    {
        REQUIRE_LAME();
        Rig rig;
        const auto work = UniqueFileNamer::workFolder(rig.env.libraryFolder());
        QVERIFY(QDir().mkpath(work));
        const auto orphan = AudioFixtures::tone(work + "/Vespertone 2024-01-01 10.00.00.wav", 0.5);
        const auto busy = AudioFixtures::tone(work + "/Vespertone 2024-01-01 11.00.00.wav", 0.5);
        // Stopped after publishing its MP3 but before removing the WAV.
        const auto published = AudioFixtures::tone(work + "/Vespertone 2024-01-01 12.00.00.wav", 0.5);
        const auto partial = work + "/Vespertone 2024-01-01 12.00.00.mp3.partial";
        AudioFixtures::tone(partial + ".mp3", 0.5);
        QVERIFY(QFile::rename(partial + ".mp3", partial));
        QVERIFY(::link(QFile::encodeName(partial).constData(),
                       QFile::encodeName(rig.env.path("Vespertone 2024-01-01 12.00.00.mp3")).constData())
                == 0);
        auto held = TakeLock::acquire(busy);
        QVERIFY(held);

        for (int start = 0; start < 2; ++start) {
            rig.store.reset();
            rig.open();
            QCOMPARE(rig.workFiles(),
                     (QStringList{"Vespertone 2024-01-01 11.00.00.wav", "Vespertone 2024-01-01 11.00.00.wav.lock"}));
            QCOMPARE(QDir(rig.env.libraryFolder()).entryList({"*.mp3", "*.wav"}, QDir::Files),
                     (QStringList{"Vespertone 2024-01-01 10.00.00.mp3", "Vespertone 2024-01-01 12.00.00.mp3"}));
        }
        QVERIFY(QFileInfo(rig.env.path("Vespertone 2024-01-01 10.00.00.mp3")).size() > 0);

        // Without a working encoder the take is moved into the library as WAV.
        held.reset();
        rig.store.reset();
        rig.open(fakeEncoders(m_dir.filePath("broken"), "exit 1"));
        QVERIFY(rig.workFiles().isEmpty());
        QVERIFY(QFileInfo(rig.env.path("Vespertone 2024-01-01 11.00.00.wav")).size() > 0);
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("Recovered Vespertone 2024-01-01 11.00.00.wav"));
    }
};

QTEST_GUILESS_MAIN(RecordingWorkflowTest)
#include "test_recording_workflow.moc"
