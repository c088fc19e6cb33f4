#include "InstallCheck.h"

#include "FlowOptions.h"
#include "FlowSession.h"
#include "GameRepair.h"
#include "InstallState.h"
#include "SignedRelease.h"
#include "UpdateFlow.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/SolveGuideManifest.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QStringList>

using namespace Morvaniel;

int checkInstall(FlowSession &session, const FlowOptions &options, bool repair, QVector<QString> &badFiles)
{
    GameUpdateContext &ctx = session.ctx();
    UpdateFlow &out = session.flow();
    options.applyServer();
    InstallState::load(options.installDir, ctx, options.limitKiB);
    ctx.bGameUpdate = true;
    const QString version = ctx.setting.CurrentGameVersion;
    if (version.isEmpty()) {
        out.error(QStringLiteral("nothing is installed in %1").arg(ctx.setting.InstallPath));
        return 1;
    }
    if (ctx.setting.CurrentStage == PATCH_STAGE && !ctx.setting.TransitionGameVersion.isEmpty()) {
        // The game is between two versions: checking it against either would
        // "repair" half of the step away.
        out.error(QStringLiteral("the update to %1 stopped in its merge stage; run `morvaniel update` to finish it")
                      .arg(ctx.setting.TransitionGameVersion));
        return 1;
    }
    QString text;
    QString error;
    const SignedRelease::RunScope signedRun;
    if (!session.acceptRelease(options.channel, error)) {
        out.error(error);
        return 1;
    }
    const QString guideUrl = QFileUtils::CombinePath(Global::Var::HostAndChannel, Global::Var::GuideManifestName);
    if (!session.fetchManifest(guideUrl, text, error)) {
        out.error(error);
        return 1;
    }
    // Only the full packs of every version are wanted here. Without an
    // unfinished target the planner neither saves nor clears anything.
    const UpdateSetting kept = ctx.setting;
    ctx.setting.TargetGameVersion.clear();
    ctx.setting.TransitionGameVersion.clear();
    SolveGuideManifest(text, ctx);
    ctx.setting = kept;

    GameRepair fixer(session);
    QString manifest;
    if (!fixer.fetchFileManifest(version, manifest, error)) {
        out.error(error);
        return 1;
    }
    badFiles = fixer.findBadFiles(manifest);
    emit out.verified(version, QStringList(badFiles.toList()));
    if (badFiles.isEmpty()) {
        out.info(QStringLiteral("every file of %1 matches").arg(version));
        return 0;
    }
    if (!repair) {
        out.info(QStringLiteral("%1 file(s) differ from %2").arg(badFiles.size()).arg(version));
        return 1;
    }
    if (!fixer.repair(version, manifest, badFiles, error)) {
        out.error(error);
        return error == QLatin1String("paused") ? 130 : 1;
    }
    return 0;
}
