// A recording process for the capture tests, which kill it mid-take.
// Arguments: FOLDER FORMAT SOURCE (raw values, e.g. "wavPCM" "macAudio"). Prints
// "recording PATH" once the take runs and "buffers N" after every 25 captured buffers;
// prints "failed TEXT" and exits with 1 when the take cannot start.

#include "base/AppError.h"
#include "capture/AudioCaptureService.h"
#include "media/FFmpegLogging.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"

#include <QCoreApplication>
#include <QTextStream>
#include <qcoro/qcorotask.h>

namespace {
QCoro::Task<> record(AudioCaptureService &service, QString folder, RecordingEncodingSettings settings,
                     RecordingInputSource source)
{
    QTextStream out(stdout);
    try {
        const auto url = co_await service.startRecording(folder, settings, source);
        out << "recording " << url << Qt::endl;
    } catch (const std::exception &error) {
        out << "failed " << errorText(error) << Qt::endl;
        QCoreApplication::exit(1);
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    const auto arguments = app.arguments();
    const auto format = arguments.size() == 4 ? RecordingOutputFormats::fromRawValue(arguments[2]) : std::nullopt;
    const auto source = arguments.size() == 4 ? RecordingInputSources::fromRawValue(arguments[3]) : std::nullopt;
    if (!format || !source) {
        QTextStream(stderr) << "usage: capture_child FOLDER FORMAT SOURCE" << Qt::endl;
        return 2;
    }
    PulseSoundServer server;
    SystemClock clock;
    AudioCaptureService service(server, clock);
    int buffers = 0;
    QObject::connect(&service, &AudioCaptureService::livePeaksChanged, [&] {
        if (!service.livePeaks().empty() && ++buffers % 25 == 0)
            QTextStream(stdout) << "buffers " << buffers << Qt::endl;
    });
    const auto take = record(service, arguments[1], {*format, AudioBitRate::kbps192, 48000, 2}, *source);
    return app.exec();
}
