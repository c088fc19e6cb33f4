#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QVector>

namespace Morvaniel {

class GameUpdateContext;
class PatchGraph;
struct GuideManifest;

// Finds the chain of patch steps with the smallest total size from the installed
// version (or, when transition is set, from TransitionGameVersion) to the
// manifest's newest version and stores it in ctx.newestInfo.updatePath.
// A step without any package, or a start equal to the target, counts as no path.
void FindShortestUpdatePath(
    const GuideManifest &g, GameUpdateContext &ctx, bool transition, bool &found, qint64 &pathSize);

// The smallest total from start to target along climbing steps, and its nodes
// from start to target. Ties: a direct step is kept when a split costs the same;
// among splits of equal total the one through the lowest node wins. Works in
// time and memory linear in the nodes between start and target and their steps.
bool ComputeShortestPaths(int start, int target, const PatchGraph &graph, quint64 &total, QVector<int> &nodes);

// Puts the package of the path step that leaves version (any first step when
// version is empty) into ctx.downloadList and its target into ctx.nextVersion.
MORVANIEL_EXPORT void GetCurrentShortestDownloadFile(GameUpdateContext &ctx, QString version);

} // namespace Morvaniel
