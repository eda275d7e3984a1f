// The libFuzzer entry of one target; FUZZ_TARGET names the function of FuzzTargets it drives.

#include "FuzzTargets.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!FuzzTargets::FUZZ_TARGET(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))))
        std::abort();
    return 0;
}
