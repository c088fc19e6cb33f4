#include "GameUpdater.h"

#include "FlowOptions.h"
#include "FlowSession.h"
#include "GameRepair.h"
#include "InstallState.h"
#include "SignedRelease.h"
#include "UpdateFlow.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/ShortestUpdatePath.h"
#include "planning/SolveFullPackManifest.h"
#include "planning/SolveGuideManifest.h"
#include "planning/SolveRemoteInfo.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QSet>

using namespace Morvaniel;

GameUpdater::GameUpdater(FlowSession &session, const FlowOptions &options)
    : m_session(session)
    , m_options(options)
{
}

GameUpdater::Result GameUpdater::fail(const QString &message)
{
    m_session.flow().error(message);
    save();
    return Failed;
}

void GameUpdater::save()
{
    InstallState::save(m_session.ctx());
}

GameUpdater::Result GameUpdater::run()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    const SignedRelease::RunScope signedRun;
    const qint64 bytesBefore = m_session.bytesDownloaded();
    Result result = prepare(true);
    if (result != Ok)
        return result;
    if (ctx.setting.CurrentGameVersion == m_newest) {
        out.info(QStringLiteral("the game is up to date"));
    } else if (ctx.setting.CurrentGameVersion.isEmpty() || ctx.planResult == PlanResultFullPackInstead) {
        result = installFullPack();
    } else {
        out.info(QStringLiteral("patch chain of %1 step(s), %2 bytes in all")
                     .arg(ctx.newestInfo.updatePath.size())
                     .arg(ctx.totalDownloadSize));
        while (result == Ok && ctx.setting.CurrentGameVersion != m_newest) {
            result = applyPatchStep();
            if (result == Ok && ctx.setting.CurrentGameVersion != m_newest && out.pauseRequested()) {
                out.info(QStringLiteral("stopped at %1; run the same command again to go on")
                             .arg(ctx.setting.CurrentGameVersion));
                return Paused;
            }
            if (result == Ok && ctx.setting.CurrentGameVersion != m_newest)
                GetCurrentShortestDownloadFile(ctx, ctx.setting.CurrentGameVersion);
        }
    }
    if (result != Ok)
        return result;
    ctx.setting.TargetGameVersion.clear();
    ctx.setting.TransitionGameVersion.clear();
    ctx.setting.CurrentStage = INIT_STAGE;
    save();
    m_report.toVersion = ctx.setting.CurrentGameVersion;
    m_report.bytes = m_session.bytesDownloaded() - bytesBefore;
    emit out.updated(m_report.toVersion, m_report.bytes);
    return Ok;
}

// The install's state, the news, an interrupted merge finished (finishMerge)
// and the plan from the installed version to the newest.
GameUpdater::Result GameUpdater::prepare(bool finishMerge)
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    m_options.applyServer();
    InstallState::load(m_options.installDir, ctx, m_options.limitKiB);
    ctx.bGameUpdate = true; // the speed limit applies to game downloads
    m_report.fromVersion = ctx.setting.CurrentGameVersion;
    out.info(
        QStringLiteral("install folder %1, installed version %2")
            .arg(ctx.setting.InstallPath,
                ctx.setting.CurrentGameVersion.isEmpty() ? QStringLiteral("none") : ctx.setting.CurrentGameVersion));

    QString text;
    QString error;
    if (!m_session.acceptRelease(m_options.channel, error))
        return fail(error);
    const QString infoUrl = QFileUtils::CombinePath(Global::Var::Host, Global::Var::InfoName);
    if (m_session.fetchText(infoUrl, text, error)) {
        SolveRemoteInfo(text, ctx);
        emit out.remoteInfoReceived(ctx.remoteInfo);
        if (!ctx.remoteInfo.announcement.isEmpty())
            out.info(QStringLiteral("news: %1").arg(ctx.remoteInfo.announcement.first().title));
    } else {
        out.warning(error); // the news are not needed to update
    }

    // An update that stopped inside its merge stage finishes that step first:
    // its patch is still unpacked and the game is between two versions.
    if (finishMerge && ctx.setting.CurrentStage == PATCH_STAGE && !ctx.setting.TransitionGameVersion.isEmpty()) {
        const QString guideUrl = QFileUtils::CombinePath(Global::Var::HostAndChannel, Global::Var::GuideManifestName);
        if (!m_session.fetchManifest(guideUrl, text, error))
            return fail(error);
        SolveGuideManifest(text, ctx);
        const Result r = resumeInterruptedMerge();
        if (r != Ok)
            return r;
    }

    const QString guideUrl = QFileUtils::CombinePath(Global::Var::HostAndChannel, Global::Var::GuideManifestName);
    if (!m_session.fetchManifest(guideUrl, text, error))
        return fail(error);
    SolveGuideManifest(text, ctx);
    m_newest = ctx.newestInfo.version.toString();
    if (ctx.planResult == PlanResultInstalledIsNewer)
        return fail(QStringLiteral("the installed version %1 is newer than the server's %2")
                        .arg(ctx.setting.CurrentGameVersion, m_newest));
    if (ctx.planResult == PlanResultNoFullPack)
        return fail(QStringLiteral("the guide manifest offers no full pack of its newest version"));
    out.info(QStringLiteral("newest version %1").arg(m_newest), { { QStringLiteral("newest"), m_newest } });
    emit out.versionsKnown(ctx.setting.CurrentGameVersion, m_newest);
    return Ok;
}

// Downloads ctx.downloadList (continuing partial files left by an earlier run)
// and checks every archive's MD5; a bad archive is fetched once more.
GameUpdater::Result GameUpdater::downloadAndCheck(const QString &what)
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool resume = false;
        QStringList names;
        for (const DownloadFile &file : qAsConst(ctx.downloadList)) {
            resume = resume || QFileUtils::IsFileExist(file.localPath);
            names << file.fileName;
        }
        out.stage(QStringLiteral("download"),
            QStringLiteral("%1: %2%3")
                .arg(what, names.join(QStringLiteral(", ")), resume ? QStringLiteral(" (resuming)") : QString()));
        QString error;
        const FlowSession::DownloadEnd end = m_session.download(resume, error);
        if (end == FlowSession::DownloadEnd::Paused) {
            save();
            out.info(QStringLiteral("paused; run the same command again to resume"));
            return Paused;
        }
        if (end == FlowSession::DownloadEnd::Failed)
            return fail(QStringLiteral("download failed: %1 (run again to resume)").arg(error));
        out.stage(QStringLiteral("verify-archives"));
        if (m_session.verifyArchives(error)) {
            m_report.archives += names;
            return Ok;
        }
        out.warning(error);
    }
    return fail(QStringLiteral("the archives failed their MD5 check twice"));
}

GameUpdater::Result GameUpdater::installFullPack()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    m_report.fullPack = true;
    out.info(QStringLiteral("full pack of %1, %2 bytes").arg(m_newest, QString::number(ctx.totalDownloadSize)));
    QString manifest;
    QString error;
    if (!m_session.fetchManifest(ctx.newestInfo.fullPackManifestUrl, manifest, error))
        return fail(error);
    SolveFullPackManifest(manifest, ctx);
    ctx.setting.TargetGameVersion = m_newest;
    ctx.setting.TransitionGameVersion.clear();
    ctx.setting.CurrentStage = INIT_STAGE;
    save();

    const Result r = downloadAndCheck(QStringLiteral("full pack"));
    if (r != Ok)
        return r;
    QStringList archives;
    for (const DownloadFile &file : qAsConst(ctx.downloadList))
        archives << file.localPath;
    if (!m_session.gameFilesFree(error))
        return fail(error);
    // From here the old game is being replaced: should extraction stop half-way,
    // the next run must install the full pack again, not patch a broken tree.
    ctx.setting.CurrentGameVersion.clear();
    save();
    out.stage(QStringLiteral("extract"), ctx.setting.GamePath);
    if (!m_session.extract(archives, ctx.setting.GamePath, false, error))
        return fail(error);
    if (!finishStep(m_newest, false))
        return Failed;
    for (const QString &archive : qAsConst(archives))
        QFileUtils::DeleteFileOrFolder(archive);
    return Ok;
}

GameUpdater::Result GameUpdater::applyPatchStep()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    const QString next = ctx.nextVersion;
    if (ctx.downloadList.isEmpty() || next.isEmpty())
        return fail(QStringLiteral("the patch chain has no step from %1").arg(ctx.setting.CurrentGameVersion));
    emit out.stepStarted(ctx.setting.CurrentGameVersion, next);
    ctx.setting.TargetGameVersion = m_newest;
    ctx.setting.TransitionGameVersion = next;
    ctx.setting.CurrentStage = INIT_STAGE;
    save();

    const Result r = downloadAndCheck(QStringLiteral("patch"));
    if (r != Ok)
        return r;
    QStringList archives;
    for (const DownloadFile &file : qAsConst(ctx.downloadList))
        archives << file.localPath;
    QString error;
    out.stage(QStringLiteral("extract"), ctx.setting.UnZipPath);
    if (!m_session.extract(archives, ctx.setting.UnZipPath, false, error))
        return fail(error);
    for (const QString &archive : qAsConst(archives))
        QFileUtils::DeleteFileOrFolder(archive);
    if (!m_session.gameFilesFree(error))
        return fail(error);
    ctx.setting.CurrentStage = PATCH_STAGE;
    save();
    bool needMd5 = false;
    out.stage(QStringLiteral("merge"), ctx.setting.GamePath);
    if (!m_session.merge(ctx.setting.UnZipPath, ctx.setting.GamePath, ctx.setting.TempMergePath, needMd5, error))
        return fail(QStringLiteral("merge stage failed: %1 (run again to finish it)").arg(error));
    if (needMd5)
        out.warning(QStringLiteral("a patch did not apply: checking the game by MD5"));
    if (!finishStep(next, needMd5))
        return Failed;
    ++m_report.steps;
    return Ok;
}

GameUpdater::Result GameUpdater::resumeInterruptedMerge()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    const QString next = ctx.setting.TransitionGameVersion;
    out.stage(QStringLiteral("resume"),
        QStringLiteral("finishing the step %1 -> %2").arg(ctx.setting.CurrentGameVersion, next));
    QString error;
    if (!m_session.gameFilesFree(error))
        return fail(error);
    const QString patchManifest = QFileUtils::CombinePath(ctx.setting.UnZipPath, Global::Var::PatchManifestName);
    if (QFileUtils::IsFileExist(patchManifest)) {
        bool needMd5 = false;
        if (!m_session.merge(ctx.setting.UnZipPath, ctx.setting.GamePath, ctx.setting.TempMergePath, needMd5, error))
            return fail(QStringLiteral("merge stage failed: %1").arg(error));
    }
    // Whatever the merge did before it stopped, the check by MD5 and the repair
    // bring every file to the step's version.
    if (!finishStep(next, true))
        return Failed;
    ++m_report.steps;
    return Ok;
}

// Records version as reached once the game matches it: with verifyAll every
// file is checked by MD5 and the bad ones repaired.
bool GameUpdater::finishStep(const QString &version, bool verifyAll)
{
    GameUpdateContext &ctx = m_session.ctx();
    GameRepair repair(m_session);
    QString manifest;
    QString error;
    if (!repair.fetchFileManifest(version, manifest, error)) {
        fail(error);
        return false;
    }
    tidyLetterCaseTwins(manifest);
    if (verifyAll) {
        const QVector<QString> bad = repair.findBadFiles(manifest);
        if (!repair.repair(version, manifest, bad, error)) {
            fail(QStringLiteral("repair of %1 failed: %2").arg(version, error));
            return false;
        }
        m_report.repairedFiles += bad.size();
        m_report.archives += repair.archivesFetched();
    }
    ctx.setting.CurrentGameVersion = version;
    ctx.setting.TransitionGameVersion.clear();
    ctx.setting.CurrentStage = INIT_STAGE;
    save();
    QFileUtils::DeleteFileOrFolder(ctx.setting.UnZipPath);
    QFileUtils::DeleteFileOrFolder(ctx.setting.TempMergePath);
    m_session.flow().info(
        QStringLiteral("reached version %1").arg(version), { { QStringLiteral("version"), version } });
    return true;
}

// A patch that renames a file in letter case only brings the new spelling and
// keeps the old one (on Windows they are one file). On a disk that tells them
// apart, the old spelling stays behind as a second file: remove every file whose
// path differs only in letter case from a path of the version, while the exact
// spelling is there too.
void GameUpdater::tidyLetterCaseTwins(const QString &manifestText)
{
    const QString root = m_session.ctx().setting.GamePath;
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
    while (walk.hasNext()) {
        const QString full = walk.next();
        const QString rel = dir.relativeFilePath(full);
        const auto twin = byFolded.constFind(rel.toLower());
        if (exact.contains(rel) || twin == byFolded.constEnd())
            continue;
        // Only where the disk holds both spellings as two files.
        const QFileInfo wanted(dir.filePath(*twin));
        if (wanted.exists() && wanted.canonicalFilePath() != QFileInfo(full).canonicalFilePath())
            twins << full;
    }
    for (const QString &full : qAsConst(twins)) {
        m_session.flow().info(QStringLiteral("removing %1: the version spells it in another letter case").arg(full));
        QFileUtils::DeleteFileOrFolder(full);
    }
}
