#include "GameRepair.h"

#include "FlowSession.h"
#include "UpdateFlow.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/RepairPlanner.h"
#include "util/QFileUtils.h"
#include "verify/VerifyCallbackInfo.h"

using namespace Morvaniel;

GameRepair::GameRepair(FlowSession &session)
    : m_session(session)
{
}

bool GameRepair::fetchFileManifest(const QString &version, QString &text, QString &error)
{
    const QString url = QFileUtils::CombinePath(
        QFileUtils::CombinePath(Global::Var::HostAndChannel, version), Global::Var::FullPackManifestName);
    return m_session.fetchManifest(url, text, error);
}

QVector<QString> GameRepair::findBadFiles(const QString &manifestText)
{
    m_session.flow().stage(QStringLiteral("verify-install"));
    return m_session.verifyInstall(m_session.ctx().setting.GamePath, manifestText, true);
}

bool GameRepair::repair(
    const QString &version, const QString &manifestText, const QVector<QString> &badFiles, QString &error)
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    if (badFiles.isEmpty())
        return true;
    out.stage(QStringLiteral("repair"), QStringLiteral("%1 file(s) of %2").arg(badFiles.size()).arg(version));
    QString repairText;
    const QString url = QFileUtils::CombinePath(
        QFileUtils::CombinePath(Global::Var::HostAndChannel, version), QStringLiteral("repair.txt"));
    if (!m_session.fetchManifest(url, repairText, error))
        return false;

    VerifyCallbackInfo failed;
    failed.errorFiles = badFiles;
    if (version == ctx.newestInfo.version.toString()) {
        SolveRepairManifest(repairText, ctx);
        GetRepairDownloadVec(ctx, failed);
    } else {
        SolvePartRepairManifest(repairText, ctx, version);
        GetRepairPartDownloadVec(ctx, failed, version);
    }
    if (ctx.downloadList.isEmpty()) {
        error = QStringLiteral("the repair manifest of %1 names no archive for the bad files").arg(version);
        return false;
    }
    QStringList archives;
    bool resume = false;
    for (const DownloadFile &file : qAsConst(ctx.downloadList)) {
        archives << file.localPath;
        m_archives << file.fileName;
        resume = resume || QFileUtils::IsFileExist(file.localPath);
    }
    out.stage(QStringLiteral("download"), m_archives.join(QStringLiteral(", ")));
    const FlowSession::DownloadEnd end = m_session.download(resume, error);
    if (end == FlowSession::DownloadEnd::Paused) {
        error = QStringLiteral("paused");
        return false;
    }
    if (end == FlowSession::DownloadEnd::Failed)
        return false;
    out.stage(QStringLiteral("verify-archives"));
    if (!m_session.verifyArchives(error))
        return false;
    if (!m_session.gameFilesFree(error))
        return false;
    out.stage(QStringLiteral("extract"), QStringLiteral("over the game folder, keeping its other files"));
    if (!m_session.extract(archives, ctx.setting.GamePath, true, error))
        return false;
    for (const QString &archive : qAsConst(archives))
        QFileUtils::DeleteFileOrFolder(archive);
    const QVector<QString> still = findBadFiles(manifestText);
    if (!still.isEmpty()) {
        error
            = QStringLiteral("%1 file(s) still differ after the repair, first %2").arg(still.size()).arg(still.first());
        return false;
    }
    out.info(QStringLiteral("repaired %1 file(s)").arg(badFiles.size()));
    return true;
}
