#include "BlockDelivery.h"

#include "FlowReporter.h"
#include "InstallState.h"

#include "blocks/BlockIndex.h"
#include "core/BlockComponent.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "settings/SettingKeys.h"
#include "util/DocumentLimits.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

using namespace Morvaniel;

namespace HostFlow {

namespace {

QString indexUrl(const QString &version)
{
    return QFileUtils::CombinePath(Global::Var::HostAndChannel, BlockIndex::indexPath(version));
}

} // namespace

BlockDelivery::BlockDelivery(FlowPart &owner)
    : FlowPart(owner)
{
}

void BlockDelivery::fetchIndex(const QString &version, std::function<void(const QByteArray &)> then)
{
    runner().fetchBytes(
        indexUrl(version), MaxUnsignedDocumentBytes, [this, then = std::move(then)](const StageEnd &end) {
            if (end.ok && !end.bytes.isEmpty()) {
                then(end.bytes);
                return;
            }
            if (end.ok || end.error.kind == Failure::NotOnServer) {
                then(QByteArray());
                return;
            }
            fail(end.error);
        });
}

BlockJob BlockDelivery::jobFor(const QString &version, const QByteArray &index)
{
    const GameUpdateContext &c = ctx();
    BlockJob job;
    job.folder = c.setting.GamePath;
    // Beside the game, on its volume, and never inside the cache folder that
    // an archive download empties.
    job.stagingFolder = QFileUtils::CombinePath(c.setting.InstallPath, QStringLiteral("MorvanielBlocks"));
    job.channelUrl = Global::Var::HostAndChannel;
    job.targetIndexUrl = indexUrl(version);
    job.targetIndex = index;
    return job;
}

bool BlockDelivery::plan(BlockJob &job)
{
    QString error;
    if (GetBlockComponent()->PlanBlocks(job, m_cost, error))
        return true;
    fail(QStringLiteral("the block store was refused: %1").arg(error), Failure::Refused);
    return false;
}

void BlockDelivery::choose(
    const QString &from, const QString &newest, qint64 chainBytes, qint64 fullPackBytes, std::function<void(bool)> then)
{
    QString pendingFrom;
    QString pendingTarget;
    InstallState::blockRun(ctx().setting.InstallPath, pendingFrom, pendingTarget);
    const bool pending = !pendingTarget.isEmpty();
    fetchIndex(newest, [=](const QByteArray &index) {
        if (index.isEmpty()) {
            then(false);
            return;
        }
        m_target = newest;
        // A block run under way goes on from what the folder held when it began.
        m_from = pending ? pendingFrom : from;
        auto planWith = [=](const QByteArray &installed) {
            m_job = jobFor(newest, index);
            if (!installed.isEmpty()) {
                m_job.installedIndexUrl = indexUrl(m_from);
                m_job.installedIndex = installed;
            }
            m_job.patchChainBytes = pending ? -1 : chainBytes;
            if (!plan(m_job))
                return;
            const bool byBlocks = pending || chainBytes < 0 || m_cost.preferBlocks;
            const QString chosen = byBlocks ? QStringLiteral("blocks") : QStringLiteral("archives");
            const QString other = chainBytes >= 0 ? QStringLiteral("patch chain") : QStringLiteral("full pack");
            const qint64 otherBytes = chainBytes >= 0 ? chainBytes : fullPackBytes;
            const QString text
                = QStringLiteral("blocks: %1 bytes to fetch (%2 blocks, %3 bytes from the folder); %4: %5 bytes; "
                                 "taking %6")
                      .arg(m_cost.fetchBytes)
                      .arg(m_cost.fetchBlocks)
                      .arg(m_cost.copyBytes)
                      .arg(other)
                      .arg(otherBytes)
                      .arg(byBlocks ? QStringLiteral("blocks") : other);
            Logger::LogInfo(QStringLiteral("UpdateFlow"), text);
            UpdateReport &report = out().report();
            report.blockBytes = m_cost.fetchBytes;
            report.archiveBytes = otherBytes;
            emit out().deliveryChosen(chosen, m_cost.fetchBytes, other, otherBytes);
            then(byBlocks);
        };
        if (m_from.isEmpty())
            planWith(QByteArray());
        else
            fetchIndex(m_from, planWith);
    });
}

void BlockDelivery::run(std::function<void()> then)
{
    GameUpdateContext &c = ctx();
    QString pendingFrom;
    QString pendingTarget;
    const QString dir = c.setting.InstallPath;
    InstallState::blockRun(dir, pendingFrom, pendingTarget);
    const bool resuming = pendingTarget == m_target;
    // A run that goes on took its room when it began.
    if (!resuming && !roomFor({ { m_job.folder, m_cost.diskBytes } }))
        return;
    runner().filesFree(m_job.folder, onDone([this, dir, resuming, then = std::move(then)](const StageEnd &) {
        GameUpdateContext &c = ctx();
        // From here the folder is between two versions: no version is
        // installed until the run has checked every byte it wrote.
        c.setting.TargetGameVersion = m_target;
        c.setting.TransitionGameVersion.clear();
        c.setting.CurrentGameVersion.clear();
        c.setting.CurrentStage = INIT_STAGE;
        QString error;
        if (!stateWritten(InstallState::save(c, error), error)
            || !stateWritten(InstallState::recordBlockRun(dir, m_from, m_target, error), error)
            || !stateWritten(InstallState::recordGameWritten(dir, error), error))
            return;
        out().report().blocks = true;
        start(QStringLiteral("%1, %2 bytes to fetch%3")
                  .arg(m_target)
                  .arg(m_cost.fetchBytes)
                  .arg(resuming ? QStringLiteral(" (resuming)") : QString()),
            then);
    }));
}

void BlockDelivery::start(const QString &detail, std::function<void()> then)
{
    runner().blocks(m_job, detail, [this, then = std::move(then)](const StageEnd &end) {
        if (end.ok) {
            then();
            return;
        }
        FlowError error = end.error;
        if (error.kind != Failure::Refused)
            error.message += QStringLiteral(" (run again to resume)");
        fail(error);
    });
}

void BlockDelivery::repair(const QString &version, const QVector<QString> &badFiles, std::function<void(bool)> then)
{
    fetchIndex(version, [this, version, badFiles, then = std::move(then)](const QByteArray &index) {
        if (index.isEmpty()) {
            then(false);
            return;
        }
        m_target = version;
        m_job = jobFor(version, index);
        for (const QString &file : badFiles)
            m_job.repairFiles << file;
        if (!plan(m_job))
            return;
        out().info(QStringLiteral("repair by blocks: %1 bytes to fetch for %2 file(s)")
                       .arg(m_cost.fetchBytes)
                       .arg(badFiles.size()),
            { { QStringLiteral("blocks"), double(m_cost.fetchBytes) } });
        runner().filesFree(m_job.folder, onDone([this, badFiles, then](const StageEnd &) {
            QString error;
            if (!stateWritten(InstallState::recordGameWritten(ctx().setting.InstallPath, error), error))
                return;
            out().report().blocks = true;
            out().report().blockBytes = m_cost.fetchBytes;
            start(QStringLiteral("repair of %1 file(s)").arg(badFiles.size()), [then]() { then(true); });
        }));
    });
}

} // namespace HostFlow
