// Real compiled libraries of two consecutive Debian releases: the changes a
// rebuilt binary brings (shifted addresses, relocated code) that generated
// content cannot imitate. The packages are fetched once and kept in a cache.
#pragma once

#include "PairKinds.h"

#include <string>
#include <vector>

namespace PatchBench {

// One pair per library. A pair whose package cannot be fetched (no network,
// the version gone from the archive) fails with the reason.
std::vector<PairKind> debianPairs(const std::string &cacheDir);

} // namespace PatchBench
