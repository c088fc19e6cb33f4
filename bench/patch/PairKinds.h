// The kinds of file pairs the patch benchmark measures, each made from fixed
// seeds: what a game update changes in its paks, and the cases that are hard
// for a patch format (moved data, recompressed data, growth, shrinkage).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace PatchBench {

// Makes the old and the new file; returns why it could not ("" on success).
using PairMaker = std::function<std::string(const std::string &oldPath, const std::string &newPath)>;

struct PairKind
{
    std::string name;
    PairMaker make;
};

// The generated pairs, their sizes scaled from the mixed pak's size in MiB.
std::vector<PairKind> generatedPairs(uint64_t pakMiB);

// Old file of `mib` MiB, a quarter of it empty (written as holes), and a new
// one with edits spread across the whole range.
std::string makeLongPair(uint64_t mib, const std::string &oldPath, const std::string &newPath);

} // namespace PatchBench
