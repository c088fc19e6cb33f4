#include "BlockStage.h"

#include "FlowReporter.h"
#include "InstallState.h"

#include "core/BlockComponent.h"
#include "core/GameUpdateContext.h"
#include "util/FreeSpace.h"

#include <QNetworkReply>

using namespace Morvaniel;

namespace HostFlow {

void BlockStage::registerCallback(std::function<void(BlockCallbackInfo &)> callback)
{
    GetBlockComponent()->RegistCallbackFunc(std::move(callback));
}

void BlockStage::startWorker(GameUpdateContext &ctx)
{
    m_installDir = ctx.setting.InstallPath;
    m_kept.invalidate();
    m_running = true;
    m_lastWire = 0;
    GetBlockComponent()->StartBlocks(m_job);
}

void BlockStage::stopWorker()
{
    // The final report (bPaused) follows once the blocks in flight are written.
    if (m_running)
        GetBlockComponent()->PauseBlocks();
}

void BlockStage::rebase(const ServerList &servers)
{
    m_job.channelUrl = servers.rebased(m_job.channelUrl);
    m_job.targetIndexUrl = servers.rebased(m_job.targetIndexUrl);
    m_job.installedIndexUrl = servers.rebased(m_job.installedIndexUrl);
}

void BlockStage::quit()
{
    if (!m_running)
        return;
    stop();
    GetBlockComponent()->StopBlocks();
}

void BlockStage::setSpeedLimit(int kib)
{
    m_job.speedLimitKiB = kib < 1 ? 0 : kib;
    if (m_running)
        GetBlockComponent()->SetSpeedLimit(m_job.speedLimitKiB);
}

bool BlockStage::isFinal(const BlockCallbackInfo &info) const
{
    return info.bFinished || info.bPaused || info.bError;
}

void BlockStage::count(const BlockCallbackInfo &info)
{
    m_bytesDownloaded += qMax<qint64>(0, info.wireBytes - m_lastWire);
    m_lastWire = qMax(m_lastWire, info.wireBytes);
}

void BlockStage::progress(const BlockCallbackInfo &info)
{
    count(info);
    keepProgress(info, false);
    emit reporter().downloadProgress(transferProgressOf(info));
}

void BlockStage::keepProgress(const BlockCallbackInfo &info, bool now)
{
    // Every few seconds is enough for a hint that survives a killed process.
    constexpr qint64 KeepEveryMs = 5000;
    if (m_installDir.isEmpty() || info.downloadedSize <= 0 || info.totalSize <= 0
        || (!now && m_kept.isValid() && m_kept.elapsed() < KeepEveryMs))
        return;
    m_kept.start();
    InstallState::recordBlockProgress(m_installDir, info.downloadedSize, info.totalSize);
}

std::optional<StageEnd> BlockStage::endOf(const BlockCallbackInfo &info)
{
    m_running = false;
    progress(info);
    StageEnd end;
    end.stage = Stage::Blocks;
    end.ok = info.bFinished;
    end.wireBytes = info.wireBytes;
    if (end.ok)
        return end;
    // What a paused run keeps, for a view that offers to resume it.
    if (info.bPaused && info.downloadedSize > 0 && info.totalSize > 0) {
        keepProgress(info, true);
        emit reporter().partialDownload(info.downloadedSize, info.totalSize);
    }
    const QString what = QStringLiteral("block download failed");
    end.error.detail = info.errorString;
    end.error.message = withDetail(what, info.errorString);
    switch (info.errorCode) {
    case BlockError::BadIndex:
    case BlockError::Untrusted:
    case BlockError::Tampered:
        end.error.kind = Failure::Refused;
        break;
    case BlockError::Network:
        end.error = networkError(what, m_job.channelUrl, int(QNetworkReply::UnknownNetworkError), info.errorString);
        end.error.message = withDetail(what, info.errorString);
        break;
    case BlockError::Disk: {
        end.error = writeError(what, m_job.folder, info.errorString);
        // The worker's own room check before it wrote anything.
        if (info.errorString.contains(QLatin1String(" free on ")))
            end.error.kind = Failure::DiskFull;
        end.error.message = withDetail(what, info.errorString);
        break;
    }
    case BlockError::InTheWay:
    case BlockError::None:
        if (info.bPaused)
            end.error.message = QStringLiteral("%1: paused").arg(what);
        break;
    }
    return end;
}

} // namespace HostFlow
