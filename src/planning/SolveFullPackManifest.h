#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

class GameUpdateContext;

// Records the newest version's full-pack file list (a file manifest) and its
// total size in ctx.newestInfo and in that version's entry of ctx.versionInfos.
// Files are kept in path order. Run it after SolveGuideManifest has set the newest version.
MORVANIEL_EXPORT void SolveFullPackManifest(QString manifestText, GameUpdateContext &ctx);

} // namespace Morvaniel
