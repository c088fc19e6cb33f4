#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

class GameUpdateContext;

// Works out, from the launcher's guide manifest and ctx.launcherInfo's baseUrl
// and currentVersion, the newest and current launcher manifest addresses and the
// newest full pack's address and size. Plans no download: the host decides.
MORVANIEL_EXPORT void SolveLauncherGuideManifest(QString manifestText, GameUpdateContext &ctx);

} // namespace Morvaniel
