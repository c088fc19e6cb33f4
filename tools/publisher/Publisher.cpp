#include "Publisher.h"

#include "ArchiveWriter.h"
#include "DiffTool.h"
#include "FileWriter.h"
#include "ManifestText.h"
#include "PatchBuilder.h"
#include "ReleaseSigner.h"
#include "RemoteInfoSample.h"
#include "core/Global.h"
#include "core/Version.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <ctime>

using Morvaniel::versionFromString;

namespace Publisher {

// On Windows a file may stay undeletable for a moment after the program that
// had it open (7-Zip, the diff tool) ended: the removal is tried again briefly.
static void removeTree(const QString &folder)
{
    for (int attempt = 0; attempt < 40 && !QDir(folder).removeRecursively(); ++attempt)
        QThread::msleep(50);
}

namespace {

struct Run
{
    const PublishOptions &options;
    PublishReport &report;
    const ProgressFn &progress;
    QString outputDir;
    QString workDir;
    QString sevenZip;
    QString diffTool;
    bool workCreated = false;

    void say(const QString &line) const
    {
        if (progress)
            progress(line);
    }
    bool fail(const QString &text)
    {
        report.error = text;
        return false;
    }
};

bool isVersionName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^\\d{1,9}\\.\\d{1,9}\\.\\d{1,9}\\.\\d{1,9}$"));
    // Only the canonical spelling: the guide manifest compares version texts as written.
    return re.match(name).hasMatch() && versionFromString(name).toString() == name;
}

bool scanVersions(Run &run, const QString &inputDir, QVector<VersionTree> &trees)
{
    QDir dir(inputDir);
    if (!dir.exists())
        return run.fail(QStringLiteral("input folder %1 does not exist").arg(inputDir));
    QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    names.sort();
    for (const QString &name : qAsConst(names)) {
        const QFileInfo info(dir.filePath(name));
        if (info.isSymLink() || !info.isDir()) {
            run.report.warnings << QStringLiteral("skipped %1 in %2: not a version folder").arg(name, inputDir);
            continue;
        }
        if (!isVersionName(name))
            return run.fail(
                QStringLiteral("\"%1\" in %2 is not a version folder name such as 1.0.0.1").arg(name, inputDir));
        VersionTree tree;
        QString error;
        if (!scanVersionTree(info.filePath(), name, tree, run.report.warnings, error))
            return run.fail(error);
        if (tree.files.isEmpty())
            return run.fail(QStringLiteral("version %1 has no files").arg(name));
        qint64 bytes = 0;
        for (const TreeFile &f : qAsConst(tree.files))
            bytes += f.size;
        run.say(QStringLiteral("scanned %1: %2 files, %3 bytes")
                    .arg(name, QString::number(tree.files.size()), QString::number(bytes)));
        trees << tree;
    }
    if (trees.isEmpty())
        return run.fail(QStringLiteral("no version folders in %1").arg(inputDir));
    std::sort(trees.begin(), trees.end(), [](const VersionTree &a, const VersionTree &b) {
        return versionFromString(a.version) < versionFromString(b.version);
    });
    return true;
}

// Consecutive files in path order, each group at most limit bytes (a larger
// file alone), so neighbouring files share an archive and compress together.
QVector<QVector<TreeFile>> splitFiles(const QVector<TreeFile> &files, qint64 limit)
{
    QVector<QVector<TreeFile>> groups;
    qint64 groupBytes = 0;
    for (const TreeFile &f : files) {
        if (groups.isEmpty() || (limit > 0 && groupBytes > 0 && groupBytes + f.size > limit)) {
            groups.append(QVector<TreeFile>());
            groupBytes = 0;
        }
        groups.last() << f;
        groupBytes += f.size;
    }
    return groups;
}

bool addArchive(Run &run, const QString &kind, const QString &from, const QString &to, const QString &baseDir,
    const QStringList &entries, const QString &relPath, QVector<GuideLine> &guide)
{
    const QString archive = run.outputDir + QLatin1Char('/') + relPath;
    QDir().mkpath(QFileInfo(archive).absolutePath());
    QString error;
    if (!writeArchive(run.sevenZip, baseDir, entries, archive, run.workDir, run.options.compressionLevel, error))
        return run.fail(error);
    PublishedArchive a{ kind, from, to, relPath, QFileUtils::GetFileMD5(archive), QFileInfo(archive).size() };
    run.report.archives << a;
    guide << GuideLine{ from, to, relPath, a.md5, a.size };
    run.say(QStringLiteral("%1 %2: %3 (%4 bytes)")
                .arg(kind, from == to ? to : from + QStringLiteral(" -> ") + to, relPath, QString::number(a.size)));
    return true;
}

bool publishFullPack(Run &run, const VersionTree &tree, const QString &channel, qint64 splitSize, const QString &kind,
    bool withRepair, QVector<GuideLine> &guide)
{
    const QString versionDir = channel + QLatin1Char('/') + tree.version;
    const QVector<QVector<TreeFile>> groups = splitFiles(tree.files, splitSize);
    QVector<RepairGroup> repair;
    for (int i = 0; i < groups.size(); ++i) {
        const QString name = groups.size() == 1
            ? QStringLiteral("full_%1.7z").arg(tree.version)
            : QStringLiteral("full_%1_%2.7z")
                  .arg(tree.version, QStringLiteral("%1").arg(i + 1, 3, 10, QLatin1Char('0')));
        RepairGroup group{ versionDir + QLatin1Char('/') + name, {} };
        for (const TreeFile &f : groups[i])
            group.files << f.path;
        if (!addArchive(run, kind, tree.version, tree.version, tree.root, group.files, group.archivePath, guide))
            return false;
        repair << group;
    }
    QString error;
    const QString dir = run.outputDir + QLatin1Char('/') + versionDir + QLatin1Char('/');
    if (!writeFileAtomically(dir + Global::Var::FullPackManifestName, fileManifestText(tree.files).toUtf8(), error)
        || (withRepair
            && !writeFileAtomically(dir + QStringLiteral("repair.txt"), repairManifestText(repair).toUtf8(), error)))
        return run.fail(error);
    return true;
}

bool resolvePairs(Run &run, const QVector<VersionTree> &trees, QVector<QPair<int, int>> &pairs)
{
    if (run.options.defaultPairs) {
        for (int i = 0; i + 1 < trees.size(); ++i)
            pairs << qMakePair(i, i + 1);
        return true;
    }
    auto indexOf = [&](const QString &v) {
        for (int i = 0; i < trees.size(); ++i)
            if (trees[i].version == v)
                return i;
        return -1;
    };
    for (const auto &p : run.options.patchPairs) {
        const int a = indexOf(p.first);
        const int b = indexOf(p.second);
        if (a < 0 || b < 0)
            return run.fail(
                QStringLiteral("patch %1:%2 names a version that is not in the input").arg(p.first, p.second));
        // The update planner only ever climbs in version order.
        if (a >= b)
            return run.fail(QStringLiteral("patch %1:%2 does not lead to a newer version").arg(p.first, p.second));
        if (pairs.contains(qMakePair(a, b)))
            return run.fail(QStringLiteral("patch %1:%2 is listed twice").arg(p.first, p.second));
        pairs << qMakePair(a, b);
    }
    std::sort(pairs.begin(), pairs.end());
    return true;
}

bool publishPatch(Run &run, const VersionTree &from, const VersionTree &to, QVector<GuideLine> &guide)
{
    const PatchPlan plan = planPatch(from, to);
    if (!plan.blocker.isEmpty()) {
        run.report.warnings << QStringLiteral("no patch %1 -> %2: %3").arg(from.version, to.version, plan.blocker);
        return true;
    }
    const QString folder = run.workDir + QStringLiteral("/patch_%1_%2").arg(from.version, to.version);
    QDir().mkpath(folder);
    PatchFolder content;
    QString error;
    if (!buildPatchFolder(plan, from, to, run.diffTool, folder, content, error))
        return run.fail(QStringLiteral("patch %1 -> %2: %3").arg(from.version, to.version, error));
    run.say(QStringLiteral("patch %1 -> %2: %3 binary patches, %4 whole files, %5 deletions")
                .arg(from.version, to.version, QString::number(content.patches.size()),
                    QString::number(content.added.size()), QString::number(content.deleted.size())));
    const QString rel
        = QStringLiteral("%1/%2/patch_%3_%4.7z").arg(run.options.channel, to.version, from.version, to.version);
    const bool ok
        = addArchive(run, QStringLiteral("patch"), from.version, to.version, folder, content.entries, rel, guide);
    removeTree(folder);
    return ok;
}

// The block store of the game channel, newest version first (see BlockStoreWriter).
bool publishBlocks(Run &run, const QVector<VersionTree> &trees)
{
    QElapsedTimer clock;
    clock.start();
    const std::clock_t processor = std::clock();
    BlockStoreWriter writer(run.outputDir + QLatin1Char('/') + run.options.channel, run.options.blockStore);
    QString error;
    for (int i = trees.size() - 1; i >= 0; --i)
        if (!writer.addVersion(trees[i], error))
            return run.fail(QStringLiteral("block store: %1").arg(error));
    if (!writer.finish(error))
        return run.fail(QStringLiteral("block store: %1").arg(error));
    BlockStoreFigures f = writer.figures();
    f.seconds = double(clock.elapsed()) / 1000.0;
    f.processorSeconds = double(std::clock() - processor) / CLOCKS_PER_SEC;
    run.report.blocks = f;
    run.say(QStringLiteral("blocks: %1 versions, %2 distinct blocks in %3 bundles (%4 bytes), indexes %5 bytes, "
                           "%6 s (%7 s processor)")
                .arg(trees.size())
                .arg(f.blocks)
                .arg(f.bundles)
                .arg(f.storedBytes)
                .arg(f.indexBytes)
                .arg(f.seconds, 0, 'f', 1)
                .arg(f.processorSeconds, 0, 'f', 1));
    return true;
}

// The channel's files are final: the signed document lists them as they are.
bool signChannel(Run &run, const QString &channel, const QString &newestVersion)
{
    if (run.options.signing.secretKeyFile.isEmpty())
        return true;
    QString error;
    const QString document = run.outputDir + QLatin1Char('/') + channel + QStringLiteral("/release.json");
    if (!writeSignedRelease(run.outputDir, channel, newestVersion, run.options.signing, QDateTime::currentDateTimeUtc(),
            document, error))
        return run.fail(QStringLiteral("signing channel %1: %2").arg(channel, error));
    run.say(QStringLiteral("signed release of channel %1").arg(channel));
    return true;
}

bool publishLauncher(Run &run)
{
    QVector<VersionTree> trees;
    if (!scanVersions(run, run.options.launcherInputDir, trees))
        return false;
    QVector<GuideLine> guide;
    // The launcher's planner knows one full pack per version, named full_<version>.7z.
    for (const VersionTree &tree : qAsConst(trees))
        if (!publishFullPack(run, tree, run.options.launcherChannel, 0, QStringLiteral("launcher"), false, guide))
            return false;
    QString error;
    if (!writeFileAtomically(run.outputDir + QLatin1Char('/') + run.options.launcherChannel + QLatin1Char('/')
                + Global::Var::GuideManifestName,
            guideManifestText(guide, trees.last().version).toUtf8(), error))
        return run.fail(error);
    return signChannel(run, run.options.launcherChannel, trees.last().version);
}

bool publishAll(Run &run)
{
    const QFileInfo out(run.outputDir);
    if (out.exists()
        && (!out.isDir()
            || !QDir(run.outputDir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)))
        return run.fail(QStringLiteral("output folder %1 must be empty or absent").arg(run.outputDir));
    // Channel names become folder names and parts of every download address.
    static const QRegularExpression channelRe(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    for (const QString &channel : { run.options.channel, run.options.launcherChannel })
        if (!channelRe.match(channel).hasMatch())
            return run.fail(
                QStringLiteral("\"%1\" is no channel name (letters, digits, \".\", \"_\", \"-\")").arg(channel));
    if (!run.options.launcherInputDir.isEmpty()
        && run.options.channel.compare(run.options.launcherChannel, Qt::CaseInsensitive) == 0)
        return run.fail(QStringLiteral("the game and the launcher need channels of their own"));
    // Otherwise the output would be published as part of a version.
    for (const QString &input : { run.options.inputDir, run.options.launcherInputDir }) {
        const QString in = QFileInfo(input).canonicalFilePath();
        const QString outParent = QFileInfo(QFileInfo(run.outputDir).absolutePath()).canonicalFilePath();
        if (!input.isEmpty() && !in.isEmpty() && (outParent == in || outParent.startsWith(in + QLatin1Char('/'))))
            return run.fail(QStringLiteral("output folder %1 lies inside the input %2").arg(run.outputDir, input));
    }
    if (!QDir().mkpath(run.workDir))
        return run.fail(QStringLiteral("cannot create %1").arg(run.workDir));
    run.workCreated = true;
    if (run.sevenZip.isEmpty())
        return run.fail(QStringLiteral("7-Zip (7z) was not found beside the program nor on PATH"));

    QVector<VersionTree> trees;
    if (!scanVersions(run, run.options.inputDir, trees))
        return false;
    for (const VersionTree &t : qAsConst(trees))
        run.report.versions << t.version;
    QVector<QPair<int, int>> pairs;
    if (!resolvePairs(run, trees, pairs))
        return false;
    if (!pairs.isEmpty() && !QFileInfo(run.diffTool).isExecutable())
        return run.fail(QStringLiteral("the patch tool %1 is missing; build hdiffz or publish with --patches none")
                            .arg(run.diffTool));

    QVector<GuideLine> guide;
    for (const VersionTree &tree : qAsConst(trees))
        if (!publishFullPack(
                run, tree, run.options.channel, run.options.splitSize, QStringLiteral("full"), true, guide))
            return false;
    for (const auto &p : qAsConst(pairs))
        if (!publishPatch(run, trees[p.first], trees[p.second], guide))
            return false;
    if (run.options.blocks && !publishBlocks(run, trees))
        return false;

    QString error;
    const QString channelDir = run.outputDir + QLatin1Char('/') + run.options.channel + QLatin1Char('/');
    if (!writeFileAtomically(channelDir + Global::Var::GuideManifestName,
            guideManifestText(guide, trees.last().version).toUtf8(), error))
        return run.fail(error);
    if (!signChannel(run, run.options.channel, trees.last().version))
        return false;

    QByteArray info = run.options.infoJson.isEmpty() ? sampleRemoteInfo() : QFileUtils::ReadBytes(run.options.infoJson);
    if (info.isEmpty())
        return run.fail(QStringLiteral("cannot read %1").arg(run.options.infoJson));
    if (!writeFileAtomically(run.outputDir + QLatin1Char('/') + Global::Var::InfoName, info, error))
        return run.fail(error);

    if (!run.options.launcherInputDir.isEmpty() && !publishLauncher(run))
        return false;
    return true;
}

} // namespace

bool parsePatchPairs(const QString &text, PublishOptions &options, QString &error)
{
    options.patchPairs.clear();
    options.defaultPairs = text == QLatin1String("next");
    if (options.defaultPairs || text == QLatin1String("none"))
        return true;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = item.trimmed().split(QLatin1Char(':'));
        if (ends.size() != 2 || !isVersionName(ends[0]) || !isVersionName(ends[1])) {
            error = QStringLiteral("\"%1\" is no patch pair such as 1.0.0.1:1.0.0.2").arg(item);
            return false;
        }
        options.patchPairs << qMakePair(ends[0], ends[1]);
    }
    return true;
}

bool publish(const PublishOptions &options, PublishReport &report, const ProgressFn &progress)
{
    report = PublishReport();
    Run run{ options, report, progress, QDir(options.outputDir).absolutePath(), QString(),
        options.sevenZip.isEmpty() ? findSevenZip() : options.sevenZip,
        options.diffTool.isEmpty() ? defaultDiffTool() : options.diffTool };
    run.workDir = run.outputDir + QStringLiteral("/.publish-work");
    const bool ok = publishAll(run);
    if (run.workCreated)
        removeTree(run.workDir);
    return ok;
}

} // namespace Publisher
