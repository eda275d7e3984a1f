#include "media/AudioPlaybackService.h"

#include "base/AppError.h"
#include "media/AudioFileReader.h"
#include "media/PlaybackFeeder.h"
#include "media/PlaybackSegments.h"
#include "media/PlayheadClock.h"
#include "platform/PulseAudioOutput.h"
#include "platform/SoundServerError.h"

#include <QTimer>
#include <atomic>
#include <mutex>
#include <thread>

namespace {
/// How often the heard time is published.
constexpr auto tickInterval = std::chrono::milliseconds(33);
/// How long the feeder sleeps at most between looks at the stream.
constexpr auto feederWake = std::chrono::milliseconds(10);
/// Frames written per write at most.
constexpr qint64 writeFrames = 4096;
/// After the last frame was written, how long a stream whose clock stands still counts as done.
constexpr auto drainStall = std::chrono::milliseconds(300);
} // namespace

/// One play: the feeder thread and what it shares with the GUI thread.
struct AudioPlaybackService::Session {
    QString url;
    std::mutex mutex;
    PlaybackSelection selection; ///< guarded by mutex
    quint64 generation = 0;      ///< guarded by mutex; counts selection changes
    bool restart = false;        ///< guarded by mutex; continue from the selection's start
    QString errorText;           ///< guarded by mutex
    std::atomic<bool> stopRequested = false;
    std::atomic<bool> started = false;
    std::atomic<bool> ended = false;
    std::atomic<bool> failed = false;
    std::atomic<bool> done = false;
    std::atomic<double> heardTime = -1;
    std::thread thread;

    void run(const AudioOutput::Opener &openOutput);
    void feed(const AudioOutput::Opener &openOutput);
};

void AudioPlaybackService::Session::run(const AudioOutput::Opener &openOutput)
{
    try {
        feed(openOutput);
    } catch (const std::exception &error) {
        const std::lock_guard lock(mutex);
        errorText = ::errorText(error);
        failed = true;
    }
    done = true;
}

void AudioPlaybackService::Session::feed(const AudioOutput::Opener &openOutput)
{
    AudioFileReader reader(url);
    const auto rate = reader.sampleRate();
    const auto channels = reader.channelCount();
    PlaybackFeeder feeder(reader);
    quint64 seenGeneration = 0;
    {
        const std::lock_guard lock(mutex);
        feeder.setSelection(selection);
        seenGeneration = generation;
        restart = false;
    }
    feeder.seekToStart();
    if (stopRequested)
        return;
    auto output = openOutput(int(rate), channels);
    PlaybackSegments segments;
    PlayheadClock playhead{int(rate)};
    qint64 streamFrame = 0;
    bool flushed = false;
    std::vector<float> chunk;
    qint64 lastHeard = -1;
    auto lastProgress = std::chrono::steady_clock::now();

    while (!stopRequested) {
        bool restartNow = false;
        {
            const std::lock_guard lock(mutex);
            if (generation != seenGeneration) {
                feeder.setSelection(selection);
                seenGeneration = generation;
            }
            std::swap(restartNow, restart);
        }
        if (restartNow) {
            // What is queued in the stream belongs to the old place: start a fresh stream.
            output.reset();
            feeder.seekToStart();
            heardTime = double(feeder.position()) / rate;
            output = openOutput(int(rate), channels);
            segments = {};
            playhead = PlayheadClock(int(rate));
            streamFrame = 0;
            flushed = false;
            lastHeard = -1;
        }
        for (auto room = output->writableFrames(); room > 0 && !feeder.finished() && !stopRequested;) {
            chunk.clear();
            const auto frames = feeder.fill(chunk, std::min(room, writeFrames), segments, streamFrame);
            if (frames == 0)
                break;
            output->write(chunk.data(), frames);
            streamFrame += frames;
            room -= frames;
        }
        if (streamFrame > 0)
            started = true;
        if (feeder.finished() && !flushed) {
            output->flushOut();
            flushed = true;
        }
        const auto heard = output->heardFrame();
        const auto now = std::chrono::steady_clock::now();
        if (const auto frame = segments.fileFrameAt(playhead.frameAt(now, heard, streamFrame)))
            heardTime = double(*frame) / rate;
        segments.dropBefore(heard);
        if (output->failed())
            throw SoundServerError(SoundServerError::Code::streamFailed);
        if (heard != lastHeard) {
            lastHeard = heard;
            lastProgress = now;
        }
        // The stream's clock may stop a rounding short of the last frame.
        if (feeder.finished() && (heard + qint64(rate) / 1000 >= streamFrame || now - lastProgress > drainStall)) {
            ended = true;
            return;
        }
        output->waitForRequest(feederWake);
    }
}

AudioPlaybackService::AudioPlaybackService(AudioOutput::Opener openOutput, QObject *parent)
    : QObject(parent), m_openOutput(std::move(openOutput)), m_ticker(new QTimer(this))
{
    m_ticker->setInterval(tickInterval);
    m_ticker->setTimerType(Qt::PreciseTimer);
    connect(m_ticker, &QTimer::timeout, this, &AudioPlaybackService::poll);
}

AudioPlaybackService::AudioPlaybackService(QObject *parent) : AudioPlaybackService(PulseAudioOutput::opener(), parent)
{}

AudioPlaybackService::~AudioPlaybackService()
{
    stop();
    reapFinished(true);
}

void AudioPlaybackService::play(const QString &url, double start, std::optional<double> end, bool loop)
{
    stop();
    m_selection = PlaybackSelection::normalized(start, end, loop);
    setCurrentTime(m_selection.start);
    auto session = std::make_shared<Session>();
    session->url = url;
    session->selection = m_selection;
    session->thread = std::thread(&Session::run, session.get(), m_openOutput);
    m_session = std::move(session);
    m_ticker->start();
}

void AudioPlaybackService::stop()
{
    if (m_session) {
        m_session->stopRequested = true;
        m_stopping.push_back(std::move(m_session));
        m_session.reset();
    }
    m_ticker->stop();
    m_selection.loop = false;
    m_selection.end.reset();
    setPlaying(false);
    reapFinished(false);
}

void AudioPlaybackService::updateSelection(double start, std::optional<double> end, bool loop)
{
    m_selection = PlaybackSelection::normalized(start, end, loop);
    if (!m_session)
        return;
    bool restart = false;
    if (m_currentTime < m_selection.start) {
        restart = true;
    } else if (m_selection.end && m_currentTime >= *m_selection.end) {
        if (!m_selection.loop) {
            stop();
            return;
        }
        restart = true;
    }
    if (restart)
        setCurrentTime(m_selection.start);
    const std::lock_guard lock(m_session->mutex);
    m_session->selection = m_selection;
    ++m_session->generation;
    m_session->restart = m_session->restart || restart;
}

void AudioPlaybackService::poll()
{
    reapFinished(false);
    if (!m_session)
        return;
    const auto heard = m_session->heardTime.load();
    if (heard >= 0)
        setCurrentTime(heard);
    if (m_session->failed) {
        QString text;
        {
            const std::lock_guard lock(m_session->mutex);
            text = m_session->errorText;
        }
        stop();
        emit failed(text);
        return;
    }
    if (m_session->ended) {
        stop();
        return;
    }
    if (m_session->started)
        setPlaying(true);
}

void AudioPlaybackService::setPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    emit isPlayingChanged(playing);
}

void AudioPlaybackService::setCurrentTime(double seconds)
{
    if (m_currentTime == seconds)
        return;
    m_currentTime = seconds;
    emit currentTimeChanged(seconds);
}

void AudioPlaybackService::reapFinished(bool wait)
{
    std::erase_if(m_stopping, [wait](const std::shared_ptr<Session> &session) {
        if (!wait && !session->done)
            return false;
        if (session->thread.joinable())
            session->thread.join();
        return true;
    });
}
