#include "WorkerStages.h"

#include "FlowReporter.h"

#include "core/CheckComponent.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "core/PatchComponent.h"
#include "core/UnZipComponent.h"
#include "core/VerifyComponent.h"
#include "patch/Patcher.h"
#include "unzip/UnZipper.h"
#include "verify/Checker.h"
#include "verify/Verifyer.h"

#include <QNetworkReply>
#include <QRegularExpression>

using namespace Morvaniel;

namespace HostFlow {

// --- Download ---------------------------------------------------------------

void DownloadStage::registerCallback(std::function<void(DownloadCallbackInfo &)> callback)
{
    GetDownloadComponent()->RegistCallbackFunc(std::move(callback));
}

void DownloadStage::startWorker(GameUpdateContext &ctx)
{
    m_ctx = &ctx;
    m_atStart = -1;
    m_last = 0;
    m_running = true;
    if (m_limitPending)
        ctx.setting.LimitSpeed = m_limitKiB;
    if (m_resume)
        GetDownloadComponent()->ResumeDownload(ctx);
    else
        GetDownloadComponent()->StartDownload(ctx);
}

void DownloadStage::stopWorker()
{
    if (!m_running)
        return;
    m_running = false;
    GetDownloadComponent()->PauseDownload(*m_ctx);
    StageEnd end;
    end.stage = Stage::Download;
    end.error.message = QStringLiteral("paused");
    abandon(end);
}

void DownloadStage::setSpeedLimit(int kib)
{
    m_limitKiB = kib < 1 ? -1 : kib;
    m_limitPending = true;
    if (!m_running)
        return;
    m_ctx->setting.LimitSpeed = m_limitKiB;
    GetDownloadComponent()->SetSpeedLimit();
}

bool DownloadStage::isFinal(const DownloadCallbackInfo &info) const
{
    return info.bError || info.bFinished;
}

void DownloadStage::count(const DownloadCallbackInfo &info)
{
    // The first report of a resumed run already counts what was on disk.
    if (m_atStart < 0)
        m_atStart = info.downloadedSize;
    m_bytesDownloaded += qMax<qint64>(0, info.downloadedSize - qMax(m_last, m_atStart));
    m_last = qMax(m_last, info.downloadedSize);
}

void DownloadStage::progress(const DownloadCallbackInfo &info)
{
    count(info);
    if (!inView())
        return;
    TransferProgress p = transferProgressOf(info);
    if (m_shareWhole > 0) {
        p.done = qMin(m_shareWhole, p.done + m_shareBefore);
        p.total = m_shareWhole;
        p.fraction = double(p.done) / double(p.total);
        if (p.speed > 0)
            p.secondsLeft = (p.total - p.done) / p.speed;
        p.finished = p.finished && p.done == p.total;
    }
    emit reporter().downloadProgress(p);
}

std::optional<StageEnd> DownloadStage::endOf(const DownloadCallbackInfo &info)
{
    m_running = false;
    progress(info);
    StageEnd end;
    end.stage = Stage::Download;
    end.ok = info.bFinished && !info.bError;
    if (end.ok)
        return end;
    const QString what = QStringLiteral("download failed");
    const QString address = m_ctx->downloadList.isEmpty() ? QString() : m_ctx->downloadList.first().url;
    switch (info.errorCode) {
    case NetworkFailure: {
        const int code = downloadNetworkError(info.errorString);
        if (code >= 0) {
            end.error = networkError(what, address, code, info.errorString);
        } else {
            // The download manager's own refusals (a file the signed release
            // does not list, one path with two contents) name no network error.
            end.error.kind = Failure::Refused;
            end.error.message = QStringLiteral("%1: the server's list of files was refused").arg(what);
            end.error.detail = info.errorString;
        }
        break;
    }
    case StallTimeout:
        end.error = networkError(what, address, int(QNetworkReply::TimeoutError), info.errorString);
        end.error.message = QStringLiteral("%1: the server stopped sending (timed out)").arg(what);
        break;
    case ShortWrite:
        end.error = writeError(what, m_ctx->setting.CachePath, info.errorString);
        // A write that came up short with room and rights left is still the disk's.
        if (end.error.kind == Failure::Other) {
            end.error.kind = Failure::DiskFull;
            end.error.message = QStringLiteral("%1: the disk is full").arg(what);
        }
        break;
    default:
        end.error.message = withDetail(what, info.errorString);
        end.error.detail = info.errorString;
        break;
    }
    return end;
}

// --- Verify -----------------------------------------------------------------

VerifyStage::VerifyStage(StageRunner &runner, Stage stage)
    : WorkerStage(runner)
    , m_stage(stage)
{
}

void VerifyStage::registerCallback(std::function<void(VerifyCallbackInfo &)> callback)
{
    GetVerifyComponent()->RegistCallbackFunc(std::move(callback));
}

void VerifyStage::startWorker(GameUpdateContext &ctx)
{
    GetVerifyComponent()->StartVerify(ctx);
}

void VerifyStage::stopWorker()
{
    Verifyer::GetInstance()->StopVerify();
}

void VerifyStage::progress(const VerifyCallbackInfo &info)
{
    if (inView())
        emit reporter().stageProgress(m_stage, QStringLiteral("verify"), info.progress);
}

std::optional<StageEnd> VerifyStage::endOf(const VerifyCallbackInfo &info)
{
    StageEnd end;
    end.stage = m_stage;
    if (m_stage == Stage::CheckArchives) {
        end.ok = !info.bError;
        end.error.kind = Failure::Damaged;
        end.error.message = QStringLiteral("a downloaded archive failed its check and was deleted");
        if (!info.errorText.isEmpty())
            end.error.message += QStringLiteral(" (%1)").arg(info.errorText);
        return end;
    }
    // Files that differ are what the check found, not a failure of it.
    end.ok = true;
    end.differs = info.bError;
    if (m_byMd5)
        end.badFiles = info.errorFiles;
    return end;
}

// --- Files in use -----------------------------------------------------------

void InUseStage::registerCallback(std::function<void(CheckCallbackInfo &)> callback)
{
    GetCheckComponent()->RegistCallbackFunc(std::move(callback));
}

void InUseStage::startWorker(GameUpdateContext &ctx)
{
    m_ctx = &ctx;
    m_asking = false;
    ctx.checkFolder = m_folder;
    GetCheckComponent()->StartChecker(ctx);
}

void InUseStage::stopWorker()
{
    if (!m_asking) {
        Checker::GetInstance()->StopCheck();
        return;
    }
    m_asking = false;
    StageEnd end;
    end.stage = Stage::FilesInUse;
    end.error.message = QStringLiteral("stopped while %1 was in use").arg(m_held);
    abandon(end);
}

std::optional<StageEnd> InUseStage::endOf(const CheckCallbackInfo &info)
{
    StageEnd end;
    end.stage = Stage::FilesInUse;
    end.ok = !info.bError;
    if (end.ok || stopRequested())
        return end;
    // Nothing is written while the question is open.
    m_held = info.errorPath;
    m_asking = true;
    emit reporter().filesInUse({ m_held });
    return std::nullopt;
}

void InUseStage::answer(bool retry)
{
    if (!m_asking)
        return;
    m_asking = false;
    if (retry) {
        startAgain(*m_ctx);
        return;
    }
    StageEnd end;
    end.stage = Stage::FilesInUse;
    end.error.kind = Failure::FileInUse;
    end.error.path = m_held;
    end.error.message = QStringLiteral("%1 is in use by another program; the game was left as it is").arg(m_held);
    abandon(end);
}

// --- Extract ----------------------------------------------------------------

void UnZipStage::registerCallback(std::function<void(UnZipCallbackInfo &)> callback)
{
    GetUnZipComponent()->RegistCallbackFunc(std::move(callback));
}

void UnZipStage::startWorker(GameUpdateContext &ctx)
{
    m_target = ctx.unzipTargetDir;
    GetUnZipComponent()->StartUnZip(ctx);
}

void UnZipStage::stopWorker()
{
    UnZipper::GetInstance()->StopUnZip();
}

void UnZipStage::progress(const UnZipCallbackInfo &info)
{
    if (info.totalCount > 0 && inView())
        emit reporter().stageProgress(
            Stage::Extract, QStringLiteral("extract"), (info.curCount + info.percent / 100.0) / info.totalCount);
}

std::optional<StageEnd> UnZipStage::endOf(const UnZipCallbackInfo &info)
{
    StageEnd end;
    end.stage = Stage::Extract;
    end.ok = info.code == UnZipOk;
    if (end.ok)
        return end;
    const QString what = QStringLiteral("extraction failed (code %1)").arg(info.code);
    if (info.code == UnZipArchiverMissing) {
        end.error.message = withDetail(QStringLiteral("7z could not be started"), info.errStr);
        end.error.detail = info.errStr;
        return end;
    }
    // 7z ends with a fatal error when it cannot write as well as on a damaged archive.
    end.error = writeError(what, m_target, info.errStr);
    if (end.error.kind == Failure::Other && info.code == UnZipFatalError) {
        end.error.kind = Failure::Damaged;
        end.error.message = QStringLiteral("%1: an archive is damaged").arg(what);
    }
    return end;
}

// --- Patch ------------------------------------------------------------------

PatchStage::PatchStage(StageRunner &runner, Stage stage)
    : WorkerStage(runner)
    , m_stage(stage)
{
}

void PatchStage::registerCallback(std::function<void(PatcherCallbackInfo &)> callback)
{
    GetPatchComponent()->RegistCallbackFunc(std::move(callback));
}

void PatchStage::startWorker(GameUpdateContext &ctx)
{
    m_target = ctx.bGameUpdate ? ctx.mergeTargetPath : ctx.updateTargetDir;
    GetPatchComponent()->StartApplyPatch(ctx);
}

void PatchStage::stopWorker()
{
    Patcher::GetInstance()->StopApplyPatch();
}

bool PatchStage::isFinal(const PatcherCallbackInfo &info) const
{
    return info.bFinished || info.bError;
}

void PatchStage::progress(const PatcherCallbackInfo &info)
{
    if (info.totalpercent == 0)
        return;
    static const char *const steps[] = { "patch", "copy", "delete" };
    const QString step = m_stage == Stage::Merge ? QString::fromLatin1(steps[qBound(0, int(info.status), 2)])
                                                 : QStringLiteral("update");
    emit reporter().stageProgress(m_stage, step, double(info.percent) / double(info.totalpercent));
}

std::optional<StageEnd> PatchStage::endOf(const PatcherCallbackInfo &info)
{
    StageEnd end;
    end.stage = m_stage;
    end.ok = !info.bError && info.errorString.isEmpty();
    end.needMd5Check = info.needMd5CheckPakDir;
    if (end.ok)
        return end;
    const QString what = m_stage == Stage::Merge ? QStringLiteral("merge stage failed")
                                                 : QStringLiteral("the launcher's files could not be replaced");
    // The patcher's texts: a file held open, a full disk, too little memory.
    static const QRegularExpression inUse(QStringLiteral("^文件(.+)被占用中"));
    const QRegularExpressionMatch held = inUse.match(info.errorString);
    if (held.hasMatch()) {
        end.error.kind = Failure::FileInUse;
        end.error.path = held.captured(1);
        end.error.message = QStringLiteral("%1: %2 is in use by another program").arg(what, end.error.path);
        end.error.detail = info.errorString;
        return end;
    }
    end.error = writeError(what, m_target, info.errorString);
    if (end.error.kind == Failure::Other && info.errorString.contains(QStringLiteral("磁盘空间不足"))) {
        end.error.kind = Failure::DiskFull;
        end.error.message = QStringLiteral("%1: the disk is full").arg(what);
    } else if (end.error.kind == Failure::Other && info.errorString.contains(QStringLiteral("内存不足"))) {
        end.error.message = QStringLiteral("%1: not enough memory").arg(what);
    }
    return end;
}

} // namespace HostFlow
