// The 2.4 GiB pair: beyond zstd's largest window, so only our programs run
// on it; what creating and applying cost in time and memory.
#pragma once

#include <string>

namespace PatchBench {

// Skips (with the reason) when the scratch folder has less than 10 GiB free.
// False when a program failed or the result differs from the new file.
bool measureLongPair(const std::string &dir, const std::string &bin);

} // namespace PatchBench
