#include "InstallCheck.h"

#include "FlowOptions.h"
#include "FlowReporter.h"
#include "GameRepair.h"
#include "GameUpdater.h"
#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/SolveGuideManifest.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QStringList>

using namespace Morvaniel;

namespace HostFlow {

InstallCheck::InstallCheck(StageRunner &runner, const FlowOptions &options, Finish finish, Mode mode)
    : FlowPart(runner, options, std::move(finish))
    , m_mode(mode)
    , m_update(new GameUpdater(*this))
    , m_repair(new GameRepair(*this))
{
}

InstallCheck::~InstallCheck() = default;

void InstallCheck::start()
{
    if (m_mode == Mode::Check)
        m_update->prepare(false, [this]() { prepared(); });
    else
        planRepair();
}

void InstallCheck::stopped()
{
    reportPartialDownload();
    out().info(QStringLiteral("stopped; run the same command again to go on"));
}

void InstallCheck::prepared()
{
    const UpdateSetting &s = ctx().setting;
    // An install that claims the newest version, with no step left half
    // done, is what a check of its files can find damaged.
    if (s.CurrentGameVersion.isEmpty() || s.CurrentGameVersion != m_update->newest() || s.CurrentStage == PATCH_STAGE) {
        reportPartialDownload();
        finish(Ok);
        return;
    }
    checkNewest(s.CurrentGameVersion);
}

void InstallCheck::checkNewest(const QString &version)
{
    m_repair->fetchFileManifest(version, [this, version](const QString &manifest) {
        const QString dir = ctx().setting.InstallPath;
        const bool byMd5 = InstallState::needsCheckByMd5(dir) || InstallState::manifestChanged(dir, manifest);
        const QString game = ctx().setting.GamePath;
        runner().checkInstall(game, manifest, byMd5, onDone([this, version, manifest, byMd5](const StageEnd &end) {
            if (byMd5) {
                verified(version, manifest, end.badFiles);
                return;
            }
            if (!end.differs) {
                verified(version, manifest, {});
                return;
            }
            // The sizes tell that something differs, not what: every file by MD5.
            m_repair->findBadFiles(
                manifest, [this, version, manifest](const QVector<QString> &bad) { verified(version, manifest, bad); });
        }));
    });
}

void InstallCheck::verified(const QString &version, const QString &manifest, const QVector<QString> &bad)
{
    out().setBadFiles(bad);
    emit out().verified(version, QStringList(bad.toList()));
    QString error;
    if (bad.isEmpty()
        && !stateWritten(InstallState::recordGameWhole(ctx().setting.InstallPath, manifest, error), error))
        return;
    if (m_mode == Mode::Check) {
        finish(Ok);
        return;
    }
    if (bad.isEmpty()) {
        out().info(QStringLiteral("every file of %1 matches").arg(version));
        finish(Ok);
        return;
    }
    if (m_mode == Mode::Verify) {
        out().info(QStringLiteral("%1 file(s) differ from %2").arg(bad.size()).arg(version));
        finish(Failed);
        return;
    }
    m_repair->repair(version, manifest, bad, [this, manifest]() {
        QString error;
        if (stateWritten(InstallState::recordGameWhole(ctx().setting.InstallPath, manifest, error), error))
            finish(Ok);
    });
}

void InstallCheck::planRepair()
{
    GameUpdateContext &c = ctx();
    runner().servers().apply();
    InstallState::load(options().installDir, c, options().limitKiB);
    c.bGameUpdate = true;
    const QString version = c.setting.CurrentGameVersion;
    if (version.isEmpty()) {
        fail(QStringLiteral("nothing is installed in %1").arg(c.setting.InstallPath));
        return;
    }
    if (c.setting.CurrentStage == PATCH_STAGE && !c.setting.TransitionGameVersion.isEmpty()) {
        // The game is between two versions: checking it against either would
        // "repair" half of the step away.
        fail(QStringLiteral("the update to %1 stopped in its merge stage; run `morvaniel update` to finish it")
                 .arg(c.setting.TransitionGameVersion));
        return;
    }
    acceptRelease(options().channel, [this, version]() {
        const QString guideUrl = QFileUtils::CombinePath(Global::Var::HostAndChannel, Global::Var::GuideManifestName);
        fetchManifest(guideUrl, [this, version](const QString &guide) {
            // Only the full packs of every version are wanted here. Without an
            // unfinished target the planner neither saves nor clears anything.
            GameUpdateContext &c = ctx();
            const UpdateSetting kept = c.setting;
            c.setting.TargetGameVersion.clear();
            c.setting.TransitionGameVersion.clear();
            SolveGuideManifest(guide, c);
            c.setting = kept;
            m_repair->fetchFileManifest(version, [this, version](const QString &manifest) {
                m_repair->findBadFiles(manifest,
                    [this, version, manifest](const QVector<QString> &bad) { verified(version, manifest, bad); });
            });
        });
    });
}

} // namespace HostFlow
