#include "GameUpdater.h"

#include "ArchivePipeline.h"
#include "ArchiveSpace.h"
#include "BlockDelivery.h"
#include "FlowOptions.h"
#include "FlowReporter.h"
#include "GameRepair.h"
#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "download/DownloadPieces.h"
#include "planning/ShortestUpdatePath.h"
#include "planning/SolveFullPackManifest.h"
#include "planning/SolveGuideManifest.h"
#include "planning/SolveRemoteInfo.h"
#include "settings/SettingKeys.h"
#include "util/FolderGuard.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>

using namespace Morvaniel;

namespace HostFlow {

namespace {

QString guideUrl()
{
    return QFileUtils::CombinePath(Global::Var::HostAndChannel, Global::Var::GuideManifestName);
}

QStringList localPaths(const QVector<DownloadFile> &files)
{
    QStringList paths;
    for (const DownloadFile &file : files)
        paths << file.localPath;
    return paths;
}

} // namespace

GameUpdater::GameUpdater(StageRunner &runner, const FlowOptions &options, Finish finish)
    : FlowPart(runner, options, std::move(finish))
    , m_repair(new GameRepair(*this))
    , m_pack(new ArchivePipeline(*this))
    , m_blocks(new BlockDelivery(*this))
{
}

GameUpdater::GameUpdater(FlowPart &owner)
    : FlowPart(owner)
    , m_repair(new GameRepair(*this))
    , m_pack(new ArchivePipeline(*this))
    , m_blocks(new BlockDelivery(*this))
{
}

GameUpdater::~GameUpdater() = default;

bool GameUpdater::save()
{
    QString error;
    return stateWritten(InstallState::save(ctx(), error), error);
}

bool GameUpdater::writingGame()
{
    QString error;
    return stateWritten(InstallState::recordGameWritten(ctx().setting.InstallPath, error), error);
}

void GameUpdater::keepDownloadList()
{
    // The full pack's pipeline hands the download manager one archive at a time.
    if (m_pack->started())
        ctx().downloadList = m_pack->left();
}

void GameUpdater::fail(const FlowError &error)
{
    QString ignored; // the first error is the one to tell
    InstallState::save(ctx(), ignored);
    keepDownloadList();
    reportPartialDownload();
    FlowPart::fail(error);
}

void GameUpdater::stopped()
{
    QString ignored;
    InstallState::save(ctx(), ignored);
    keepDownloadList();
    reportPartialDownload();
    out().info(QStringLiteral("paused; run the same command again to resume"));
}

void GameUpdater::start()
{
    m_bytesBefore = runner().bytesDownloaded();
    prepare(true, [this]() { planned(); });
}

void GameUpdater::planned()
{
    GameUpdateContext &c = ctx();
    if (c.setting.CurrentGameVersion == m_newest) {
        out().info(QStringLiteral("the game is up to date"));
        done();
        return;
    }
    // Where the server keeps a block store, a fresh install and an install
    // too old for any patch chain go by blocks; an update compares the chain
    // with the blocks the installed files lack and takes the cheaper.
    const bool chain = !c.setting.CurrentGameVersion.isEmpty() && c.planResult != PlanResultFullPackInstead;
    const qint64 archives = qint64(c.totalDownloadSize);
    m_blocks->choose(c.setting.CurrentGameVersion, m_newest, chain ? archives : -1, archives, [this](bool byBlocks) {
        if (!byBlocks) {
            byArchives();
            return;
        }
        m_blocks->run([this]() { finishStep(m_newest, false, [this]() { done(); }); });
    });
}

void GameUpdater::byArchives()
{
    GameUpdateContext &c = ctx();
    if (c.setting.CurrentGameVersion.isEmpty() || c.planResult == PlanResultFullPackInstead) {
        out().report().fullPack = true;
        out().info(QStringLiteral("full pack of %1, %2 bytes").arg(m_newest, QString::number(c.totalDownloadSize)));
        fetchManifest(c.newestInfo.fullPackManifestUrl, [this](const QString &manifest) { installFullPack(manifest); });
    } else {
        out().info(QStringLiteral("patch chain of %1 step(s), %2 bytes in all")
                       .arg(c.newestInfo.updatePath.size())
                       .arg(c.totalDownloadSize));
        applyPatchStep();
    }
}

void GameUpdater::done()
{
    GameUpdateContext &c = ctx();
    c.setting.TargetGameVersion.clear();
    c.setting.TransitionGameVersion.clear();
    c.setting.CurrentStage = INIT_STAGE;
    // No block run and no full pack is under way any more.
    QString error;
    const QString dir = c.setting.InstallPath;
    if (!save() || !stateWritten(InstallState::recordBlockRun(dir, {}, {}, error), error)
        || !stateWritten(InstallState::recordExtracted(dir, {}, {}, error), error))
        return;
    UpdateReport &report = out().report();
    report.toVersion = c.setting.CurrentGameVersion;
    report.bytes = runner().bytesDownloaded() - m_bytesBefore;
    emit out().updated(report.toVersion, report.bytes);
    finish(Ok);
}

void GameUpdater::prepare(bool finishMerge, std::function<void()> then)
{
    GameUpdateContext &c = ctx();
    runner().servers().apply();
    InstallState::load(options().installDir, c, options().limitKiB);
    c.bGameUpdate = true; // the speed limit applies to game downloads
    out().report().fromVersion = c.setting.CurrentGameVersion;
    out().info(QStringLiteral("install folder %1, installed version %2")
                   .arg(c.setting.InstallPath,
                       c.setting.CurrentGameVersion.isEmpty() ? QStringLiteral("none") : c.setting.CurrentGameVersion));

    acceptRelease(options().channel, [this, finishMerge, then = std::move(then)]() {
        const QString infoUrl = QFileUtils::CombinePath(Global::Var::Host, Global::Var::InfoName);
        runner().fetchText(infoUrl, [this, finishMerge, then](const StageEnd &end) {
            GameUpdateContext &c = ctx();
            if (end.ok) {
                SolveRemoteInfo(end.text, c);
                emit out().remoteInfoReceived(c.remoteInfo);
                if (!c.remoteInfo.announcement.isEmpty())
                    out().info(QStringLiteral("news: %1").arg(c.remoteInfo.announcement.first().title));
            } else {
                out().warning(end.error.message); // the news are not needed to update
            }
            // An update that stopped inside its merge stage finishes that step
            // first: its patch is still unpacked and the game is between two versions.
            if (finishMerge && c.setting.CurrentStage == PATCH_STAGE && !c.setting.TransitionGameVersion.isEmpty()) {
                fetchManifest(guideUrl(), [this, then](const QString &guide) {
                    SolveGuideManifest(guide, ctx());
                    resumeInterruptedMerge([this, then]() { plan(then); });
                });
                return;
            }
            plan(then);
        });
    });
}

void GameUpdater::plan(std::function<void()> then)
{
    fetchManifest(guideUrl(), [this, then = std::move(then)](const QString &guide) {
        GameUpdateContext &c = ctx();
        SolveGuideManifest(guide, c);
        m_newest = c.newestInfo.version.toString();
        if (c.planResult == PlanResultInstalledIsNewer) {
            fail(QStringLiteral("the installed version %1 is newer than the server's %2")
                     .arg(c.setting.CurrentGameVersion, m_newest));
            return;
        }
        if (c.planResult == PlanResultNoFullPack) {
            fail(QStringLiteral("the guide manifest offers no full pack of its newest version"));
            return;
        }
        if (c.planResult == PlanResultUncheckedText) {
            fail(QStringLiteral("the guide manifest was not checked against the signed release"), Failure::Refused);
            return;
        }
        out().info(QStringLiteral("newest version %1").arg(m_newest), { { QStringLiteral("newest"), m_newest } });
        emit out().versionsKnown(c.setting.CurrentGameVersion, m_newest);
        then();
    });
}

void GameUpdater::downloadAndCheck(const QString &what, int attempt, std::function<void()> then)
{
    bool resume = false;
    QStringList names;
    for (const DownloadFile &file : qAsConst(ctx().downloadList)) {
        resume = resume || PieceGroup::started(file);
        names << file.fileName;
    }
    const QString detail
        = QStringLiteral("%1: %2%3")
              .arg(what, names.join(QStringLiteral(", ")), resume ? QStringLiteral(" (resuming)") : QString());
    runner().download(resume, detail, [this, what, attempt, names, then = std::move(then)](const StageEnd &loaded) {
        if (!loaded.ok) {
            FlowError error = loaded.error;
            error.message += QStringLiteral(" (run again to resume)");
            fail(error);
            return;
        }
        runner().checkArchives([this, what, attempt, names, then](const StageEnd &end) {
            if (end.ok) {
                out().report().archives += names;
                then();
                return;
            }
            out().warning(end.error.message);
            if (attempt == 0) {
                downloadAndCheck(what, 1, then);
                return;
            }
            FlowError twice = end.error;
            twice.message = QStringLiteral("the archives failed their MD5 check twice");
            fail(twice);
        });
    });
}

void GameUpdater::installFullPack(const QString &manifest)
{
    GameUpdateContext &c = ctx();
    SolveFullPackManifest(manifest, c);
    // What an earlier run of this full pack extracted is in the game folder already.
    const QStringList extracted = c.setting.CurrentGameVersion.isEmpty()
        ? InstallState::extractedArchives(c.setting.InstallPath, m_newest)
        : QStringList();
    ArchivePipeline::Pack pack;
    pack.version = m_newest;
    for (const DownloadFile &file : qAsConst(c.downloadList)) {
        pack.wholeBytes += file.size;
        if (!extracted.contains(ArchivePipeline::key(file))) {
            pack.archives << file;
            continue;
        }
        pack.doneBytes += file.size;
        QFileUtils::DeleteFileOrFolder(file.localPath); // a run killed before it could
    }
    // The first archive of a fresh start empties the game folder.
    pack.keepTarget = pack.archives.size() < c.downloadList.size();
    c.downloadList = pack.archives;
    if (pack.keepTarget)
        out().info(QStringLiteral("%1 archive(s) of the full pack were extracted before").arg(extracted.size()));
    if (!roomFor(ArchiveSpace::fullPack(c)))
        return;
    c.setting.TargetGameVersion = m_newest;
    c.setting.TransitionGameVersion.clear();
    c.setting.CurrentStage = INIT_STAGE;
    if (!save())
        return;
    auto beforeFirstWrite = [this](QString &error) {
        GameUpdateContext &c = ctx();
        // From here the old game is being replaced: should extraction stop
        // half-way, the next run must install the full pack again, not patch
        // a broken tree.
        c.setting.CurrentGameVersion.clear();
        return InstallState::save(c, error) && InstallState::recordGameWritten(c.setting.InstallPath, error);
    };
    m_pack->run(pack, beforeFirstWrite, [this]() { finishStep(m_newest, false, [this]() { done(); }); });
}

void GameUpdater::applyPatchStep()
{
    GameUpdateContext &c = ctx();
    if (c.setting.CurrentGameVersion == m_newest) {
        done();
        return;
    }
    const QString next = c.nextVersion;
    if (c.downloadList.isEmpty() || next.isEmpty()) {
        fail(QStringLiteral("the patch chain has no step from %1").arg(c.setting.CurrentGameVersion));
        return;
    }
    if (!roomFor(ArchiveSpace::patchStep(c)))
        return;
    emit out().stepStarted(c.setting.CurrentGameVersion, next);
    c.setting.TargetGameVersion = m_newest;
    c.setting.TransitionGameVersion = next;
    c.setting.CurrentStage = INIT_STAGE;
    if (!save())
        return;
    downloadAndCheck(QStringLiteral("patch"), 0, [this, next]() {
        GameUpdateContext &c = ctx();
        const QStringList archives = localPaths(c.downloadList);
        runner().extract(archives, c.setting.UnZipPath, false, onDone([this, archives, next](const StageEnd &) {
            for (const QString &archive : archives)
                QFileUtils::DeleteFileOrFolder(archive);
            const QString game = ctx().setting.GamePath;
            runner().filesFree(game, onDone([this, game, next](const StageEnd &) {
                GameUpdateContext &c = ctx();
                c.setting.CurrentStage = PATCH_STAGE;
                if (!save() || !writingGame())
                    return;
                runner().merge(c.setting.UnZipPath, game, c.setting.TempMergePath,
                    onDone(
                        [this, next](const StageEnd &end) {
                            if (end.needMd5Check)
                                out().warning(QStringLiteral("a patch did not apply: checking the game by MD5"));
                            finishStep(next, end.needMd5Check, [this]() {
                                ++out().report().steps;
                                GameUpdateContext &c = ctx();
                                if (c.setting.CurrentGameVersion != m_newest)
                                    GetCurrentShortestDownloadFile(c, c.setting.CurrentGameVersion);
                                applyPatchStep();
                            });
                        },
                        QStringLiteral("merge stage failed")));
            }));
        }));
    });
}

void GameUpdater::resumeInterruptedMerge(std::function<void()> then)
{
    GameUpdateContext &c = ctx();
    const QString next = c.setting.TransitionGameVersion;
    emit out().phaseStarted(QStringLiteral("resume"),
        QStringLiteral("finishing the step %1 -> %2").arg(c.setting.CurrentGameVersion, next));
    const QString game = c.setting.GamePath;
    auto verified = [this, next, then = std::move(then)](const StageEnd &) {
        // Whatever the merge did before it stopped, the check by MD5 and the
        // repair bring every file to the step's version.
        finishStep(next, true, [this, then]() {
            ++out().report().steps;
            then();
        });
    };
    runner().filesFree(game, onDone([this, game, verified](const StageEnd &end) {
        GameUpdateContext &c = ctx();
        const QString patchManifest = QFileUtils::CombinePath(c.setting.UnZipPath, Global::Var::PatchManifestName);
        if (!QFileUtils::IsFileExist(patchManifest)) {
            verified(end);
            return;
        }
        if (!writingGame())
            return;
        runner().merge(
            c.setting.UnZipPath, game, c.setting.TempMergePath, onDone(verified, QStringLiteral("merge stage failed")));
    }));
}

void GameUpdater::finishStep(const QString &version, bool verifyAll, std::function<void()> then)
{
    m_repair->fetchFileManifest(version, [this, version, verifyAll, then = std::move(then)](const QString &manifest) {
        tidyLetterCaseTwins(manifest);
        auto reached = [this, version, manifest, then]() {
            GameUpdateContext &c = ctx();
            c.setting.CurrentGameVersion = version;
            c.setting.TransitionGameVersion.clear();
            c.setting.CurrentStage = INIT_STAGE;
            if (!save())
                return;
            // Installed from checked archives or checked file by file: whole.
            QString error;
            if (!stateWritten(InstallState::recordGameWhole(c.setting.InstallPath, manifest, error), error))
                return;
            // Folders named by config.ini: never the program's, a root or one above.
            FolderGuard::DeleteConfiguredFolder(c.setting.UnZipPath, QStringLiteral("UpdateFlow"));
            FolderGuard::DeleteConfiguredFolder(c.setting.TempMergePath, QStringLiteral("UpdateFlow"));
            out().info(QStringLiteral("reached version %1").arg(version), { { QStringLiteral("version"), version } });
            then();
        };
        if (!verifyAll) {
            reached();
            return;
        }
        m_repair->findBadFiles(manifest, [this, version, manifest, reached](const QVector<QString> &bad) {
            m_repair->repair(version, manifest, bad, [this, bad, reached]() {
                out().report().repairedFiles += bad.size();
                out().report().archives += m_repair->archivesFetched();
                reached();
            });
        });
    });
}

// A patch or a block run that renames a file in letter case only may keep the
// old spelling. On a disk that tells them apart, the old spelling stays behind
// as a second file: remove every file whose path differs only in letter case
// from a path of the version, while the exact spelling is there too. Where the
// file system ignores letter case both spellings name one file, which must
// stay: it takes the version's spelling instead.
void GameUpdater::tidyLetterCaseTwins(const QString &manifestText)
{
    const QString root = ctx().setting.GamePath;
    QSet<QString> exact;
    QHash<QString, QString> byFolded;
    for (const QString &line : manifestText.split(QLatin1Char('\n'))) {
        const QString path = line.section(QLatin1Char('|'), 0, 0).trimmed();
        if (path.isEmpty())
            continue;
        exact.insert(path);
        byFolded.insert(path.toLower(), path);
    }
    const QDir dir(root);
    QDirIterator walk(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QStringList twins;
    QVector<QPair<QString, QString>> respelled;
    while (walk.hasNext()) {
        const QString full = walk.next();
        const QString rel = dir.relativeFilePath(full);
        const auto twin = byFolded.constFind(rel.toLower());
        if (exact.contains(rel) || twin == byFolded.constEnd())
            continue;
        const QString wanted = dir.filePath(*twin);
        if (FolderGuard::ComparablePath(full) == FolderGuard::ComparablePath(wanted))
            respelled.append(qMakePair(full, wanted));
        else if (QFileInfo::exists(wanted))
            twins << full;
    }
    for (const QString &full : qAsConst(twins)) {
        out().info(QStringLiteral("removing %1: the version spells it in another letter case").arg(full));
        QFileUtils::DeleteFileOrFolder(full);
    }
    for (const auto &names : qAsConst(respelled)) {
        // Through a name of its own: a rename onto the same file in another
        // letter case is not one that every file system API carries out.
        const QString aside = names.first + QStringLiteral(".morvaniel-respell");
        if (QFile::rename(names.first, aside) && QFile::rename(aside, names.second))
            out().info(QStringLiteral("renamed %1 to %2, the version's spelling").arg(names.first, names.second));
        else
            QFile::rename(aside, names.first);
    }
}

} // namespace HostFlow
