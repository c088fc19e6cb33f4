#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

class GameUpdateContext;

// Parses the server's remote-information JSON into ctx.remoteInfo. A broken
// document clears the lists, strings and switches and keeps carouselTime.
MORVANIEL_EXPORT void SolveRemoteInfo(QString json, GameUpdateContext &ctx);

} // namespace Morvaniel
