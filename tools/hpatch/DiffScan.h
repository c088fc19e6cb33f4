#pragma once

// The match search of the difference coding, after bsdiff: it follows one
// alignment between the new and the old file as long as it matches better
// than any other candidate by more than a few bytes, and extends matches
// approximately, so recompiled code whose addresses all moved becomes long
// steps whose diff bytes are mostly zeros.

#include "DiffCoding.h"
#include "HPatch.h"

#include <functional>

namespace hpatch {

class OldIndex;

// Receives each step with the new and old positions its diff bytes start at.
using StepSink = std::function<Result(const DiffStep &step, uint64_t newPos, uint64_t oldPos)>;
// Receives the new bytes done so far.
using ScanProgress = std::function<void(uint64_t done)>;

// Turns s[0, n) into steps against the indexed old file.
Result scanSegment(const OldIndex &index, const unsigned char *old, uint64_t oldSize, const unsigned char *s,
    uint64_t n, const StepSink &sink, const ScanProgress &progress);

} // namespace hpatch
