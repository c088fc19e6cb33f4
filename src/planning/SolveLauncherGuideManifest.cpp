#include "planning/SolveLauncherGuideManifest.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "manifest/GuideManifest.h"
#include "planning/PackageFiles.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/TrustedRelease.h"

namespace Morvaniel {

void SolveLauncherGuideManifest(QString manifestText, GameUpdateContext &ctx)
{
    LauncherUpdateInfo &info = ctx.launcherInfo;
    // An unchecked text plans nothing: no newest version is known.
    const bool usable = TrustedRelease::textUsable(
        manifestText, QStringLiteral("the launcher's guide manifest"), QStringLiteral("stdUtil"));
    const GuideManifest g = parseGuideManifest(usable ? manifestText : QString());
    const QString manifestName = Global::Var::lastLauncherVersionFileName;

    const QString newestDir = QFileUtils::CombinePath(info.baseUrl, g.lastVersion);
    info.newestManifestUrl = QFileUtils::CombinePath(newestDir, manifestName);
    info.currentManifestUrl
        = QFileUtils::CombinePath(QFileUtils::CombinePath(info.baseUrl, info.currentVersion), manifestName);
    info.newestVersion = g.lastVersion;
    info.fullPackSize = 0;
    for (const GuideEdge &edge : g.edges) {
        if (edge.fromVersion != g.lastVersion)
            continue;
        info.fullPackSize = PackageFiles::toByteCount(edge.totalSize);
        info.fullPackUrl = QFileUtils::CombinePath(newestDir, QStringLiteral("full_%1.7z").arg(g.lastVersion));
    }
    Logger::LogInfo(QStringLiteral("stdUtil"),
        QStringLiteral("newestManifestUrl is %1, size is %2, CurrentManifestUrl is %3")
            .arg(info.newestManifestUrl, QString::number(info.fullPackSize), info.currentManifestUrl));
}

} // namespace Morvaniel
