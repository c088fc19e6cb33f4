#include "PublishRun.h"

#include "ArchiveWriter.h"
#include "BlockStoreWriter.h"
#include "FileWriter.h"
#include "PatchBuilder.h"
#include "ReleaseSigner.h"
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

void Run::say(const QString &line) const
{
    if (progress)
        progress(line);
}

bool Run::fail(const QString &text)
{
    report.error = text;
    return false;
}

void Run::reached(PublishStep step) const
{
    if (options.onStep)
        options.onStep(step);
}

void removeTree(const QString &folder)
{
    for (int attempt = 0; attempt < 40 && !QDir(folder).removeRecursively(); ++attempt)
        QThread::msleep(50);
}

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

namespace {

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
    run.report.written << relPath;
    guide << GuideLine{ from, to, relPath, a.md5, a.size };
    run.say(QStringLiteral("%1 %2: %3 (%4 bytes)")
                .arg(kind, from == to ? to : from + QStringLiteral(" -> ") + to, relPath, QString::number(a.size)));
    return true;
}

bool writeDocument(Run &run, const QString &relPath, const QByteArray &bytes)
{
    QString error;
    if (!writeFileAtomically(run.outputDir + QLatin1Char('/') + relPath, bytes, error))
        return run.fail(error);
    run.report.written << relPath;
    return true;
}

} // namespace

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
    const QString dir = versionDir + QLatin1Char('/');
    run.versionDocuments << qMakePair(dir + Global::Var::FullPackManifestName, fileManifestText(tree.files).toUtf8());
    if (withRepair)
        run.versionDocuments << qMakePair(dir + QStringLiteral("repair.txt"), repairManifestText(repair).toUtf8());
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

static bool publishBlocks(Run &run, const QVector<VersionTree> &trees, const QVector<Morvaniel::BlockIndex> &published)
{
    QElapsedTimer clock;
    clock.start();
    const std::clock_t processor = std::clock();
    BlockStoreWriter writer(run.outputDir + QLatin1Char('/') + run.options.channel, run.options.blockStore);
    QString error;
    for (const Morvaniel::BlockIndex &index : published)
        if (!writer.addPublished(index, error))
            return run.fail(QStringLiteral("block store: %1").arg(error));
    for (int i = trees.size() - 1; i >= 0; --i)
        if (!writer.addVersion(trees[i], error))
            return run.fail(QStringLiteral("block store: %1").arg(error));
    if (!writer.finishBundles(error))
        return run.fail(QStringLiteral("block store: %1").arg(error));
    run.reached(PublishStep::Files);
    // The indexes describe their versions: written once every bundle is in place.
    if (!writer.writeIndexes(error))
        return run.fail(QStringLiteral("block store: %1").arg(error));
    for (const QString &name : writer.written())
        run.report.written << run.options.channel + QLatin1Char('/') + name;
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

bool finishVersions(
    Run &run, const QVector<VersionTree> &trees, const QVector<Morvaniel::BlockIndex> &published, bool blocks)
{
    // publishBlocks tells when its bundles are in place, before it writes the indexes.
    if (blocks) {
        if (!publishBlocks(run, trees, published))
            return false;
    } else {
        run.reached(PublishStep::Files);
    }
    for (const auto &document : qAsConst(run.versionDocuments))
        if (!writeDocument(run, document.first, document.second))
            return false;
    run.versionDocuments.clear();
    run.reached(PublishStep::VersionDocuments);
    return true;
}

void sortGuide(QVector<GuideLine> &guide)
{
    std::stable_sort(guide.begin(), guide.end(), [](const GuideLine &a, const GuideLine &b) {
        const bool patchA = a.fromVersion != a.toVersion, patchB = b.fromVersion != b.toVersion;
        if (patchA != patchB)
            return patchB;
        const auto fromA = versionFromString(a.fromVersion), fromB = versionFromString(b.fromVersion);
        if (!(fromA == fromB))
            return fromA < fromB;
        return versionFromString(a.toVersion) < versionFromString(b.toVersion);
    });
}

bool writeGuide(Run &run, const QString &channel, const QVector<GuideLine> &guide, const QString &lastVersion)
{
    return writeDocument(run, channel + QLatin1Char('/') + Global::Var::GuideManifestName,
        guideManifestText(guide, lastVersion).toUtf8());
}

bool checkSigning(Run &run)
{
    if (run.options.signing.secretKeyFile.isEmpty())
        return true;
    qint64 serial = 0;
    QDateTime expires;
    QString error;
    if (!nextRelease(run.options.signing, run.publishedSerial, QDateTime::currentDateTimeUtc(), serial, expires, error))
        return run.fail(error);
    return true;
}

// The channel's files are final: the signed document lists them as they are.
bool signChannel(Run &run, const QString &channel, const QString &newestVersion, const QStringList &leaving)
{
    if (run.options.signing.secretKeyFile.isEmpty())
        return true;
    QString error;
    if (!writeSignedRelease(run.outputDir, channel, newestVersion, run.options.signing, QDateTime::currentDateTimeUtc(),
            run.publishedSerial, error, leaving))
        return run.fail(QStringLiteral("signing channel %1: %2").arg(channel, error));
    run.report.written << channel + QStringLiteral("/release.json") << channel + QStringLiteral("/release.json.sig");
    run.say(QStringLiteral("signed release of channel %1").arg(channel));
    return true;
}

} // namespace Publisher
