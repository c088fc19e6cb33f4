// libFuzzer driver for the patch tool's reader: any 48 bytes either are
// refused or give a header whose segment arithmetic stays inside the files and
// inside zstd's window, so hpatchz never maps or allocates past them; the
// segments after it decode or fail cleanly, never outside their buffers.
#include "PatchHeaderCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string error = checkPatchHeader(data, size);
    if (!error.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
