#include "planning/SolveFullPackManifest.h"

#include "core/GameUpdateContext.h"
#include "manifest/FileManifest.h"
#include "manifest/ManifestLines.h"
#include "planning/PackageFiles.h"
#include "util/TrustedRelease.h"

namespace Morvaniel {

void SolveFullPackManifest(QString manifestText, GameUpdateContext &ctx)
{
    // An unchecked text lists no file: nothing of it is installed or checked.
    if (!TrustedRelease::textUsable(
            manifestText, QStringLiteral("the full pack's file manifest"), QStringLiteral("StdUtil")))
        manifestText.clear();
    const FileManifest m = parseFileManifest(manifestText);
    VersionPackInfo &newest = ctx.newestInfo;
    newest.fullPackManifest = manifestText;
    newest.fullPackFiles.clear();

    VersionPackInfo &entry = ctx.versionInfos[versionToString(newest.version)];
    entry.fullPackManifest = manifestText;
    entry.fullPackFiles.clear();

    quint64 total = 0;
    newest.fullPackFiles.reserve(m.size());
    entry.fullPackFiles.reserve(m.size());
    for (const FileManifestEntry &e : m) {
        const PackFileInfo file{ e.md5, e.path, PackageFiles::toByteCount(e.size) };
        total = ManifestLines::addSaturated(total, e.size);
        newest.fullPackFiles.append(file);
        entry.fullPackFiles.append(file);
    }
    newest.fullPackFileSize = PackageFiles::toByteCount(total);
}

} // namespace Morvaniel
