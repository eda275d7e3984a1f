#include "media/FFmpegLogging.h"

extern "C" {
#include <libavutil/log.h>
}

void configureFFmpegLogging()
{
    av_log_set_level(AV_LOG_QUIET);
}
