// The merge stage (MergeThread running hpatchz) against hpatchz run directly
// on the same files, in turns, best of a few rounds: what the stage adds.
#pragma once

#include <string>

namespace PatchBench {

// Prints its line and rows; false when a run failed or a result differs.
bool measureMergeStage(const std::string &dir, const std::string &bin, const std::string &oldPath,
    const std::string &newPath, const std::string &patchPath, int rounds, const std::string &label);

} // namespace PatchBench
