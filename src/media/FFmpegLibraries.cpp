#include "media/FFmpegLibraries.h"

#include "base/Logging.h"

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/version.h>
#include <libavutil/macros.h>
}

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

namespace FFmpegLibraries {
namespace {

std::atomic<bool> anyLoaded = false;

/// The library of the major version the program was built against, loaded once.
void *handle(Library library)
{
    static std::once_flag codecOnce, formatOnce;
    static void *codec = nullptr, *format = nullptr;
    const bool isCodec = library == Library::codec;
    const char *name = isCodec ? "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR)
                               : "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    std::call_once(isCodec ? codecOnce : formatOnce, [&] {
        void *loaded = ::dlopen(name, RTLD_LAZY | RTLD_LOCAL);
        if (!loaded) {
            // As the dynamic loader would have refused to start the program without it.
            qCCritical(lcMedia, "cannot load %s: %s", name, ::dlerror());
            std::abort();
        }
        (isCodec ? codec : format) = loaded;
        anyLoaded = true;
    });
    return isCodec ? codec : format;
}

} // namespace

void *symbol(Library library, const char *name)
{
    void *address = ::dlsym(handle(library), name);
    if (!address) {
        qCCritical(lcMedia, "the installed FFmpeg has no %s: %s", name, ::dlerror());
        std::abort();
    }
    return address;
}

bool loaded()
{
    return anyLoaded;
}

} // namespace FFmpegLibraries
