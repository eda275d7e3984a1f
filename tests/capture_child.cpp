// A recording process for the capture tests, which kill it mid-take.
// Arguments: FOLDER FORMAT SOURCE (raw values, e.g. "wavPCM" "macAudio", or
// "application:NAME"). Prints
// "recording PATH" once the take runs and "buffers N" after every 10 captured buffers;
// prints "failed TEXT" and exits with 1 when the take cannot start.

#include "base/AppError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CaptureTargets.h"
#include "media/FFmpegLogging.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"

#include <QCoreApplication>
#include <QTextStream>
#include <qcoro/qcorotask.h>

namespace {
/// "macAudio", "microphone" or "application:NAME".
CaptureTarget target(const QString &source)
{
    if (source.startsWith(QLatin1String("application:")))
        return CaptureTarget::application(source.section(u':', 1));
    return CaptureTargets::forInput(*RecordingInputSources::fromRawValue(source));
}

QCoro::Task<> record(AudioCaptureService &service, QStringList arguments)
{
    const RecordingEncodingSettings settings{*RecordingOutputFormats::fromRawValue(arguments[2]), AudioBitRate::kbps192,
                                             48000, 2};
    try {
        const auto url = co_await service.startRecording(arguments[1], settings, target(arguments[3]));
        QTextStream(stdout) << "recording " << url << Qt::endl;
    } catch (const std::exception &error) {
        QTextStream(stdout) << "failed " << errorText(error) << Qt::endl;
        QCoreApplication::exit(1);
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    PulseSoundServer server;
    SystemClock clock;
    AudioCaptureService service(server, clock);
    qint64 reported = 0;
    QObject::connect(&service, &AudioCaptureService::livePeaksChanged, [&] {
        for (; reported + 10 <= service.liveLevelCount(); reported += 10)
            QTextStream(stdout) << "buffers " << reported + 10 << Qt::endl;
    });
    const auto take = record(service, app.arguments());
    return app.exec();
}
