#include "ToolCommand.h"

#include "StopSignals.h"
#include "base/AppError.h"
#include "base/AudioBitRate.h"
#include "base/NumberRange.h"
#include "capture/CaptureTargets.h"
#include "capture/PlayingApplication.h"
#include "capture/RecordingOutputFormat.h"
#include "store/RecordingLibraryStore.h"

#include <QTimer>
#include <qcoro/qcorosignal.h>

#include <cmath>
#include <unistd.h>

namespace {

/// A timer whose expiry can be awaited: QCoro's await of QTimer::timeout binds a reference to
/// the signal's private tag, which Qt passes as a null pointer.
class StopTimer : public QTimer {
    Q_OBJECT
public:
    StopTimer()
    {
        setSingleShot(true);
        connect(this, &QTimer::timeout, this, &StopTimer::expired);
    }

signals:
    void expired();
};

struct RecordOptions {
    RecordingInputSource input = RecordingInputSource::macAudio;
    std::optional<QString> application; ///< a name or a process id
    std::optional<RecordingOutputFormat> format;
    std::optional<AudioBitRate> bitRate;
    std::optional<double> seconds;
};

std::nullopt_t rejected(ToolContext &context, const QString &message)
{
    context.fail(message);
    return std::nullopt;
}

/// The options of "record"; none (after reporting) when one is wrong.
std::optional<RecordOptions> recordOptions(ToolContext &context)
{
    RecordOptions options;
    options.application = context.takeOption(QStringLiteral("--app"));
    if (options.application)
        options.input = RecordingInputSource::application;
    if (const auto input = context.takeOption(QStringLiteral("--input"))) {
        if (*input == QStringLiteral("mic"))
            options.input = RecordingInputSource::microphone;
        else if (*input == QStringLiteral("app"))
            options.input = RecordingInputSource::application;
        else if (*input != QStringLiteral("mac"))
            return rejected(context, QStringLiteral("--input takes mac, mic or app."));
    }
    if (options.input == RecordingInputSource::application && !options.application)
        return rejected(context,
                        QStringLiteral("--input app needs --app NAME or PID; “apps” lists the "
                                       "applications playing now."));
    if (options.input != RecordingInputSource::application && options.application)
        return rejected(context, QStringLiteral("--app goes with --input app."));
    if (const auto format = context.takeOption(QStringLiteral("--format"))) {
        options.format = RecordingOutputFormats::fromRawValue(*format);
        if (!options.format)
            return rejected(context, QStringLiteral("--format takes aacM4A, mp3LAME, wavPCM or aiffPCM."));
    }
    if (const auto rate = context.takeOption(QStringLiteral("--bitrate"))) {
        bool ok = false;
        const auto kbps = rate->toLongLong(&ok);
        options.bitRate = ok ? AudioBitRates::fromKilobits(kbps) : std::nullopt;
        if (!options.bitRate)
            return rejected(context, QStringLiteral("--bitrate takes 128, 192, 256 or 320."));
    }
    if (const auto seconds = context.takeOption(QStringLiteral("--seconds"))) {
        bool ok = false;
        options.seconds = seconds->toDouble(&ok);
        if (!ok || !std::isfinite(*options.seconds) || *options.seconds <= 0)
            return rejected(context, QStringLiteral("--seconds takes a positive number."));
    }
    if (!context.arguments().isEmpty())
        return rejected(context, QStringLiteral("record does not take “%1”.").arg(context.arguments().first()));
    return options;
}

/// Shows the store's status texts and elapsed time on standard error.
void showProgress(ToolContext &context, RecordingLibraryStore &store, QObject &guard)
{
    const bool terminal = ::isatty(STDERR_FILENO);
    QObject::connect(&store, &RecordingLibraryStore::elapsedTextChanged, &guard, [&context, &store, terminal] {
        if (!store.captureState().is(CaptureState::Kind::recording))
            return;
        context.err() << (terminal ? QStringLiteral("\r") : QString()) << store.elapsedText()
                      << (terminal ? QString() : QStringLiteral("\n"));
        context.err().flush();
    });
    QObject::connect(&store, &RecordingLibraryStore::statusMessageChanged, &guard, [&context, &store, terminal] {
        if (const auto &status = store.statusMessage(); status && !status->isEmpty()) {
            context.err() << (terminal ? QStringLiteral("\r\033[K") : QString()) << *status << Qt::endl;
        }
    });
}

/// The application \a asked names (its name, its desktop name or one of its process ids) among
/// those playing; a name that plays nothing now is recorded once it does. None (after
/// reporting) for a process that plays nothing.
std::optional<CaptureTarget> applicationTarget(ToolContext &context, const QString &asked)
{
    std::vector<PlayingApplication> playing;
    try {
        playing = context.playingApplications();
    } catch (const std::exception &) {
        // The take itself reports an unreachable sound server.
    }
    bool isNumber = false;
    const auto process = asked.toLongLong(&isNumber);
    for (const auto &application : playing) {
        if (isNumber && application.processIds.contains(process))
            return CaptureTarget::application(application.name, process);
        if (!isNumber
            && (application.name.compare(asked, Qt::CaseInsensitive) == 0
                || application.title.compare(asked, Qt::CaseInsensitive) == 0))
            return application.target();
    }
    if (isNumber) {
        context.fail(QStringLiteral("No application plays with the process id %1.").arg(process));
        return std::nullopt;
    }
    context.err() << QStringLiteral("“%1” plays nothing now; the take has its sound once it plays.").arg(asked)
                  << Qt::endl;
    return CaptureTarget::application(asked);
}

QCoro::Task<int> appsCommand(ToolContext &context)
{
    if (!context.arguments().isEmpty())
        co_return context.usage(QStringLiteral("apps does not take “%1”.").arg(context.arguments().first()));
    std::vector<PlayingApplication> playing;
    try {
        playing = context.playingApplications();
    } catch (const std::exception &error) {
        co_return context.fail(errorText(error));
    }
    if (playing.empty())
        context.err() << "No application is playing." << Qt::endl;
    for (const auto &application : playing) {
        QStringList processes;
        for (const auto process : application.processIds)
            processes << QString::number(process);
        context.out() << application.name << u'\t' << processes.join(u',') << u'\t' << application.title << Qt::endl;
    }
    co_return 0;
}

QCoro::Task<int> recordCommand(ToolContext &context)
{
    const auto options = recordOptions(context);
    if (!options)
        co_return 2;
    auto target = CaptureTargets::forInput(options->input);
    if (options->application) {
        const auto found = applicationTarget(context, *options->application);
        if (!found)
            co_return 1;
        target = *found;
    }
    StopSignals stopSignals;
    StopTimer stopTimer;
    bool stopRequested = false;
    stopSignals.onSignal([&] {
        stopRequested = true;
        stopTimer.start(0);
    });

    auto *store = co_await context.store();
    QObject guard;
    showProgress(context, *store, guard);
    // A take that ends by itself is reported once, with the file that keeps it.
    std::optional<QString> interruptedTake;
    QObject::connect(store, &RecordingLibraryStore::interruptedTakeSaved, &guard, [&](const QString &url) {
        interruptedTake = url;
        stopTimer.start(0);
    });

    auto start = store->startRecording(target, options->format, options->bitRate);
    co_await std::move(start);
    if (!store->captureState().is(CaptureState::Kind::recording))
        co_return 1;
    if (options->seconds && !stopRequested)
        stopTimer.start(
            std::chrono::milliseconds(NumberRange::clampedInteger<int>(*options->seconds * 1000, 1, INT_MAX)));
    if (!stopRequested)
        co_await qCoro(&stopTimer, &StopTimer::expired);
    // The source may have ended just before the stop: its take is being kept already.
    if (!interruptedTake && !store->captureState().is(CaptureState::Kind::recording))
        interruptedTake = co_await qCoro(store, &RecordingLibraryStore::interruptedTakeSaved);
    if (interruptedTake) {
        context.out() << *interruptedTake << Qt::endl;
        co_return 1;
    }
    auto stop = store->stopRecording();
    const auto final = co_await std::move(stop);
    if (!final)
        co_return 1;
    context.out() << *final << Qt::endl;
    co_return 0;
}

} // namespace

std::vector<ToolCommand> captureCommands()
{
    return {
        {QStringLiteral("record"),
         QStringLiteral("record [--input mac|mic|app] [--app NAME|PID] [--format aacM4A|mp3LAME|wavPCM|aiffPCM] "
                        "[--bitrate 128|192|256|320] [--seconds S] [--folder DIR]"),
         QStringLiteral("Records the computer's sound, the microphone or one application alone until S seconds pass "
                        "or Ctrl-C; the format and bit rate apply to this take only. Prints the saved file's path."),
         recordCommand},
        {QStringLiteral("apps"), QStringLiteral("apps"),
         QStringLiteral("Lists the applications playing now, which record --input app --app takes: their name, "
                        "process ids and title, tab-separated."),
         appsCommand},
    };
}

#include "CaptureCommands.moc"
