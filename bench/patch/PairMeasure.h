// One pair of files through our patch programs and the peer tools: patch
// sizes of all, and time and memory of creating and applying for ours and
// `zstd --patch-from`. Every applied result is compared with the new file.
#pragma once

#include "ChildRun.h"

#include <cstdint>
#include <string>

namespace PatchBench {

enum Tool { Ours, Zstd, Xdelta, Bsdiff, ToolCount };

constexpr long long TooLarge = -1; // not run: the pair is above the tool's size bound
constexpr long long Failed = -2; // failed, or its result differs from the new file
constexpr long long TimedOut = -3; // stopped at its time limit

struct PairFigures
{
    std::string name;
    std::string skipped; // why the pair was not measured, "" when it was
    long long oldBytes = 0;
    long long newBytes = 0;
    long long patchBytes[ToolCount] = { Failed, Failed, Failed, Failed };
    ChildRun create[2]; // Ours, Zstd
    ChildRun apply[2];
    double applySeconds[2] = { 0, 0 }; // the run plus the flush of its output
    bool measured() const { return skipped.empty(); }
    // Ours against the smallest patch of a peer; 0 when either is missing.
    double oursToBestPeer() const;
};

struct MeasureSettings
{
    std::string bin; // where hdiffz and hpatchz are
    std::string dir; // scratch folder
    uint64_t bsdiffBound = 0; // bsdiff runs only when both files are smaller
    double bsdiffSeconds = 0; // and is stopped after this long
};

// Measures the pair; leaves our patch as dir/ours.patch.
PairFigures measurePair(
    const MeasureSettings &s, const std::string &name, const std::string &oldPath, const std::string &newPath);

long long fileSize(const std::string &path);

// Flushes the file's data to the disk; returns the seconds it took.
double flushFile(const std::string &path);

bool sameContent(const std::string &a, const std::string &b);

} // namespace PatchBench
