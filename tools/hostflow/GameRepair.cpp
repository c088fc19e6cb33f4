#include "GameRepair.h"

#include "BlockDelivery.h"
#include "FlowReporter.h"
#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "download/DownloadPieces.h"
#include "planning/RepairPlanner.h"
#include "util/QFileUtils.h"
#include "verify/VerifyCallbackInfo.h"

using namespace Morvaniel;

namespace HostFlow {

GameRepair::GameRepair(FlowPart &owner)
    : FlowPart(owner)
    , m_blocks(new BlockDelivery(*this))
{
}

GameRepair::~GameRepair() = default;

void GameRepair::fetchFileManifest(const QString &version, std::function<void(const QString &)> then)
{
    const QString url = QFileUtils::CombinePath(
        QFileUtils::CombinePath(Global::Var::HostAndChannel, version), Global::Var::FullPackManifestName);
    fetchManifest(url, std::move(then));
}

void GameRepair::findBadFiles(const QString &manifestText, std::function<void(const QVector<QString> &)> then)
{
    runner().checkInstall(ctx().setting.GamePath, manifestText, true,
        onDone([then = std::move(then)](const StageEnd &end) { then(end.badFiles); }));
}

void GameRepair::repair(
    const QString &version, const QString &manifestText, const QVector<QString> &badFiles, std::function<void()> then)
{
    if (badFiles.isEmpty()) {
        then();
        return;
    }
    m_manifest = manifestText;
    emit out().phaseStarted(
        QStringLiteral("repair"), QStringLiteral("%1 file(s) of %2").arg(badFiles.size()).arg(version));
    m_blocks->repair(version, badFiles, [this, version, badFiles, then = std::move(then)](bool byBlocks) {
        if (byBlocks) {
            recheck(badFiles, then);
            return;
        }
        const QString url = QFileUtils::CombinePath(
            QFileUtils::CombinePath(Global::Var::HostAndChannel, version), QStringLiteral("repair.txt"));
        fetchManifest(url, [this, version, badFiles, then](const QString &repairText) {
            repairFrom(version, repairText, badFiles, then);
        });
    });
}

void GameRepair::recheck(const QVector<QString> &badFiles, std::function<void()> then)
{
    findBadFiles(m_manifest, [this, badFiles, then = std::move(then)](const QVector<QString> &still) {
        if (!still.isEmpty()) {
            fail(QStringLiteral("%1 file(s) still differ after the repair, first %2")
                     .arg(still.size())
                     .arg(still.first()));
            return;
        }
        out().info(QStringLiteral("repaired %1 file(s)").arg(badFiles.size()));
        then();
    });
}

void GameRepair::repairFrom(
    const QString &version, const QString &repairText, const QVector<QString> &badFiles, std::function<void()> then)
{
    GameUpdateContext &c = ctx();
    VerifyCallbackInfo failed;
    failed.errorFiles = badFiles;
    if (version == c.newestInfo.version.toString()) {
        SolveRepairManifest(repairText, c);
        GetRepairDownloadVec(c, failed);
    } else {
        SolvePartRepairManifest(repairText, c, version);
        GetRepairPartDownloadVec(c, failed, version);
    }
    if (c.downloadList.isEmpty()) {
        fail(QStringLiteral("the repair manifest of %1 names no archive for the bad files").arg(version));
        return;
    }
    QStringList archives;
    QStringList names;
    bool resume = false;
    for (const DownloadFile &file : qAsConst(c.downloadList)) {
        archives << file.localPath;
        names << file.fileName;
        resume = resume || PieceGroup::started(file);
    }
    m_archives += names;
    const QString game = c.setting.GamePath;
    auto extracted = [this, archives, badFiles, then](const StageEnd &) {
        for (const QString &archive : archives)
            QFileUtils::DeleteFileOrFolder(archive);
        recheck(badFiles, then);
    };
    auto free = [this, archives, game, extracted](const StageEnd &) {
        QString error;
        if (!stateWritten(InstallState::recordGameWritten(ctx().setting.InstallPath, error), error))
            return;
        runner().extract(archives, game, true, onDone(extracted));
    };
    runner().download(resume, names.join(QStringLiteral(", ")), onDone([this, game, free](const StageEnd &) {
        runner().checkArchives(
            onDone([this, game, free](const StageEnd &) { runner().filesFree(game, onDone(free)); }));
    }));
}

} // namespace HostFlow
