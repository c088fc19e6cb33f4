#include "VerifyRepairCommand.h"

#include "GameRepair.h"
#include "HostOptions.h"
#include "HostSession.h"
#include "InstallState.h"
#include "ProgressPrinter.h"
#include "SignedRelease.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/SolveGuideManifest.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QJsonArray>
#include <QTextStream>

using namespace Morvaniel;

int verifyOrRepair(HostSession &session, const HostOptions &options, bool repair, QVector<QString> &badFiles)
{
    GameUpdateContext &ctx = session.ctx();
    ProgressPrinter &out = session.printer();
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
    QJsonArray list;
    for (const QString &file : qAsConst(badFiles))
        list.append(file);
    if (out.json())
        out.event(
            QStringLiteral("verified"), { { QStringLiteral("version"), version }, { QStringLiteral("bad"), list } });
    else
        for (const QString &file : qAsConst(badFiles))
            out.info(QStringLiteral("bad: %1").arg(file));
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

static int runCommand(
    const QString &name, bool repair, const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return HostSession::runCommand(name, parser, out, err, [repair](HostSession &session, const HostOptions &options) {
        QVector<QString> bad;
        return verifyOrRepair(session, options, repair, bad);
    });
}

int runVerifyCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runCommand(QStringLiteral("verify"), false, parser, out, err);
}

int runRepairCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runCommand(QStringLiteral("repair"), true, parser, out, err);
}
