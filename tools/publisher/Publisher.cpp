#include "Publisher.h"

#include "ArchiveWriter.h"
#include "DiffTool.h"
#include "FileWriter.h"
#include "PublishRun.h"
#include "RemoteInfoSample.h"
#include "Retention.h"
#include "Uploader.h"
#include "VersionAdder.h"
#include "core/Global.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace Publisher {

namespace {

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
    if (!finishVersions(run, trees, {}, false))
        return false;
    if (!writeGuide(run, run.options.launcherChannel, guide, trees.last().version))
        return false;
    run.reached(PublishStep::Guide);
    if (!signChannel(run, run.options.launcherChannel, trees.last().version))
        return false;
    run.reached(PublishStep::Release);
    return true;
}

bool publishAll(Run &run)
{
    const QFileInfo out(run.outputDir);
    if (out.exists()
        && (!out.isDir()
            || !QDir(run.outputDir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)))
        return run.fail(QStringLiteral("output folder %1 must be empty or absent").arg(run.outputDir));
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
    if (!checkSigning(run))
        return false;

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
    if (!finishVersions(run, trees, {}, run.options.blocks))
        return false;
    sortGuide(guide);
    if (!writeGuide(run, run.options.channel, guide, trees.last().version))
        return false;
    run.reached(PublishStep::Guide);
    if (!signChannel(run, run.options.channel, trees.last().version))
        return false;
    run.reached(PublishStep::Release);

    QByteArray info = run.options.infoJson.isEmpty() ? sampleRemoteInfo() : QFileUtils::ReadBytes(run.options.infoJson);
    if (info.isEmpty())
        return run.fail(QStringLiteral("cannot read %1").arg(run.options.infoJson));
    QString error;
    if (!writeFileAtomically(run.outputDir + QLatin1Char('/') + Global::Var::InfoName, info, error))
        return run.fail(error);
    run.report.written << Global::Var::InfoName;

    if (!run.options.launcherInputDir.isEmpty() && !publishLauncher(run))
        return false;
    return true;
}

bool dispatch(Run &run)
{
    // Channel names become folder names and parts of every download address.
    static const QRegularExpression channelRe(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    for (const QString &channel : { run.options.channel, run.options.launcherChannel })
        if (!channelRe.match(channel).hasMatch())
            return run.fail(
                QStringLiteral("\"%1\" is no channel name (letters, digits, \".\", \"_\", \"-\")").arg(channel));
    if (!run.options.addVersionDir.isEmpty())
        return addToLayout(run);
    if (run.options.inputDir.isEmpty() && run.options.keep > 0)
        return pruneLayout(run);
    if (run.options.inputDir.isEmpty() && !run.options.uploadDestination.isEmpty()) {
        if (!QFileInfo(run.outputDir + QLatin1Char('/') + run.options.channel).isDir())
            return run.fail(QStringLiteral("no published layout at %1 to upload").arg(run.outputDir));
        run.report.written = layoutFiles(run.outputDir);
        return true;
    }
    if (run.options.keep > 0 || run.options.dryRun)
        return run.fail(QStringLiteral("--keep and --dry-run work on a published layout (with --add, or alone)"));
    return publishAll(run);
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
    Run run(options, report, progress);
    run.outputDir = QDir(options.outputDir).absolutePath();
    run.workDir = run.outputDir + QStringLiteral("/.publish-work");
    run.sevenZip = options.sevenZip.isEmpty() ? findSevenZip() : options.sevenZip;
    run.diffTool = options.diffTool.isEmpty() ? defaultDiffTool() : options.diffTool;
    bool ok = dispatch(run);
    if (run.workCreated)
        removeTree(run.workDir);
    if (ok && !options.uploadDestination.isEmpty() && !options.dryRun) {
        QString error;
        ok = uploadPublication({ options.uploadDestination, options.rclone }, run.outputDir, report.written,
            report.removed, progress, error);
        if (!ok)
            run.fail(QStringLiteral("upload to %1 stopped: %2. The server keeps serving its previous guide and "
                                    "release; publish --upload %1 <output> alone sends the rest")
                         .arg(options.uploadDestination, error));
    }
    return ok;
}

} // namespace Publisher
