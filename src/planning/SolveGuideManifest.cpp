#include "planning/SolveGuideManifest.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "core/SerializeComponent.h"
#include "core/Version.h"
#include "manifest/GuideManifest.h"
#include "manifest/ManifestLines.h"
#include "manifest/ManifestPathCheck.h"
#include "planning/PackageFiles.h"
#include "planning/ShortestUpdatePath.h"
#include "settings/SettingKeys.h"
#include "util/FolderGuard.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/TrustedRelease.h"

#include <QDebug>

#include <algorithm>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("StdUtil");

// An unfinished update whose goal is no longer the server's newest version.
// Compared as versions: "1.0.0.02" and "1.0.0.2" are one goal.
bool targetChanged(const GameUpdateContext &ctx)
{
    const QString target = ctx.setting.TargetGameVersion;
    return !target.isEmpty() && versionFromString(target) != ctx.newestInfo.version;
}

void saveStage(GameUpdateContext &ctx, const QString &stage)
{
    ctx.setting.CurrentStage = stage;
    if (const auto serializer = GetSerializeComponent())
        serializer->SaveSetting(ctx.setting);
}

qint64 addBytes(qint64 total, qint64 size)
{
    return PackageFiles::toByteCount(ManifestLines::addSaturated(
        static_cast<quint64>(qMax<qint64>(0, total)), static_cast<quint64>(qMax<qint64>(0, size))));
}

} // namespace

bool CheckUpdateStage(GameUpdateContext &ctx)
{
    if (!targetChanged(ctx)) {
        Logger::LogInfo(Tag, QStringLiteral("Update not Changed"));
        return false;
    }
    if (!ctx.setting.TransitionGameVersion.isEmpty()) {
        if (ctx.setting.CurrentStage == PATCH_STAGE)
            return true;
        saveStage(ctx, INIT_STAGE);
        Logger::LogInfo(Tag, QStringLiteral("the version should be start from %1").arg(ctx.setting.CurrentGameVersion));
    }
    Logger::LogInfo(Tag, QStringLiteral("show all patch infomation!"));
    return false;
}

bool CollectFullPacks(const GuideManifest &g, GameUpdateContext &ctx, QVector<PackageInfo> &out, qint64 &total)
{
    for (const GuideEdge &edge : g.edges) {
        if (edge.isPatch)
            continue;
        QVector<PackageInfo> packs;
        packs.reserve(edge.files.size());
        for (const GuidePackage &file : edge.files)
            packs.append(PackageFiles::packageFrom(file));
        if (edge.fromVersion == g.lastVersion) {
            for (const PackageInfo &p : qAsConst(packs)) {
                out.append(p);
                total = addBytes(total, p.size);
            }
        } else {
            ctx.versionInfos[edge.fromVersion].fullPacks = packs;
        }
    }
    // A full pack installs only whole: one package that cannot be downloaded
    // (an unusable name) leaves its files out of the game.
    return !out.isEmpty() && std::all_of(out.cbegin(), out.cend(), [](const PackageInfo &p) {
        return IsSafePackageFileName(p.fileName);
    });
}

void PlanFullPackDownload(GameUpdateContext &ctx, const QVector<PackageInfo> &packs)
{
    ctx.totalDownloadSize = 0;
    ctx.downloadList.clear();
    for (const PackageInfo &p : packs) {
        if (PackageFiles::appendDownload(ctx.downloadList, p, ctx.setting.CachePath))
            ctx.totalDownloadSize = addBytes(ctx.totalDownloadSize, p.size);
    }
    if (targetChanged(ctx)) {
        // What the old goal left half-installed cannot be patched towards the
        // new one; but a folder named by the settings is never deleted past
        // the guard (a GamePath of "." is the program's own folder).
        FolderGuard::DeleteConfiguredFolder(ctx.setting.CachePath, Tag);
        FolderGuard::DeleteConfiguredFolder(ctx.setting.GamePath, Tag);
        saveStage(ctx, INIT_STAGE);
    }
}

void SolveGuideManifest(QString manifestText, GameUpdateContext &ctx)
{
    ctx.planResult = PlanResultPlanned;
    if (!TrustedRelease::textUsable(manifestText, QStringLiteral("the guide manifest"), Tag)) {
        ctx.planResult = PlanResultUncheckedText;
        return;
    }
    const GuideManifest g = parseGuideManifest(manifestText);
    Logger::LogInfo(QStringLiteral("config"), QStringLiteral("the newest version %1").arg(g.lastVersion));

    GetVersionByString(g.lastVersion, ctx.newestInfo.version);
    ctx.newestInfo.fullPackManifestUrl = QFileUtils::CombinePath(
        QFileUtils::CombinePath(Global::Var::HostAndChannel, g.lastVersion), Global::Var::FullPackManifestName);

    QVector<PackageInfo> packs;
    qint64 total = 0;
    if (!CollectFullPacks(g, ctx, packs, total)) {
        Logger::LogInfo(Tag, QStringLiteral("the newest version full pack is not exist, please check the manifest"));
        ctx.planResult = PlanResultNoFullPack;
        return;
    }
    ctx.newestInfo.fullPacks = packs;
    ctx.newestFullPackSize = total;

    const QString current = ctx.setting.CurrentGameVersion;
    if (current.isEmpty()) {
        PlanFullPackDownload(ctx, packs);
        return;
    }
    // By value, as the path search compares them: "1.0.0.02" is current when 1.0.0.2 is newest.
    if (versionFromString(current) == ctx.newestInfo.version)
        return;
    if (ctx.newestInfo.version < versionFromString(current)) {
        ctx.planResult = PlanResultInstalledIsNewer;
        return;
    }

    const bool transition = CheckUpdateStage(ctx);
    bool found = false;
    qint64 pathSize = 0;
    FindShortestUpdatePath(g, ctx, transition, found, pathSize);
    if (!found || pathSize >= ctx.newestFullPackSize) {
        ctx.planResult = PlanResultFullPackInstead;
        PlanFullPackDownload(ctx, packs);
        return;
    }

    if (transition)
        ctx.nextVersion = ctx.setting.TransitionGameVersion;
    else // the search matched the installed version by value; "1.0.0.01" must find the step from 1.0.0.1
        GetCurrentShortestDownloadFile(ctx, versionToString(versionFromString(current)));

    ctx.totalDownloadSize = 0;
    for (const UpdateStep &step : qAsConst(ctx.newestInfo.updatePath)) {
        const qint64 size = step.packages.isEmpty() ? 0 : step.packages.first().size;
        qDebug().nospace() << "filesize " << size;
        ctx.totalDownloadSize = addBytes(ctx.totalDownloadSize, size);
    }
}

} // namespace Morvaniel
