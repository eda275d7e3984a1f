// The store's recording workflow against a scripted sound server: toggles and their rules,
// status texts, the elapsed clock, MP3 encoding and its fallback, the source sidecar,
// interrupted takes and the recovery of takes a killed process left behind.

#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "library/Formatters.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <qcoro/qcorotask.h>

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
    void start(RecordingInputSource source = RecordingInputSource::macAudio)
    {
        QCoro::waitFor(store->startRecording(source));
    }
    /// Feeds a short tone and stops; the final path or none.
    std::optional<QString> record(double seconds = 0.3)
    {
        server.feedSine(seconds);
        return QCoro::waitFor(store->stopRecording());
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

} // namespace

class RecordingWorkflowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (realLame().isEmpty())
            QSKIP("lame is not installed");
    }

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
        Rig rig;
        rig.store->setRecordingFormat(format);
        const auto other =
            input == RecordingInputSource::macAudio ? RecordingInputSource::microphone : RecordingInputSource::macAudio;
        rig.start(input);
        QCOMPARE(rig.statuses, (QStringList{"Preparing recording", recordingText}));
        QVERIFY(rig.states == (QList<Kind>{Kind::preparing, Kind::recording}));
        QVERIFY(rig.store->isRecording(input));
        QVERIFY(!rig.store->isRecording(other));
        QVERIFY(rig.store->canToggleRecording(input));
        QVERIFY(!rig.store->canToggleRecording(other));
        QVERIFY(rig.store->activeRecordingSettings()
                == (RecordingEncodingSettings{format, AudioBitRate::kbps192, 48000, 2}));
        QCOMPARE(rig.server.lastDevice(),
                 input == RecordingInputSource::macAudio ? SoundServer::CaptureDevice::defaultSinkMonitor
                                                         : SoundServer::CaptureDevice::defaultSource);
        // Toggling the other input while recording does nothing.
        rig.store->toggleRecording(other);
        QVERIFY(rig.store->isRecording(input));

        QSignalSpy analysing(rig.store.get(), &RecordingLibraryStore::isAnalyzingChanged);
        const auto final = rig.record();
        QVERIFY(final);
        const auto name = rig.takeName() + u'.' + extension;
        const auto saved = rig.statuses.indexOf("Saved " + name);
        QVERIFY2(saved > 0, qPrintable(rig.statuses.join(" | ")));
        QCOMPARE(rig.statuses.mid(2, 1), QStringList{"Saving recording"});
        QCOMPARE(rig.statuses.contains("Encoding MP3"), format == RecordingOutputFormat::mp3LAME);
        QCOMPARE(rig.statuses.value(saved + 1), "Analyzing " + name);
        QVERIFY(rig.states.mid(2) == (QList<Kind>{Kind::finishing, Kind::idle}));
        QVERIFY(!rig.store->activeRecordingInputSource());
        QVERIFY(!rig.store->activeRecordingSettings());
        QVERIFY(!rig.store->activeRecordingSource());
        // Analysed at once, and the (possibly renamed) take is the only selection.
        QCOMPARE(analysing.count(), 2);
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{*final});
        QVERIFY(QFileInfo::exists(*final));
        QVERIFY(MetadataStore::load(*final)->analyzedAt.has_value());
        QVERIFY(rig.workFiles().isEmpty());
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));
    }

    void togglesAreIgnoredWhilePreparingAndFinishing()
    {
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        rig.server.holdOpen = true;
        QSignalSpy states(rig.store.get(), &RecordingLibraryStore::captureStateChanged);
        rig.store->toggleRecording(RecordingInputSource::macAudio);
        QCOMPARE(rig.store->captureState().kind(), Kind::preparing);
        QVERIFY(!rig.store->canToggleRecording(RecordingInputSource::macAudio));
        QVERIFY(!rig.store->canToggleRecording(RecordingInputSource::microphone));
        rig.store->toggleRecording(RecordingInputSource::macAudio);
        rig.store->toggleRecording(RecordingInputSource::microphone);
        rig.server.holdOpen = false;
        rig.server.openGate.release();
        QTRY_COMPARE(rig.store->captureState().kind(), Kind::recording);
        QCOMPARE(rig.server.opened.load(), 1);
        QCOMPARE(rig.statuses.count("Preparing recording"), 1);

        rig.server.feedSine(0.2);
        QSignalSpy saved(rig.store.get(), &RecordingLibraryStore::refreshFinished);
        rig.store->toggleRecording(RecordingInputSource::macAudio);
        QCOMPARE(rig.store->captureState().kind(), Kind::finishing);
        QVERIFY(!rig.store->canToggleRecording(RecordingInputSource::macAudio));
        rig.store->toggleRecording(RecordingInputSource::macAudio);
        QVERIFY(saved.wait(10000));
        QCOMPARE(rig.statuses.count("Saving recording"), 1);
        QCOMPARE(rig.server.opened.load(), 1);
    }

    void startAndStopRulesAndTheElapsedClock()
    {
        Rig rig;
        QCoro::waitFor(rig.store->stopRecording());
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("No recording is active."));
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));
        rig.env.clock.advance(2s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));
        const auto started = rig.env.clock.now();
        rig.start(RecordingInputSource::microphone);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));
        rig.env.clock.advance(2s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:02"));
        rig.env.clock.advance(63s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("01:05"));
        // Far past the dismissal delay, the recording status is still shown.
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("Recording Mic WAV"));
        // A second start leaves the take alone.
        QCoro::waitFor(rig.store->startRecording(RecordingInputSource::macAudio));
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("A recording is already running."));
        QVERIFY(rig.store->isRecording(RecordingInputSource::microphone));
        QVERIFY(rig.store->activeRecordingSource() == RecordingSourceContext::microphone(started));
        QVERIFY(rig.record());
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));
        rig.env.clock.advance(5s);
        QCOMPARE(rig.store->elapsedText(), QStringLiteral("00:00"));

        // A start that fails clears the take, and failed allows the next one.
        rig.server.openFailure = SoundServerError::Code::unreachable;
        rig.start();
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("The sound server could not be reached."));
        QCOMPARE(rig.store->captureState().kind(), Kind::failed);
        QVERIFY(!rig.store->activeRecordingInputSource() && !rig.store->activeRecordingSettings());
        QVERIFY(rig.store->canToggleRecording(RecordingInputSource::macAudio));
        rig.server.openFailure.reset();
        rig.env.clock.advance(2s);
        rig.start();
        QVERIFY(rig.store->isRecording(RecordingInputSource::macAudio));
        QVERIFY(rig.record());
    }

    void mp3TakesGetTheBitRateAndLoseTheirWorkFile()
    {
        const auto log = m_dir.filePath("lame-args.txt");
        const auto encoders =
            fakeEncoders(m_dir.filePath("logging"),
                         "printf '%s\\n' \"$@\" > '" + QFile::encodeName(log) + "'\nexec '" + realLame() + "' \"$@\"");
        Rig rig(encoders);
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.store->setAacBitRate(AudioBitRate::kbps320);
        // Name.mp3 is taken, so the take becomes Name 2.mp3.
        QFile taken(rig.env.path(rig.takeName() + ".mp3"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        rig.start();
        QVERIFY(rig.record());
        QVERIFY2(rig.statuses.contains("Saved " + rig.takeName() + " 2.mp3"), qPrintable(rig.statuses.join(" | ")));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto arguments = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(arguments.mid(0, 3), (QStringList{"--silent", "--cbr", "-b"}));
        QCOMPARE(arguments.value(3), QStringLiteral("320"));
        QVERIFY(rig.workFiles().isEmpty());
    }

    void aFailedOrMissingEncoder()
    {
        Rig failing(fakeEncoders(m_dir.filePath("failing"), "echo broken >&2\nexit 1"));
        failing.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        failing.start();
        const auto final = failing.record(0.5);
        QVERIFY(final);
        // The audio is kept as WAV in the library.
        const auto name = failing.takeName() + ".wav";
        QVERIFY2(failing.statuses.contains("MP3 encoding failed; saved " + name),
                 qPrintable(failing.statuses.join(" | ")));
        QVERIFY(QFileInfo::exists(*final));
        QCOMPARE(QFileInfo(*final).absolutePath(), failing.env.libraryFolder());
        QVERIFY(!QFileInfo::exists(failing.env.path(failing.takeName() + ".mp3")));
        QVERIFY(failing.workFiles().isEmpty());

        // No encoder: the start is refused before the server is asked.
        Rig missing(m_dir.filePath("empty-encoders"));
        missing.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        missing.start();
        QCOMPARE(missing.statuses, (QStringList{"Preparing recording", "The bundled LAME MP3 encoder is missing."}));
        QCOMPARE(missing.store->captureState().kind(), Kind::idle);
        QCOMPARE(missing.server.opened.load(), 0);
        QVERIFY(!missing.store->activeRecordingInputSource());
    }

    void theSourceGoesIntoTheSidecar()
    {
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        rig.start(RecordingInputSource::microphone);
        auto final = rig.record();
        QVERIFY(final);
        QVERIFY(MetadataStore::load(*final)->source == RecordingSourceContext::microphone(rig.env.clock.now()));

        // Mac audio: the application the user had in front, playing on the default output.
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
        QCOMPARE(rig.store->latestForegroundSourceApp()->processIdentifier.value_or(0), 4242);
        rig.env.clock.advance(2s);
        rig.start(RecordingInputSource::macAudio);
        final = rig.record();
        QVERIFY(final);
        const auto source = MetadataStore::load(*final)->source;
        QVERIFY(source);
        QCOMPARE(source->appName.value_or(QString()), QStringLiteral("Firefox"));
        QCOMPARE(source->bundleIdentifier.value_or(QString()), QStringLiteral("firefox"));
        QCOMPARE(source->windowTitle.value_or(QString()), QStringLiteral("A song"));
    }

    void anInterruptedTakeIsKeptAndListed()
    {
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.start(RecordingInputSource::microphone);
        rig.server.feedSine(0.5);
        QSignalSpy kept(rig.store.get(), &RecordingLibraryStore::interruptedTakeSaved);
        rig.server.failSource();
        QVERIFY(kept.wait(20000));
        const auto url = kept.first().first().toString();
        QCOMPARE(url, rig.env.path(rig.takeName() + ".mp3"));
        QCOMPARE(rig.store->statusMessage(), AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text());
        QCOMPARE(rig.store->captureState().kind(), Kind::failed);
        QVERIFY(!rig.store->activeRecordingInputSource() && !rig.store->activeRecordingSource());
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{url});
        QCOMPARE(rig.store->selectedItem()->url, url);
        QVERIFY(MetadataStore::load(url)->source == RecordingSourceContext::microphone(rig.env.clock.now()));
        QVERIFY(rig.workFiles().isEmpty());
    }

    void leftOverTakesAreRecoveredUnlessLockedByALiveProcess()
    {
        Rig rig;
        const auto work = UniqueFileNamer::workFolder(rig.env.libraryFolder());
        QVERIFY(QDir().mkpath(work));
        const auto orphan = AudioFixtures::tone(work + "/Vespertone 2024-01-01 10.00.00.wav", 0.5);
        const auto busy = AudioFixtures::tone(work + "/Vespertone 2024-01-01 11.00.00.wav", 0.5);
        const auto stale = AudioFixtures::tone(work + "/Vespertone 2024-01-01 12.00.00.wav", 0.5);
        QLockFile held(busy + ".lock");
        held.setStaleLockTime(0);
        QVERIFY(held.tryLock(0));
        // A lock whose owner has exited: this process's lock with a finished process's id.
        QByteArray lockText;
        {
            QLockFile own(stale + ".lock");
            QVERIFY(own.tryLock(0));
            QFile file(stale + ".lock");
            QVERIFY(file.open(QIODevice::ReadOnly));
            lockText = file.readAll();
        }
        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        const auto deadPid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QFile lock(stale + ".lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid) + lockText.mid(lockText.indexOf('\n')));
        lock.close();

        rig.store.reset();
        rig.open();
        QCOMPARE(rig.workFiles(),
                 (QStringList{"Vespertone 2024-01-01 11.00.00.wav", "Vespertone 2024-01-01 11.00.00.wav.lock"}));
        QVERIFY(QFileInfo(rig.env.path("Vespertone 2024-01-01 10.00.00.mp3")).size() > 0);
        QVERIFY(QFileInfo::exists(rig.env.path("Vespertone 2024-01-01 12.00.00.mp3")));
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{rig.env.path("Vespertone 2024-01-01 12.00.00.mp3")});
        QCOMPARE(rig.store->statusMessage(), QStringLiteral("Recovered Vespertone 2024-01-01 12.00.00.mp3"));

        // Without a working encoder the take is moved into the library as WAV.
        held.unlock();
        rig.store.reset();
        rig.open(fakeEncoders(m_dir.filePath("broken"), "exit 1"));
        QVERIFY(rig.workFiles().isEmpty());
        QVERIFY(QDir(work).exists());
        QVERIFY(QFileInfo(rig.env.path("Vespertone 2024-01-01 11.00.00.wav")).size() > 0);
        QVERIFY(!QFileInfo::exists(rig.env.path("Vespertone 2024-01-01 11.00.00.mp3")));
    }
};

QTEST_GUILESS_MAIN(RecordingWorkflowTest)
#include "test_recording_workflow.moc"
