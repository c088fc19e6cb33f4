#include "VersionAdder.h"

#include "PublishRun.h"
#include "PublishedLayout.h"
#include "Retention.h"
#include "core/Global.h"
#include "core/Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using Morvaniel::versionFromString;

namespace Publisher {

namespace {

bool readLayout(Run &run, PublishedLayout &layout)
{
    QString error;
    if (!readPublishedLayout(run.outputDir, run.options.channel, layout, error))
        return run.fail(error);
    run.publishedSerial = layout.serial;
    // A dry run changes nothing, so it needs no key.
    if (layout.serial >= 0 && run.options.signing.secretKeyFile.isEmpty() && !run.options.dryRun)
        return run.fail(QStringLiteral("the channel %1 is signed: without --sign-key its release would no longer "
                                       "match the files")
                            .arg(run.options.channel));
    return checkSigning(run);
}

// The published tree of version: the local copy in oldVersionsDir when there
// is one, else unpacked from its full pack; either way exactly what its file
// manifest lists.
bool publishedTree(Run &run, const PublishedLayout &layout, const QString &version, VersionTree &tree)
{
    const QString local = run.options.oldVersionsDir + QLatin1Char('/') + version;
    QString root = local;
    QString error;
    if (run.options.oldVersionsDir.isEmpty() || !QFileInfo(local).isDir()) {
        root = run.workDir + QStringLiteral("/tree_") + version;
        run.say(QStringLiteral("unpacking the published %1").arg(version));
        if (!unpackFullPack(run.sevenZip, run.outputDir, layout, version, root, error))
            return run.fail(error);
    }
    if (!scanVersionTree(root, version, tree, run.report.warnings, error)
        || !matchesFileManifest(run.outputDir, run.options.channel, tree, error))
        return run.fail(error);
    return true;
}

bool addPatches(Run &run, const PublishedLayout &layout, const VersionTree &added, QVector<GuideLine> &guide)
{
    QStringList sources;
    if (run.options.defaultPairs)
        sources << layout.lastVersion;
    for (const auto &pair : run.options.patchPairs) {
        if (pair.second != added.version || !layout.versions.contains(pair.first) || sources.contains(pair.first))
            return run.fail(QStringLiteral("patch %1:%2 does not lead from a published version to the added %3 "
                                           "(or is listed twice)")
                                .arg(pair.first, pair.second, added.version));
        sources << pair.first;
    }
    if (!sources.isEmpty() && !QFileInfo(run.diffTool).isExecutable())
        return run.fail(QStringLiteral("the patch tool %1 is missing; build hdiffz or publish with --patches none")
                            .arg(run.diffTool));
    sources.sort();
    for (const QString &from : qAsConst(sources)) {
        VersionTree old;
        if (!publishedTree(run, layout, from, old) || !publishPatch(run, old, added, guide))
            return false;
        if (old.root.startsWith(run.workDir))
            removeTree(old.root);
    }
    return true;
}

// The last three steps of every change to a published channel: the guide
// manifest, the signed release, then the files retention let go.
bool finishChannel(Run &run, const QVector<GuideLine> &guide, const QStringList &versions, const QString &lastVersion)
{
    RetentionPlan plan;
    plan.guide = guide;
    QString error;
    if (run.options.keep > 0
        && !planRetention(run.outputDir, run.options.channel, guide, versions, run.options.keep, plan, error))
        return run.fail(error);
    run.report.removed = plan.removed;
    run.report.freedBytes = plan.bytes;
    auto summary = [&](const QString &verb) {
        if (run.options.keep > 0)
            run.say(
                QStringLiteral("retention: %1 files, %2 bytes %3").arg(plan.removed.size()).arg(plan.bytes).arg(verb));
    };
    if (run.options.dryRun) {
        for (const QString &path : qAsConst(plan.removed))
            run.say(QStringLiteral("would remove %1 (%2 bytes)")
                        .arg(path)
                        .arg(QFileInfo(run.outputDir + QLatin1Char('/') + path).size()));
        summary(QStringLiteral("would be freed"));
        return true;
    }
    sortGuide(plan.guide);
    if (!writeGuide(run, run.options.channel, plan.guide, lastVersion))
        return false;
    run.reached(PublishStep::Guide);
    if (!signChannel(run, run.options.channel, lastVersion, plan.removed))
        return false;
    run.reached(PublishStep::Release);
    for (const QString &path : qAsConst(plan.removed)) {
        const QString file = run.outputDir + QLatin1Char('/') + path;
        const qint64 size = QFileInfo(file).size();
        if (!QFile::remove(file))
            return run.fail(QStringLiteral("cannot remove %1").arg(file));
        run.say(QStringLiteral("removed %1 (%2 bytes)").arg(path).arg(size));
        // A version's folder goes with its last file.
        QDir().rmdir(QFileInfo(file).absolutePath());
    }
    summary(QStringLiteral("freed"));
    if (!plan.removed.isEmpty())
        run.reached(PublishStep::Removed);
    return true;
}

} // namespace

bool addToLayout(Run &run)
{
    if (run.options.dryRun)
        return run.fail(QStringLiteral("--dry-run only goes with --keep alone"));
    PublishedLayout layout;
    if (!readLayout(run, layout))
        return false;
    const QFileInfo folder(run.options.addVersionDir);
    const QString version = folder.fileName();
    if (!folder.isDir() || !isVersionName(version))
        return run.fail(QStringLiteral("%1 is not a version folder named like 1.0.0.1").arg(run.options.addVersionDir));
    if (!(versionFromString(layout.lastVersion) < versionFromString(version)))
        return run.fail(
            QStringLiteral("version %1 is not newer than the published %2").arg(version, layout.lastVersion));
    if (layout.hasBlocks && !run.options.blocks)
        return run.fail(QStringLiteral("the published layout has a block store: the added version needs its index "
                                       "(leave out --no-blocks)"));
    if (!QDir().mkpath(run.workDir))
        return run.fail(QStringLiteral("cannot create %1").arg(run.workDir));
    run.workCreated = true;
    if (run.sevenZip.isEmpty())
        return run.fail(QStringLiteral("7-Zip (7z) was not found beside the program nor on PATH"));

    VersionTree added;
    QString error;
    if (!scanVersionTree(folder.absoluteFilePath(), version, added, run.report.warnings, error))
        return run.fail(error);
    if (added.files.isEmpty())
        return run.fail(QStringLiteral("version %1 has no files").arg(version));
    run.report.versions = layout.versions;
    run.report.versions << version;

    QVector<GuideLine> guide = layout.guide;
    if (!publishFullPack(run, added, run.options.channel, run.options.splitSize, QStringLiteral("full"), true, guide)
        || !addPatches(run, layout, added, guide))
        return false;
    if (!finishVersions(run, { added }, layout.indexes, layout.hasBlocks))
        return false;
    return finishChannel(run, guide, run.report.versions, version);
}

bool pruneLayout(Run &run)
{
    PublishedLayout layout;
    if (!readLayout(run, layout))
        return false;
    run.report.versions = layout.versions;
    if (layout.versions.size() <= run.options.keep) {
        run.say(QStringLiteral("retention: %1 versions published, nothing to remove").arg(layout.versions.size()));
        return true;
    }
    return finishChannel(run, layout.guide, layout.versions, layout.lastVersion);
}

} // namespace Publisher
