#pragma once

#include <cstdint>

namespace Morvaniel {

// GameUpdateContext::planResult, as SolveGuideManifest leaves it.
enum PlanResult : std::int32_t {
    PlanResultPlanned = 0, // a plan was made, or the game is current and nothing is needed
    PlanResultInstalledIsNewer = 6, // the installed version is newer than the server's; nothing planned
    PlanResultNoFullPack = 7, // the manifest lists no full pack for its newest version; nothing planned
    PlanResultFullPackInstead = 8, // no usable patch chain; the newest full packs were planned
    // Signed releases are on and the manifest text was not checked against the
    // accepted release; nothing planned.
    PlanResultUncheckedText = 9,
};

// GameUpdateContext::updateMode. The two repair values switch the same things:
// the verifier checks every file and lists every bad one, and the extractor
// keeps the target folder's content. Every other value means a plain update.
enum UpdateMode : std::int32_t {
    UpdateModeUpdate = 0,
    UpdateModeRepair = 1,
    UpdateModeRepairAlternate = 4,
};

constexpr bool IsRepairMode(std::int32_t mode)
{
    return mode == UpdateModeRepair || mode == UpdateModeRepairAlternate;
}

} // namespace Morvaniel
