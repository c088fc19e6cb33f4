#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

class GameUpdateContext;
struct VerifyCallbackInfo;

// Repairs work on whole server archives: the files a manifest verification found
// bad are mapped, through the repair manifest, to the full-pack archives that
// hold them, and each archive goes once onto ctx.downloadList.

// Adds the repair manifest's file -> group pairs to the newest version's repairMap
// (earlier pairs stay unless the same file is named again).
MORVANIEL_EXPORT void SolveRepairManifest(QString manifestText, GameUpdateContext &ctx);
// The same for the given version's entry of ctx.versionInfos.
MORVANIEL_EXPORT void SolvePartRepairManifest(QString manifestText, GameUpdateContext &ctx, QString version);

// Replaces ctx.downloadList with the newest full packs that hold info.errorFiles,
// then empties info.errorFiles. A file the map does not know adds nothing.
MORVANIEL_EXPORT void GetRepairDownloadVec(GameUpdateContext &ctx, VerifyCallbackInfo &info);
// The same for another version's full packs; info.errorFiles stays as it is.
MORVANIEL_EXPORT void GetRepairPartDownloadVec(
    GameUpdateContext &ctx, VerifyCallbackInfo &info, const QString &version);

} // namespace Morvaniel
