#include "store/RecordingWorkflow.h"

#include "analysis/WaveformService.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureTargets.h"
#include "capture/CaptureThreads.h"
#include "capture/PlayingApplications.h"
#include "import/SourceContextService.h"
#include "library/Formatters.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/UniqueFileNamer.h"
#include "media/MP3EncoderError.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"
#include "platform/Timer.h"
#include "store/EditingCommands.h"
#include "store/StoreContext.h"
#include "store/StoreSettings.h"
#include "store/TakeFinalizer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

using namespace std::chrono_literals;

namespace {
/// Stands in when no sound server was given: every take fails with a clear message.
class UnreachableSoundServer final : public SoundServer {
public:
    std::unique_ptr<CaptureSource> openCapture(const CaptureTarget &, int, int, CaptureSource::Handlers) override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
    std::vector<PlaybackStream> playbackStreams() override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
    std::unique_ptr<Watch> watchPlaybackStreams(WatchHandlers) override
    {
        throw SoundServerError(SoundServerError::Code::unreachable);
    }
};

SoundServer &unreachableSoundServer()
{
    static UnreachableSoundServer server;
    return server;
}

/// MP3 takes are captured into the work folder of their library.
bool isInWorkFolder(const QString &url)
{
    return UniqueFileNamer::libraryFolderOf(url) != QFileInfo(url).absolutePath();
}

/// Writes when \a take started and where its sound came from into the sidecar of \a url,
/// keeping what the sidecar already holds. The file itself is younger: finishing a take
/// writes a new one.
void saveTakeMetadata(const QString &url, const std::optional<QDateTime> &startedAt,
                      const std::optional<RecordingSourceContext> &source)
{
    if (!startedAt && !source)
        return;
    auto metadata =
        MetadataStore::load(url).value_or(RecordingMetadata::fresh(RecordingScanner::fileCreationDate(url)));
    if (startedAt)
        metadata.createdAt = *startedAt;
    if (source)
        metadata.source = source;
    MetadataStore::save(metadata, url);
}

QString startFailureText(const std::exception &error)
{
    using Code = AudioCaptureError::Code;
    const auto *captureError = dynamic_cast<const AudioCaptureError *>(&error);
    if (captureError && captureError->code() == Code::missingScreenCapturePermission)
        return QStringLiteral("Allow capturing the desktop's sound, then quit and reopen.");
    if (captureError && captureError->code() == Code::missingMicrophonePermission)
        return QStringLiteral("Enable Microphone permission, then try recording again.");
    return errorText(error);
}
} // namespace

RecordingWorkflow::RecordingWorkflow(Services services, QObject *parent)
    : QObject(parent), m_context(services.context), m_settings(services.settings), m_finalizer(services.finalizer),
      m_editing(services.editing),
      m_soundServer(services.soundServer ? *services.soundServer : unreachableSoundServer()),
      m_sources(services.sources), m_capture(std::make_unique<AudioCaptureService>(m_soundServer, m_context.clock())),
      m_playing(std::make_unique<PlayingApplications>(m_soundServer, m_context.clock())),
      m_elapsedTimer(m_context.clock().createTimer(this))
{
    const auto *capture = m_capture.get();
    connect(capture, &AudioCaptureService::windowChanged, this, &RecordingWorkflow::keptWindowChanged);
    connect(m_playing.get(), &PlayingApplications::changed, this, &RecordingWorkflow::playingApplicationsChanged);
    connect(capture, &AudioCaptureService::stateChanged, this, &RecordingWorkflow::mirrorCaptureState);
    connect(capture, &AudioCaptureService::activeURLChanged, this, &RecordingWorkflow::lockActiveFile);
    connect(capture, &AudioCaptureService::livePeaksChanged, this, &RecordingWorkflow::livePeaksChanged);
    connect(capture, &AudioCaptureService::activeURLChanged, this, &RecordingWorkflow::activeCaptureURLChanged);
    connect(capture, &AudioCaptureService::recordingInterrupted, this,
            [this](const QString &url, const QString &message) { keepInterruptedTake(url, message); });
    connect(m_elapsedTimer, &Timer::timeout, this, &RecordingWorkflow::updateElapsedText);
    if (services.foregroundMonitor)
        connect(services.foregroundMonitor, &ForegroundApplicationMonitor::applicationActivated, this,
                &RecordingWorkflow::noteForegroundApplication);
    applyKeptWindowSettings();
}

RecordingWorkflow::~RecordingWorkflow()
{
    // The service finishes an open take on its way out; nothing here listens any more.
    m_capture->disconnect(this);
    m_capture.reset();
}

std::optional<RecordingInputSource> RecordingWorkflow::activeInputSource() const
{
    return m_take ? std::optional(m_take->input) : std::nullopt;
}

std::optional<CaptureTarget> RecordingWorkflow::activeTarget() const
{
    return m_take ? std::optional(m_take->target) : std::nullopt;
}

const std::vector<float> &RecordingWorkflow::livePeaks() const
{
    return m_capture->livePeaks();
}

const std::optional<QString> &RecordingWorkflow::activeCaptureURL() const
{
    return m_capture->activeURL();
}

bool RecordingWorkflow::isBusy() const
{
    return m_take || m_capture->state().isTaking() || m_savingWindows > 0;
}

bool RecordingWorkflow::isRecording(RecordingInputSource source) const
{
    return m_captureState.is(CaptureState::Kind::recording) && activeInputSource() == source;
}

bool RecordingWorkflow::isRecording(const CaptureTarget &target) const
{
    return m_captureState.is(CaptureState::Kind::recording) && activeTarget() == target;
}

bool RecordingWorkflow::canToggle(RecordingInputSource source) const
{
    using Kind = CaptureState::Kind;
    if (m_captureState.is(Kind::preparing) || m_captureState.is(Kind::finishing))
        return false;
    if (m_captureState.is(Kind::recording))
        return activeInputSource() == source;
    return true;
}

bool RecordingWorkflow::canToggle(const CaptureTarget &target) const
{
    // While one application records, only its own toggle stops it.
    if (m_captureState.is(CaptureState::Kind::recording))
        return activeTarget() == target;
    return canToggle(CaptureTargets::inputOf(target));
}

void RecordingWorkflow::toggle(RecordingInputSource source)
{
    if (source != RecordingInputSource::application)
        toggle(CaptureTargets::forInput(source));
}

void RecordingWorkflow::toggle(const CaptureTarget &target)
{
    if (m_captureState.is(CaptureState::Kind::recording)) {
        if (activeTarget() == target)
            stop();
        return;
    }
    if (canToggle(target))
        start(target);
}

void RecordingWorkflow::watchPlayingApplications()
{
    m_playing->watch();
}

QString RecordingWorkflow::title(const CaptureTarget &target) const
{
    switch (target.kind) {
    case CaptureTarget::Kind::outputMonitor: return QStringLiteral("System Audio");
    case CaptureTarget::Kind::input: return QStringLiteral("Microphone");
    case CaptureTarget::Kind::application: break;
    }
    const auto playing = m_playing->find(target);
    return playing ? playing->title : target.applicationName;
}

QCoro::Task<> RecordingWorkflow::start(CaptureTarget target, std::optional<RecordingOutputFormat> format,
                                       std::optional<AudioBitRate> bitRate)
{
    // A refused start must not clear the fields of the take that is running.
    // A window being saved does not stop a take from starting.
    if (m_take || m_capture->state().isTaking()) {
        m_context.showFailure(lcCapture(), AudioCaptureError(AudioCaptureError::Code::alreadyRecording));
        co_return;
    }
    m_context.setStatus(QStringLiteral("Preparing recording"));
    const RecordingEncodingSettings settings{format.value_or(m_settings.recordingFormat()),
                                             bitRate.value_or(m_settings.aacBitRate()), 48000, 2};
    if (settings.format == RecordingOutputFormat::mp3LAME && !m_finalizer.canEncodeMP3()) {
        m_context.showFailure(lcCapture(), MP3EncoderError(MP3EncoderError::Code::missingEncoder));
        co_return;
    }
    const auto number = ++m_takeNumber;
    const auto source = CaptureTargets::inputOf(target);
    // An application take is labelled with what the desktop calls the application.
    const auto label =
        source == RecordingInputSource::application ? title(target) : RecordingInputSources::statusLabel(source);
    m_take = ActiveTake{settings, source, target, std::nullopt, std::nullopt, std::nullopt};
    emit activeInputSourceChanged();

    QPointer self(this);
    // The sound server is asked where the sound comes from while the capture starts.
    auto lookup = lookUpSource(target);
    try {
        auto begin = m_capture->startRecording(m_context.folder(), settings, target);
        co_await std::move(begin);
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        if (m_takeNumber == number)
            takeActiveTake();
        logShownFailure(lcCapture(), error);
        m_context.setStatus(startFailureText(error));
        co_return;
    }
    if (!self)
        co_return;
    m_context.setStatus(QStringLiteral("Recording ") + label + u' '
                        + RecordingOutputFormats::shortLabel(settings.format));
    auto found = co_await std::move(lookup);
    if (self && m_take && m_takeNumber == number)
        m_take->source = std::move(found);
}

QCoro::Task<std::optional<RecordingSourceContext>> RecordingWorkflow::lookUpSource(CaptureTarget target)
{
    if (target.kind == CaptureTarget::Kind::input)
        co_return RecordingSourceContext::microphone(m_context.clock().now());
    auto *server = &m_soundServer;
    auto *clock = &m_context.clock();
    // Part of starting a take: on the capture threads, never behind the shared pool's work.
    auto lookup = BackgroundTask::run(
        CaptureThreads::pool(), [server, clock, sources = m_sources, target, foreground = m_latestForegroundSourceApp] {
            const SourceContextService service(*server, *clock, sources);
            const auto own = QString::fromLatin1(ownBundleIdentifier);
            if (target.kind == CaptureTarget::Kind::application)
                return service.applicationCandidate(target, own);
            return service.bestCandidate(foreground, own);
        });
    try {
        co_return co_await std::move(lookup);
    } catch (const std::exception &error) {
        // A take without a known source is still a take.
        logIgnoredFailure(lcCapture(), error);
        co_return std::nullopt;
    }
}

QCoro::Task<std::optional<QString>> RecordingWorkflow::stop(bool analyze)
{
    // A refused stop must not clear the fields of a take that is starting.
    if (!m_capture->state().is(CaptureState::Kind::recording)) {
        m_context.showFailure(lcCapture(), AudioCaptureError(AudioCaptureError::Code::noActiveRecording));
        co_return std::nullopt;
    }
    QPointer self(this);
    m_context.setStatus(QStringLiteral("Saving recording"));
    QString captureURL;
    try {
        auto end = m_capture->stopRecording();
        captureURL = co_await std::move(end);
    } catch (const std::exception &error) {
        if (self) {
            takeActiveTake();
            m_context.showFailure(lcCapture(), error);
        }
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    // From here a new take may start: this one keeps its settings, source and lock to itself.
    auto take = takeActiveTake();
    auto finished = storedSettingsTake();
    if (take)
        finished = std::move(*take);
    auto publishing = publish(captureURL, std::move(finished), analyze);
    co_return co_await std::move(publishing);
}

QCoro::Task<std::optional<QString>> RecordingWorkflow::publish(QString captureURL, ActiveTake take, bool analyze)
{
    QPointer self(this);
    QString saved;
    try {
        auto keep = save(captureURL, std::move(take));
        saved = co_await std::move(keep);
    } catch (const std::exception &error) {
        if (self)
            m_context.showFailure(lcCapture(), error);
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    co_await rememberWaveform(captureURL, saved);
    if (!self)
        co_return std::nullopt;
    co_await m_context.refresh(saved);
    if (!self || !analyze)
        co_return saved;
    auto analysis = m_editing.analyze(saved);
    const auto analyzed = co_await std::move(analysis);
    co_return analyzed.value_or(saved);
}

QCoro::Task<> RecordingWorkflow::finishForExit()
{
    if (m_capture->state().is(CaptureState::Kind::recording))
        co_await stop(false);
}

QCoro::Task<QString> RecordingWorkflow::save(QString captureURL, ActiveTake take)
{
    if (take.settings.format == RecordingOutputFormat::mp3LAME)
        m_context.setStatus(QStringLiteral("Encoding MP3"));
    QPointer self(this);
    auto finalize = m_finalizer.finalize(captureURL, UniqueFileNamer::libraryFolderOf(captureURL), take.settings);
    const auto result = co_await std::move(finalize);
    // The take keeps its date and source even when nobody is left to report it. The sidecar is
    // written on the capture's threads, away from the window and from long analyses; the take's
    // lock is held until it is.
    auto describe =
        BackgroundTask::run(CaptureThreads::pool(), [url = result.url, at = take.startedAt, source = take.source] {
            saveTakeMetadata(url, at, source);
        });
    co_await std::move(describe);
    if (self)
        m_context.setStatus(result.status);
    co_return result.url;
}

QCoro::Task<> RecordingWorkflow::keepInterruptedTake(QString url, QString message)
{
    QPointer self(this);
    auto take = takeActiveTake();
    auto kept = storedSettingsTake();
    if (take)
        kept = std::move(*take);
    // The file's place tells how it was captured: the work folder holds MP3 takes.
    if (isInWorkFolder(url))
        kept.settings.format = RecordingOutputFormat::mp3LAME;
    else if (kept.settings.format == RecordingOutputFormat::mp3LAME)
        kept.settings.format = RecordingOutputFormat::wavPCM;
    QString final = url;
    try {
        auto keep = save(url, std::move(kept));
        final = co_await std::move(keep);
    } catch (const std::exception &error) {
        // A take left in the work folder is recovered at the next start.
        logIgnoredFailure(lcCapture(), error);
    }
    if (!self)
        co_return;
    m_context.setStatus(message.isEmpty() ? AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text()
                                          : message);
    co_await rememberWaveform(url, final);
    if (!self)
        co_return;
    co_await m_context.refresh(final);
    if (self)
        emit interruptedTakeSaved(final);
}

QCoro::Task<> RecordingWorkflow::rememberWaveform(QString captureURL, QString saved)
{
    // A WAV or AIFF take is stored as it was captured: the levels kept while writing it are its
    // own, read before the analysis may rename it. Other takes were encoded since: decoded.
    const auto peaks = m_capture->peaksOf(captureURL);
    if (peaks && saved == captureURL) {
        auto remember =
            m_context.waveforms().rememberFinePeaks(saved, peaks->finePeaks(), peaks->fineFrames(), peaks->frames());
        co_await std::move(remember);
    } else {
        m_context.prepareWaveform(saved);
    }
}

ActiveTake RecordingWorkflow::storedSettingsTake() const
{
    return {{m_settings.recordingFormat(), m_settings.aacBitRate(), 48000, 2},
            RecordingInputSource::macAudio,
            CaptureTarget::defaultOutput(),
            {},
            {},
            {}};
}

int RecordingWorkflow::keptSeconds() const
{
    return m_capture->windowSeconds();
}

std::optional<CaptureTarget> RecordingWorkflow::keptTarget() const
{
    return m_capture->windowTarget();
}

bool RecordingWorkflow::isListening() const
{
    return m_capture->isListening();
}

QString RecordingWorkflow::keptWindowProblem() const
{
    return m_capture->windowProblem();
}

bool RecordingWorkflow::startsFromKeptWindow() const
{
    return m_capture->preRoll();
}

void RecordingWorkflow::applyKeptWindowSettings()
{
    const auto input = m_settings.keptInput();
    auto target = CaptureTargets::forInput(input);
    if (input == RecordingInputSource::application)
        target = CaptureTarget::application(m_settings.keptApplication());
    const bool known = input != RecordingInputSource::application || !target.applicationName.isEmpty();
    m_capture->setPreRoll(m_settings.flag(StoreSettings::preRollKey, false));
    m_capture->keepWindow(known ? std::optional(target) : std::nullopt, m_settings.keepSeconds());
}

QCoro::Task<std::optional<QString>> RecordingWorkflow::saveKeptWindow()
{
    const auto target = m_capture->windowTarget();
    if (!target) {
        m_context.showFailure(lcCapture(), AudioCaptureError(AudioCaptureError::Code::notKeeping));
        co_return std::nullopt;
    }
    const RecordingEncodingSettings settings{m_settings.recordingFormat(), m_settings.aacBitRate(), 48000, 2};
    if (settings.format == RecordingOutputFormat::mp3LAME && !m_finalizer.canEncodeMP3()) {
        m_context.showFailure(lcCapture(), MP3EncoderError(MP3EncoderError::Code::missingEncoder));
        co_return std::nullopt;
    }
    QPointer self(this);
    ++m_savingWindows;
    m_context.setStatus(QStringLiteral("Saving the last %1 seconds").arg(m_capture->windowSeconds()));
    auto lookup = lookUpSource(*target);
    // Locked from the moment it has a name, like a running take's file.
    auto lock = std::make_shared<std::optional<TakeLock>>();
    QString captureURL;
    try {
        auto saving = m_capture->saveWindow(m_context.folder(), settings,
                                            [lock](const QString &url) { *lock = TakeLock::acquire(url); });
        captureURL = co_await std::move(saving);
    } catch (const std::exception &error) {
        if (self) {
            --m_savingWindows;
            m_context.showFailure(lcCapture(), error);
        }
        co_return std::nullopt;
    }
    auto found = co_await std::move(lookup);
    if (!self)
        co_return std::nullopt;
    ActiveTake take{settings, CaptureTargets::inputOf(*target), *target, std::move(found), std::move(*lock), {}};
    auto publishing = publish(captureURL, std::move(take), true);
    auto saved = co_await std::move(publishing);
    if (self)
        --m_savingWindows;
    co_return saved;
}

std::optional<ActiveTake> RecordingWorkflow::takeActiveTake()
{
    auto take = std::exchange(m_take, std::nullopt);
    if (take)
        emit activeInputSourceChanged();
    return take;
}

void RecordingWorkflow::mirrorCaptureState()
{
    m_captureState = m_capture->state();
    if (m_captureState.is(CaptureState::Kind::recording) && m_take && !m_take->startedAt)
        m_take->startedAt = m_captureState.startedAt();
    emit captureStateChanged();
    m_elapsedTimer->stop();
    if (m_captureState.is(CaptureState::Kind::recording))
        m_elapsedTimer->start(500ms, true);
    updateElapsedText();
}

void RecordingWorkflow::updateElapsedText()
{
    const bool recording = m_captureState.is(CaptureState::Kind::recording);
    const auto text = recording
        ? TimeText::clock(double(m_captureState.startedAt().msecsTo(m_context.clock().now())) / 1000.0)
        : QStringLiteral("00:00");
    if (text != m_elapsedText) {
        m_elapsedText = text;
        emit elapsedTextChanged();
    }
}

void RecordingWorkflow::lockActiveFile()
{
    if (const auto &url = m_capture->activeURL(); url && m_take && !m_take->lock)
        m_take->lock = TakeLock::acquire(*url);
}

void RecordingWorkflow::noteForegroundApplication(const RunningApplication &application)
{
    if (application.processIdentifier == QCoreApplication::applicationPid()
        || application.bundleIdentifier == QString::fromLatin1(ownBundleIdentifier))
        return;
    m_latestForegroundSourceApp = application;
}
