// The store's recording workflow against a scripted sound server: toggles and their rules,
// status texts, the elapsed clock, MP3 encoding and its fallback, the source sidecar, a store
// going away mid-take, interrupted takes and the recovery of takes a killed process left behind.

#include "analysis/EnvelopeCache.h"
#include "analysis/EnvelopeJob.h"
#include "analysis/WaveformService.h"
#include "capture/AudioCaptureError.h"
#include "capture/CaptureTargets.h"
#include "capture/PlayingApplication.h"
#include "library/Formatters.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "media/MP3EncoderError.h"
#include "platform/CacheFolder.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "store/ActiveTake.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "store/TakeLock.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
        store = startStore(environment);
        QObject::connect(store.get(), &RecordingLibraryStore::statusMessageChanged, store.get(), [this] {
            if (const auto &status = store->statusMessage(); status && !status->isEmpty())
                statuses << *status;
        });
        QObject::connect(store.get(), &RecordingLibraryStore::captureStateChanged, store.get(),
                         [this] { states << store->captureState().kind(); });
    }

    [[nodiscard]] QString takeName() const { return "Vespertone " + AppDateFormatters::fileStamp(env.clock.now()); }
    void start(RecordingInputSource source = RecordingInputSource::macAudio) { finish(store->startRecording(source)); }
    /// Feeds a short tone and stops; the final path or none.
    std::optional<QString> record(double seconds = 0.3)
    {
        server.feedSine(seconds);
        return finish(store->stopRecording());
    }
    [[nodiscard]] QString work() const { return UniqueFileNamer::workFolder(env.libraryFolder()); }
    [[nodiscard]] QStringList workFiles() const { return QDir(work()).entryList(QDir::Files); }
    [[nodiscard]] QString workWav() const { return work() + u'/' + takeName() + ".wav"; }
};

/// An encoders folder holding a "lame" script with \a body.
QString fakeEncoders(const QString &folder, const QByteArray &body)
{
    writeScript(folder + "/lame", "#!/bin/sh\n" + body + "\n");
    return folder;
}

const QByteArray realLame = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("lame")));

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
        const auto row = [](RecordingOutputFormat format, RecordingInputSource input, QString text, QString extension) {
            QTest::newRow(qPrintable(text)) << format << input << text << extension;
        };
        row(RecordingOutputFormat::aacM4A, RecordingInputSource::macAudio, "Recording System M4A", "m4a");
        row(RecordingOutputFormat::wavPCM, RecordingInputSource::microphone, "Recording Mic WAV", "wav");
        row(RecordingOutputFormat::aiffPCM, RecordingInputSource::macAudio, "Recording System AIFF", "aiff");
        row(RecordingOutputFormat::mp3LAME, RecordingInputSource::microphone, "Recording Mic MP3", "mp3");
    }
    void aTakeRunsThroughEveryStep()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(RecordingInputSource, input);
        QFETCH(QString, recordingText);
        QFETCH(QString, extension);
        Rig rig;
        rig.store->setRecordingFormat(format);
        const bool mac = input == RecordingInputSource::macAudio;
        const auto other = mac ? RecordingInputSource::microphone : RecordingInputSource::macAudio;
        // A system-audio take's source is the last other application active and playing on the default output.
        rig.server.streams = {{.onDefaultSink = true,
                               .appName = "Firefox",
                               .applicationId = "firefox",
                               .processId = 4242,
                               .mediaName = "A song"}};
        emit rig.monitor.applicationActivated({4242, "Firefox", "firefox"});
        emit rig.monitor.applicationActivated({QCoreApplication::applicationPid(), "Vespertone", "vespertone"});
        rig.start(input);
        QTRY_VERIFY(rig.store->activeTake()->source); // looked up off the GUI thread
        QVERIFY(rig.store->isRecording(input) && !rig.store->canToggleRecording(other));
        QCOMPARE(rig.server.lastTarget(), mac ? CaptureTarget::defaultOutput() : CaptureTarget::defaultInput());
        // The file being written (an MP3 take's work WAV) is locked against edits and other processes' recovery.
        const bool mp3 = format == RecordingOutputFormat::mp3LAME;
        QVERIFY(TakeLock::isHeld(mp3 ? rig.workWav() : rig.env.path(rig.takeName() + "." + extension)));
        rig.store->toggleRecording(other);
        QVERIFY(rig.store->isRecording(input));

        QSignalSpy remembered(&rig.store->waveforms(), &WaveformService::remembered);
        const auto final = rig.record();
        QVERIFY(final);
        const auto name = rig.takeName() + u'.' + extension;
        auto steps = QStringList{"Preparing recording", recordingText, "Saving recording"};
        steps << (mp3 ? QStringList{"Encoding MP3"} : QStringList{}) << "Saved " + name << "Analyzing " + name;
        QCOMPARE(rig.statuses.mid(0, steps.size()), steps);
        QVERIFY(rig.states == (QList<Kind>{Kind::preparing, Kind::recording, Kind::finishing, Kind::idle}));
        QVERIFY(!rig.store->activeTake() && !rig.store->activeRecordingInputSource());
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{*final});
        const auto sidecar = MetadataStore::load(*final);
        QVERIFY(sidecar->analyzedAt.has_value());
        if (mac)
            QVERIFY(sidecar->source->appName == "Firefox" && sidecar->source->bundleIdentifier == "firefox"
                    && sidecar->source->windowTitle == "A song");
        QVERIFY(rig.workFiles().isEmpty());
        // A WAV or AIFF take's levels, kept while it was written, are remembered as it is saved
        // (and survive the analysis's rename); an encoded take's only once it is opened.
        const bool pcm = format == RecordingOutputFormat::wavPCM || format == RecordingOutputFormat::aiffPCM;
        QVERIFY(!pcm || !remembered.isEmpty() || remembered.wait(10000));
        const auto cache = CacheFolder::ofLibrary(rig.env.libraryFolder(), false);
        QVERIFY(cache);
        const auto stored = EnvelopeCache::load(*cache, *FileStamp::of(*final), WaveformService::editorPeakCount);
        QCOMPARE(stored.has_value(), pcm);
        if (pcm)
            QCOMPARE(*stored, EnvelopeJob::sequential(*final, WaveformService::editorPeakCount));
    }

    void startAndStopRulesTheElapsedClockAndTeardown()
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
        rig.env.clock.advance(65s);
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

        // The store goes away during a start: the open in flight is let go and teardown waits for it.
        rig.server.holdOpen = true;
        auto starting = rig.store->startRecording(RecordingInputSource::microphone);
        rig.server.holdOpen = false;
        rig.server.openGate.release();
        rig.store.reset();
        QCOMPARE(failureOf(std::move(starting)), QString());
        // ... or during a stop: the take is finished and kept all the same.
        rig.open();
        rig.env.clock.advance(2s);
        rig.start(RecordingInputSource::microphone);
        rig.server.feedSine(0.3);
        auto stopping = rig.store->stopRecording();
        rig.store.reset();
        QCOMPARE(finish(std::move(stopping)), std::nullopt);
        QTRY_VERIFY(QFileInfo(rig.env.path(rig.takeName() + ".wav")).size() > 44);
    }

    void mp3TakesGetTheBitRateKeepTheirLockOrFallBackToWAV()
    {
        // A lame that logs its arguments, then waits for the test before it encodes.
        const auto log = QFile::encodeName(m_dir.filePath("lame-args.txt"));
        const auto gate = m_dir.filePath("gate");
        QVERIFY(::mkfifo(QFile::encodeName(gate).constData(), 0600) == 0);
        Rig rig(fakeEncoders(m_dir.filePath("gated"),
                             "printf '%s\\n' \"$@\" > '" + log + "'\nread line < '" + QFile::encodeName(gate)
                                 + "'\nexec '" + realLame + "' \"$@\""));
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.store->setAacBitRate(AudioBitRate::kbps320);
        const auto taken = writeFile(rig.env.path(rig.takeName() + ".mp3"), {}); // the take becomes NAME 2.mp3
        rig.start();
        rig.server.feedSine(0.3);
        auto stopping = rig.store->stopRecording();
        QTRY_COMPARE(rig.statuses.last(), QStringLiteral("Encoding MP3"));
        QVERIFY(TakeLock::isHeld(rig.workWav()));
        // Another store's recovery leaves the take alone while it is encoded.
        const auto other = startStore(rig.env.storeEnvironment());
        QVERIFY(QFileInfo::exists(rig.workWav()));
        writeFile(gate, "go\n");
        QVERIFY(finish(std::move(stopping)));
        QVERIFY(!TakeLock::isHeld(rig.workWav()) && rig.workFiles().isEmpty());
        QVERIFY2(rig.statuses.contains("Saved " + rig.takeName() + " 2.mp3"), qPrintable(rig.statuses.join(" | ")));
        QCOMPARE(QFileInfo(taken).size(), 0);
        QCOMPARE(QString::fromUtf8(readFile(QFile::decodeName(log))).split(u'\n').mid(0, 4),
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
        QCOMPARE(missing.statuses,
                 (QStringList{"Preparing recording",
                              "The LAME MP3 encoder is missing. Install it with “sudo apt install lame”."}));
        QCOMPARE(missing.server.opened.load(), 0);
    }

    /// The program ends (its store goes) while an MP3 take is encoded: the take is still
    /// published with its sidecar, and nothing touches the store that is gone.
    void aTakeOutlivesItsStore()
    {
        const auto gate = m_dir.filePath("outlive-gate");
        QVERIFY(::mkfifo(QFile::encodeName(gate).constData(), 0600) == 0);
        Rig rig(fakeEncoders(m_dir.filePath("outlive"),
                             "read line < '" + QFile::encodeName(gate) + "'\nexec '" + realLame + "' \"$@\""));
        rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        rig.start(RecordingInputSource::microphone);
        rig.server.feedSine(0.3);
        auto stopping = rig.store->stopRecording();
        QTRY_COMPARE(rig.statuses.last(), QStringLiteral("Encoding MP3"));
        const auto mp3 = rig.env.path(rig.takeName() + ".mp3");
        rig.store.reset();
        writeFile(gate, "go\n");
        QCOMPARE(finish(std::move(stopping)), std::nullopt);
        QVERIFY(QFileInfo(mp3).size() > 0);
        const auto metadata = MetadataStore::load(mp3);
        QVERIFY(metadata && metadata->source);
        QCOMPARE(metadata->source->appName, std::optional<QString>("Microphone"));
    }

    void anInterruptedTakeIsReportedOnceAndKept()
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
        const auto failure = AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text();
        QCOMPARE(rig.store->statusMessage(), failure);
        QCOMPARE(rig.statuses.count(failure), 1);
        QCOMPARE(kept.count(), 1);
        QVERIFY(!rig.store->activeTake());
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{url});
        QVERIFY(MetadataStore::load(url)->source == RecordingSourceContext::microphone(rig.env.clock.now()));
        QVERIFY(rig.workFiles().isEmpty());
    }

    void theKeptWindowIsSavedAsATakeLikeAnyOther_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<RecordingInputSource>("input");
        QTest::addColumn<QString>("extension");
        QTest::newRow("system audio, WAV") << RecordingOutputFormat::wavPCM << RecordingInputSource::macAudio << "wav";
        QTest::newRow("microphone, MP3") << RecordingOutputFormat::mp3LAME << RecordingInputSource::microphone << "mp3";
        QTest::newRow("application, M4A")
            << RecordingOutputFormat::aacM4A << RecordingInputSource::application << "m4a";
    }
    void theKeptWindowIsSavedAsATakeLikeAnyOther()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(RecordingInputSource, input);
        QFETCH(QString, extension);
        Rig rig;
        rig.server.streams = {{.onDefaultSink = true,
                               .appName = "Player",
                               .applicationId = "player",
                               .processId = 4242,
                               .mediaName = "Loop 4"}};
        rig.store->setRecordingFormat(format);
        rig.store->setKeptInput(input, "Player");
        rig.store->setKeptSeconds(15);
        QTRY_VERIFY(rig.store->isListening());
        const auto target = input == RecordingInputSource::application ? CaptureTarget::application("Player")
                                                                       : CaptureTargets::forInput(input);
        QCOMPARE(rig.store->keptTarget(), std::optional(target));
        QCOMPARE(rig.server.lastTarget(), target);
        // Twenty seconds heard, the last fifteen kept; the take is named for when they began.
        rig.server.feedSine(20);
        const auto final = finish(rig.store->saveKeptWindow());
        QVERIFY(final);
        const auto base = "Vespertone " + AppDateFormatters::fileStamp(rig.env.clock.now().addSecs(-15));
        const auto name = base + u'.' + extension;
        const bool mp3 = format == RecordingOutputFormat::mp3LAME;
        auto steps = QStringList{"Saving the last 15 seconds"};
        steps << (mp3 ? QStringList{"Encoding MP3"} : QStringList{}) << "Saved " + name << "Analyzing " + name;
        QCOMPARE(rig.statuses.mid(0, steps.size()), steps);
        QCOMPARE(rig.store->selectedIDs(), QSet<QString>{*final});
        const auto sidecar = MetadataStore::load(*final);
        QVERIFY(sidecar && sidecar->analyzedAt);
        // The analysis gives it its tempo name when it finds a tempo.
        QCOMPARE(QFileInfo(*final).fileName(),
                 sidecar->bpm ? base + QStringLiteral("_bpm_%1.").arg(*sidecar->bpm) + extension : name);
        if (input == RecordingInputSource::microphone)
            QVERIFY(sidecar->source == RecordingSourceContext::microphone(rig.env.clock.now()));
        else
            QVERIFY(sidecar->source->appName == "Player" && sidecar->source->windowTitle == "Loop 4");
        const auto signal = analyse(*final, 0, 1);
        QVERIFY2(std::abs(signal.seconds() - 15) < 0.05, qPrintable(QString::number(signal.seconds())));
        QVERIFY(rig.workFiles().isEmpty() && !TakeLock::isHeld(*final));
        // The window listens on, and a second save keeps its own file.
        QVERIFY(rig.store->isListening());
        rig.env.clock.advance(1s);
        rig.server.feedSine(1);
        const auto again = finish(rig.store->saveKeptWindow());
        QVERIFY(again && *again != *final);
    }

    void theKeptWindowSaysWhyItCannotBeSaved_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<RecordingInputSource>("input");
        QTest::addColumn<QString>("encoders"); // empty: the installed lame
        QTest::addColumn<QString>("message");
        const auto off = AudioCaptureError(AudioCaptureError::Code::notKeeping).text();
        QTest::newRow("off") << 0 << RecordingInputSource::macAudio << QString() << off;
        QTest::newRow("not a choice") << 45 << RecordingInputSource::macAudio << QString() << off;
        QTest::newRow("no application named") << 15 << RecordingInputSource::application << QString() << off;
        QTest::newRow("nothing heard yet")
            << 15 << RecordingInputSource::microphone << QString() << QStringLiteral("Nothing has been heard yet.");
        QTest::newRow("no encoder for MP3")
            << 15 << RecordingInputSource::microphone << QStringLiteral("empty-encoders")
            << MP3EncoderError(MP3EncoderError::Code::missingEncoder).text();
    }
    void theKeptWindowSaysWhyItCannotBeSaved()
    {
        QFETCH(int, seconds);
        QFETCH(RecordingInputSource, input);
        QFETCH(QString, encoders);
        QFETCH(QString, message);
        Rig rig(encoders.isEmpty() ? QString() : m_dir.filePath(encoders));
        // Stored by hand, as another version or a damaged file may have left them.
        rig.store.reset();
        rig.env.settings->setValue(StoreSettings::keepSecondsKey, seconds);
        rig.env.settings->setValue(StoreSettings::keepInputKey, RecordingInputSources::rawValue(input));
        rig.open(encoders.isEmpty() ? QString() : m_dir.filePath(encoders));
        if (!encoders.isEmpty())
            rig.store->setRecordingFormat(RecordingOutputFormat::mp3LAME);
        const bool keeps = message != AudioCaptureError(AudioCaptureError::Code::notKeeping).text();
        QCOMPARE(rig.store->keptSeconds(), keeps ? 15 : 0);
        if (keeps)
            QTRY_VERIFY(rig.store->isListening());
        QCOMPARE(finish(rig.store->saveKeptWindow()), std::nullopt);
        QCOMPARE(rig.store->statusMessage(), message);
        QCOMPARE(QDir(rig.env.libraryFolder()).entryList(QDir::Files), QStringList());
        QVERIFY(rig.workFiles().isEmpty() && !rig.store->isStatusBusy());
    }

    void aTakeOfTheKeptInputBeginsWithTheWindowWhenAsked_data()
    {
        QTest::addColumn<bool>("preRoll");
        QTest::addColumn<RecordingInputSource>("taken");
        QTest::addColumn<double>("seconds");
        QTest::newRow("pre-roll") << true << RecordingInputSource::microphone << 1.5;
        QTest::newRow("no pre-roll") << false << RecordingInputSource::microphone << 0.5;
        QTest::newRow("pre-roll, another input") << true << RecordingInputSource::macAudio << 0.5;
    }
    void aTakeOfTheKeptInputBeginsWithTheWindowWhenAsked()
    {
        QFETCH(bool, preRoll);
        QFETCH(RecordingInputSource, taken);
        QFETCH(double, seconds);
        Rig rig;
        rig.store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        rig.store->setKeptInput(RecordingInputSource::microphone);
        rig.store->setKeptSeconds(15);
        rig.store->setStartsFromKeptWindow(preRoll);
        QTRY_VERIFY(rig.store->isListening());
        rig.server.feedSine(1, 440, 0.5, CaptureTarget::defaultInput());
        rig.start(taken);
        const auto target = CaptureTargets::forInput(taken);
        // The take's clock and name count from where its audio begins.
        const bool rolled = seconds > 1;
        QCOMPARE(rig.store->elapsedText(), rolled ? QStringLiteral("00:01") : QStringLiteral("00:00"));
        QCOMPARE(QFileInfo(*rig.store->activeCaptureURL()).fileName(),
                 "Vespertone " + AppDateFormatters::fileStamp(rig.env.clock.now().addSecs(rolled ? -1 : 0)) + ".wav");
        rig.server.feedSine(0.5, 1000, 0.5, target);
        const auto final = finish(rig.store->stopRecording());
        QVERIFY(final);
        const auto signal = analyse(*final, 0, 1);
        QVERIFY2(std::abs(signal.seconds() - seconds) < 0.01, qPrintable(QString::number(signal.seconds())));
        QCOMPARE(signal.frequency > 700, !rolled); // 440 Hz before Record, 1000 Hz after
        QVERIFY(rig.store->isListening());
    }

    void aKeptWindowThatLosesItsSourceListensAgain()
    {
        Rig rig;
        QSignalSpy changed(rig.store.get(), &RecordingLibraryStore::keptWindowChanged);
        rig.server.openFailure = SoundServerError::Code::unreachable;
        rig.store->setKeptSeconds(30);
        QTRY_COMPARE(rig.store->keptWindowProblem(), QStringLiteral("The sound server could not be reached."));
        QVERIFY(!rig.store->isListening());
        rig.server.openFailure.reset();
        rig.env.clock.advance(5s);
        QTRY_VERIFY(rig.store->isListening());
        QVERIFY(rig.store->keptWindowProblem().isEmpty());
        rig.server.failSource();
        QTRY_COMPARE(rig.store->keptWindowProblem(), QStringLiteral("The audio source stopped during the recording."));
        QCOMPARE(rig.server.running(), 0);
        rig.env.clock.advance(5s);
        QTRY_VERIFY(rig.store->isListening());
        QVERIFY(changed.count() >= 4);
        // Turned off, it lets its capture go and keeps nothing.
        rig.store->setKeptSeconds(0);
        QVERIFY(!rig.store->isListening() && !rig.store->keptTarget());
        QCOMPARE(rig.server.running(), 0);
    }

    void anApplicationTakeHasThatApplicationAsItsSource()
    {
        // The desktop names the player; its entry is read when the applications are first watched.
        writeFile(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + "/groove.desktop",
                  "[Desktop Entry]\nType=Application\nName=Groove Player\nIcon=groove\nExec=/usr/bin/groove %U\n");
        Rig rig;
        rig.server.streams = {
            {.index = 7, .appName = "groove", .processBinary = "groove", .processId = 4242, .mediaName = "Loop 4"},
            {.index = 8, .appName = "Chat", .processId = 5151},
            {.index = 9, .corked = true, .appName = "Paused", .processId = 6161}};
        rig.store->watchPlayingApplications();
        QTRY_COMPARE(rig.store->playingApplications().size(), std::size_t(2));
        const auto &groove = rig.store->playingApplications()[1];
        QVERIFY(groove.title == "Groove Player" && groove.iconName == "groove"
                && groove.processIds == QList<qint64>{4242});
        rig.store->toggleRecording(groove.target());
        QTRY_VERIFY(rig.store->isRecording(groove.target()));
        QTRY_VERIFY(rig.store->activeTake()->source);
        QCOMPARE(rig.server.lastTarget(), CaptureTarget::application("groove"));
        QCOMPARE(rig.store->activeRecordingInputSource(), std::optional(RecordingInputSource::application));
        QVERIFY(rig.statuses.contains("Recording Groove Player M4A"));
        // Only its own toggle stops it.
        const auto chat = CaptureTarget::application("Chat");
        QVERIFY(!rig.store->canToggleRecording(chat) && !rig.store->canToggleRecording(RecordingInputSource::macAudio));
        rig.store->toggleRecording(chat);
        QVERIFY(rig.store->isRecording(groove.target()));
        const auto final = rig.record();
        QVERIFY(final);
        const auto source = MetadataStore::load(*final)->source;
        QVERIFY(source->appName == "groove" && source->windowTitle == "Loop 4" && source->bundleIdentifier == "groove");
        // A stream that ends leaves the list.
        rig.server.report({rig.server.streams[1]});
        QTRY_COMPARE(rig.store->playingApplications().size(), std::size_t(1));
    }

    void leftOverTakesAreRecoveredOnceUnlessLockedByALiveProcess()
    {
        Rig rig;
        const auto work = rig.work();
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
