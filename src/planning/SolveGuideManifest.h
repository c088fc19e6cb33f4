#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QVector>

namespace Morvaniel {

class GameUpdateContext;
struct GuideManifest;
struct PackageInfo;

// Plans the game update from the guide manifest's text: the newest version and
// its full packs, then either nothing (current), the patch chain's first step,
// or the full packs. ctx.planResult tells which (PlanResult).
MORVANIEL_EXPORT void SolveGuideManifest(QString manifestText, GameUpdateContext &ctx);

// True when an unfinished update is in its patch stage and must continue towards
// TransitionGameVersion. Moves a stale stage back to "INITSTAGE" (and saves it).
bool CheckUpdateStage(GameUpdateContext &ctx);

// The newest version's full packs into out (their sizes summed into total); the
// full packs of other versions into ctx.versionInfos. False when out holds no
// package with a downloadable file name.
bool CollectFullPacks(const GuideManifest &g, GameUpdateContext &ctx, QVector<PackageInfo> &out, qint64 &total);

// Replaces ctx.downloadList with the packs. When the unfinished update aimed at
// a version that is no longer the newest, its cache and game folders go and the
// stage returns to "INITSTAGE".
void PlanFullPackDownload(GameUpdateContext &ctx, const QVector<PackageInfo> &packs);

} // namespace Morvaniel
