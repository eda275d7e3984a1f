#include "ToolCommand.h"

#include "StopSignals.h"
#include "base/AudioBitRate.h"
#include "base/NumberRange.h"
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
    if (const auto input = context.takeOption(QStringLiteral("--input"))) {
        if (*input == QStringLiteral("mic"))
            options.input = RecordingInputSource::microphone;
        else if (*input != QStringLiteral("mac"))
            return rejected(context, QStringLiteral("--input takes mac or mic."));
    }
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

QCoro::Task<int> recordCommand(ToolContext &context)
{
    const auto options = recordOptions(context);
    if (!options)
        co_return 2;
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

    auto start = store->startRecording(options->input, options->format, options->bitRate);
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
         QStringLiteral("record [--input mac|mic] [--format aacM4A|mp3LAME|wavPCM|aiffPCM] "
                        "[--bitrate 128|192|256|320] [--seconds S] [--folder DIR]"),
         QStringLiteral("Records the computer's sound or the microphone until S seconds pass or Ctrl-C; the format "
                        "and bit rate apply to this take only. Prints the saved file's path."),
         recordCommand},
    };
}

#include "CaptureCommands.moc"
