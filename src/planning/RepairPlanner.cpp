#include "planning/RepairPlanner.h"

#include "core/GameUpdateContext.h"
#include "manifest/ManifestPathCheck.h"
#include "manifest/RepairManifest.h"
#include "planning/PackageFiles.h"
#include "util/TrustedRelease.h"
#include "verify/VerifyCallbackInfo.h"

#include <QDebug>

#include <set>

namespace Morvaniel {

namespace {

bool isNewest(const GameUpdateContext &ctx, const QString &version)
{
    return version == versionToString(ctx.newestInfo.version);
}

void mergeInto(QMap<QString, QString> &repairMap, const QString &manifestText)
{
    if (!TrustedRelease::textUsable(manifestText, QStringLiteral("the repair manifest"), QStringLiteral("StdUtil")))
        return;
    const RepairManifest parsed = parseRepairManifest(manifestText);
    for (auto it = parsed.cbegin(); it != parsed.cend(); ++it)
        repairMap.insert(it.key(), it.value());
}

QString archiveNameOf(const QString &group)
{
    return PackageFileNameOf(group);
}

// Each needed archive once, in name order, from the packs that carry that name.
void planArchives(GameUpdateContext &ctx, const std::set<QString> &names, const QVector<PackageInfo> &packs)
{
    for (const QString &name : names) {
        if (name.isEmpty())
            continue; // a file without a group names no archive
        for (const PackageInfo &p : packs) {
            if (p.fileName == name) {
                PackageFiles::appendDownload(ctx.downloadList, p, ctx.setting.CachePath);
                break;
            }
        }
    }
}

} // namespace

void SolveRepairManifest(QString manifestText, GameUpdateContext &ctx)
{
    mergeInto(ctx.newestInfo.repairMap, manifestText);
}

void SolvePartRepairManifest(QString manifestText, GameUpdateContext &ctx, QString version)
{
    if (isNewest(ctx, version)) {
        SolveRepairManifest(manifestText, ctx);
        return;
    }
    mergeInto(ctx.versionInfos[version].repairMap, manifestText);
}

void GetRepairDownloadVec(GameUpdateContext &ctx, VerifyCallbackInfo &info)
{
    ctx.downloadList.clear();
    std::set<QString> names;
    // operator[] on purpose: a file the map does not know is recorded with an empty group.
    for (const QString &file : qAsConst(info.errorFiles))
        names.insert(archiveNameOf(ctx.newestInfo.repairMap[file]));
    info.errorFiles.clear();
    planArchives(ctx, names, ctx.newestInfo.fullPacks);
}

void GetRepairPartDownloadVec(GameUpdateContext &ctx, VerifyCallbackInfo &info, const QString &version)
{
    if (isNewest(ctx, version)) {
        GetRepairDownloadVec(ctx, info);
        return;
    }
    ctx.downloadList.clear();
    const VersionPackInfo &entry = ctx.versionInfos[version];
    std::set<QString> names;
    for (const QString &file : qAsConst(info.errorFiles)) {
        qDebug() << "need repair key" << file;
        names.insert(archiveNameOf(entry.repairMap.value(file)));
    }
    planArchives(ctx, names, entry.fullPacks);
}

} // namespace Morvaniel
