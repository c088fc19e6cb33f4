#include "download/DownloaderManager.h"

#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "download/DownloadTimings.h"
#include "download/Downloader.h"
#include "trust/ReleaseListing.h"
#include "util/FolderGuard.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/WorkerInstance.h"

#include <QDebug>
#include <QDir>
#include <QHash>
#include <QNetworkAccessManager>
#include <QTimer>

namespace Morvaniel {

DownloaderManager *DownloaderManager::m_pDownloaderInstance = nullptr;

DownloaderManager *DownloaderManager::GetInstance()
{
    return WorkerInstance::get(m_pDownloaderInstance, [](QObject *app) { return new DownloaderManager(app); });
}

DownloaderManager::DownloaderManager(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_watchdogTimer(new QTimer(this))
    , m_speedTimer(new QTimer(this))
    , m_restartTimer(new QTimer(this))
{
    qRegisterMetaType<Morvaniel::ErrorCode>("Morvaniel::ErrorCode");
    connect(m_watchdogTimer, &QTimer::timeout, this, &DownloaderManager::onTimeout);
    connect(m_speedTimer, &QTimer::timeout, this, &DownloaderManager::onCalcSpeed);
    connect(m_restartTimer, &QTimer::timeout, this, &DownloaderManager::OnRestartTimer, Qt::DirectConnection);
}

DownloaderManager::~DownloaderManager()
{
    for (const QPointer<QTimer> &timer : { m_watchdogTimer, m_restartTimer, m_speedTimer }) {
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
    }
    ReleaseDownloaderList();
    WorkerInstance::release(m_pDownloaderInstance, this);
}

void DownloaderManager::RegistCallbackFunc(std::function<void(DownloadCallbackInfo &)> fn)
{
    m_callback = std::move(fn);
}

int DownloaderManager::GetCurrentDownloaderListSize() const
{
    return downloaderList.size();
}

void DownloaderManager::PreStartDownload(GameUpdateContext &ctx)
{
    ClearRecordSpeed();
    ResetAccessible();
    bReported = false;
    transferScheduled = false;
    m_pending.clear();
    m_rootFolder.clear();
    m_conflictingPath.clear();
    m_unlistedUrl.clear();
    const bool trusted = ReleaseListing::required();

    const QString version = ctx.newestInfo.version.toString();
    const QString prefix = Global::Var::gameVersionPrefix;
    // Every transfer appends to its file: two transfers of one file would
    // write it twice over. A package listed twice is fetched once; two
    // different contents for one file cannot both be kept.
    QHash<QString, DownloadFile> byFile;
    for (const DownloadFile &entry : qAsConst(ctx.downloadList)) {
        const QString key = FolderGuard::ComparablePath(entry.localPath);
        const auto listed = byFile.constFind(key);
        if (listed != byFile.constEnd()) {
            // A digest is hex: its letter case means nothing.
            if (m_conflictingPath.isEmpty()
                && (listed->url != entry.url || listed->md5.compare(entry.md5, Qt::CaseInsensitive) != 0))
                m_conflictingPath = entry.localPath;
            continue;
        }
        byFile.insert(key, entry);
        DownloadFile copy = entry;
        // With signed releases on, the signed listing decides what is fetched
        // and how much of it: a longer body stops at the listed size.
        ListedFile signedEntry;
        if (trusted && ReleaseListing::lookup(entry.url, signedEntry)) {
            if (copy.size != signedEntry.size)
                Logger::LogInfo("Downloader",
                    QString("%1: %2 bytes listed by the signed release, %3 planned")
                        .arg(copy.url, QString::number(signedEntry.size), QString::number(copy.size)));
            copy.size = signedEntry.size;
        } else if (trusted && m_unlistedUrl.isEmpty()) {
            m_unlistedUrl = entry.url;
        }
        if (!prefix.isEmpty() && copy.url.contains(version, Qt::CaseSensitive))
            copy.url.replace(version, version + prefix, Qt::CaseSensitive);
        Logger::LogInfo("Downloader",
            QString("StartDownload m_downloadUrl is %1, file=%2, size=%3")
                .arg(copy.url, copy.localPath, QString::number(copy.size)));
        m_pending.append(copy);
        if (m_rootFolder.isEmpty())
            m_rootFolder = QFileUtils::GetParentPath(copy.localPath);
    }

    m_totalReceived = 0;
    m_lastTotalReceived = 0;
    // A run refused before it counts anything reports nothing downloaded.
    m_totalSize = 0;
    m_bytesCurrentTotalReceived = 0;
    m_info.speed = 0;
    m_pumpClock.start();
    m_lastPumpReading = 0;
}

void DownloaderManager::CalculateTotalSize(GameUpdateContext &ctx)
{
    ExpandPieces();
    m_totalSize = 0;
    m_bytesCurrentTotalReceived = 0;
    for (const DownloadFile &entry : qAsConst(m_pending)) {
        m_totalSize += entry.size;
        const qint64 onDisk = QFileUtils::GetFileSize(entry.localPath);
        if (onDisk > entry.size)
            QFileUtils::DeleteFileOrFolder(entry.localPath);
        else
            m_bytesCurrentTotalReceived += onDisk;
    }
    ctx.downloadedAtStart = m_bytesCurrentTotalReceived;
    ctx.downloadedBefore = m_bytesCurrentTotalReceived;
}

void DownloaderManager::StartDownload(GameUpdateContext &ctx)
{
    if (!bIdle)
        return;
    bIdle = false;
    m_restartTimer->stop();
    m_restartPending = false;
    m_retryCount = 0;
    PreStartDownload(ctx);
    if (RefuseConflictingList())
        return;
    // A fresh start never resumes: the whole root folder goes, partial files
    // included. A root that is a drive, the program's folder or climbs with
    // ".." cannot be a cache folder and is never emptied.
    if (!FolderGuard::IsProtectedFolder(m_rootFolder))
        QFileUtils::DeleteFileOrFolder(m_rootFolder);
    else if (!m_rootFolder.isEmpty())
        Logger::LogInfo("Downloader", QString("refusing to empty %1").arg(m_rootFolder));
    if (!m_rootFolder.isEmpty())
        QFileUtils::CreateFolder(m_rootFolder);
    CalculateTotalSize(ctx);
    StartNextDownload();
    onCalcSpeed();
}

void DownloaderManager::ResumeDownload(GameUpdateContext &ctx)
{
    // A run that waits for its restart is not idle: the armed restart is what
    // continues it, and stopping it here would leave the run with nothing to do.
    if (!bIdle)
        return;
    m_restartTimer->stop();
    m_restartPending = false;
    ContinueRun(ctx);
}

void DownloaderManager::ContinueRun(GameUpdateContext &ctx)
{
    bIdle = false;
    PreStartDownload(ctx);
    if (RefuseConflictingList())
        return;
    CalculateTotalSize(ctx);
    if (!m_rootFolder.isEmpty())
        QFileUtils::CreateFolder(m_rootFolder);
    StartNextDownload();
    onCalcSpeed();
}

bool DownloaderManager::RefuseConflictingList()
{
    if (!m_unlistedUrl.isEmpty()) {
        Logger::LogInfo("Downloader", QString("%1 is not listed by the signed release, refused").arg(m_unlistedUrl));
        onError(NetworkFailure, QStringLiteral("下载文件%1不在已签名的发布清单中").arg(m_unlistedUrl));
        return true;
    }
    if (m_conflictingPath.isEmpty())
        return false;
    // Refused before anything on disk is touched or requested.
    onError(NetworkFailure, QStringLiteral("下载列表中的文件%1对应不同的内容").arg(m_conflictingPath));
    return true;
}

void DownloaderManager::OnRestartTimer()
{
    qDebug() << "timeout"
             << "start download";
    m_restartPending = false;
    m_restartTimer->stop();
    bIdle = true;
    const std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    if (ctx)
        ContinueRun(*ctx);
}

void DownloaderManager::PauseDownload(GameUpdateContext &)
{
    Logger::LogInfo(
        "Downloader", QString("PauseDownload m_downloadUrl is %1, file=%2").arg(m_downloadUrl.toString(), m_filePath));
    if (bIdle)
        return;
    bIdle = true;
    transferScheduled = false;
    m_watchdogTimer->stop();
    m_speedTimer->stop();
    m_restartTimer->stop();
    // A restart that was armed is gone with its timer; the next failure may arm one again.
    m_restartPending = false;
    StopJoining();
    ReleaseDownloaderList();
}

void DownloaderManager::StartNextDownload()
{
    Logger::LogInfo("DownloadManager", QString("downloaderList.size() is %1").arg(GetCurrentDownloaderListSize()));
    if (GetCurrentDownloaderListSize() >= MaxTransfers())
        return;
    // A file fetched in pieces is done once they are joined.
    if (m_pending.isEmpty() && GetCurrentDownloaderListSize() == 0 && m_pieceGroups.isEmpty()) {
        Logger::LogInfo(
            "DownloadManager", QString("XXX downloaderList.size() is %1").arg(GetCurrentDownloaderListSize()));
        FinishDownload();
        return;
    }
    if (!m_pending.isEmpty()) {
        const DownloadFile entry = m_pending.takeFirst();
        PrivateStartRequest(QUrl(entry.url), entry.localPath, entry.size);
    }
}

void DownloaderManager::PrivateStartRequest(const QUrl &url, const QString &filePath, qint64 size)
{
    m_downloadUrl = url;
    m_filePath = filePath;
    const qint64 onDisk = QFileUtils::GetFileSize(filePath);

    auto *transfer = new downloader(this, m_network, &m_totalReceived);
    connect(transfer, &downloader::ReadyToTransfer, this, &DownloaderManager::onReadyRead);
    connect(transfer, &downloader::DownloadResult, this, &DownloaderManager::onDownloadResult);
    connect(transfer, &downloader::BytesDiscarded, this, &DownloaderManager::OnBytesDiscarded);
    // Queued: the transfer reports it from inside the rate pump's pass.
    connect(transfer, &downloader::RangeIgnored, this, &DownloaderManager::OnRangeIgnored, Qt::QueuedConnection);
    downloaderList.append(QPointer<downloader>(transfer));

    transfer->SetDownloadInfo(filePath, url, size);
    SetUpPiece(*transfer, filePath);
    // The limit sets the transfer's read buffer, which its request needs from the start.
    ClearRecordSpeed();
    PrivateSetSpeedLimit();
    transfer->ReStartDownload();
    Logger::LogInfo(
        "Downloader", QString("download url is %1, received bytes=%2").arg(url.toString(), QString::number(onDisk)));

    if (bIdle)
        return;
    if (!m_speedTimer->isActive())
        m_speedTimer->start(1000);
    m_watchdogTimer->stop();
    m_watchdogTimer->start(DownloadTimings::Current().watchdogMs);

    if (GetCurrentDownloaderListSize() < MaxTransfers())
        StartNextDownload();
}

void DownloaderManager::onDownloadResult(ErrorCode code, QString errStr, QString filename)
{
    switch (code) {
    case FileComplete: {
        const bool hadTransfers = !downloaderList.isEmpty();
        for (int i = 0; i < downloaderList.size(); ++i) {
            const QPointer<downloader> transfer = downloaderList.at(i);
            if (transfer && transfer->GetFilePath() == filename) {
                transfer->Stop();
                transfer->deleteLater();
                downloaderList.removeAt(i);
                break;
            }
        }
        if (hadTransfers && !bIdle) {
            PieceCompleted(filename);
            StartNextDownload();
        }
        break;
    }
    case NetworkFailure:
        if (bIdle)
            break;
        if (!startDownloadedFlag) {
            qDebug() << "timeout"
                     << "direct";
            onError(NetworkFailure, errStr);
            break;
        }
        qDebug() << "timeout"
                 << "startDownloadedFlag" << m_retryCount;
        if (m_retryCount <= m_maxRetryCount) {
            if (m_restartPending)
                break; // one restart is already armed for the whole run
            qDebug() << "timeout"
                     << "add";
            ++m_retryCount;
            ReleaseDownloaderList();
            m_restartPending = true;
            m_restartTimer->start(DownloadTimings::Current().restartMs);
        } else {
            qDebug() << "timeout"
                     << "onError";
            m_retryCount = 0;
            startDownloadedFlag = false;
            onError(NetworkFailure, errStr);
        }
        break;
    case ShortWrite:
        onError(ShortWrite, QString());
        break;
    default:
        break;
    }
}

void DownloaderManager::onError(ErrorCode errorCodem, QString errString)
{
    if (bReported)
        return;
    bReported = true;
    m_watchdogTimer->stop();
    m_speedTimer->stop();
    // An armed restart would bring the run back to life after its final report.
    m_restartTimer->stop();
    m_restartPending = false;
    bIdle = true;
    StopJoining();

    if (errString.isEmpty()) {
        if (errorCodem == StallTimeout)
            errString = QStringLiteral("网络请求超时，请检查网络问题");
        else if (errorCodem == ShortWrite)
            errString = QStringLiteral("磁盘空间不足，请清理磁盘后，再进行下载。");
        else
            errString = QStringLiteral("下载失败，请检查网络");
    }
    // Stopping a transfer writes out what its reply still holds: only after
    // that does the count match what is on disk.
    ReleaseDownloaderList();
    AccountReceivedBytes();
    m_info.errorString = errString;
    m_info.downloadedSize = m_bytesCurrentTotalReceived;
    m_info.bError = true;
    m_info.errorCode = errorCodem;
    if (m_callback)
        m_callback(m_info);
}

void DownloaderManager::FinishDownload()
{
    Logger::LogInfo("DownloaderManager", "download complete");
    m_watchdogTimer->stop();
    m_speedTimer->stop();
    if (bReported)
        return;
    bReported = true;
    bIdle = true;
    ReleaseDownloaderList();
    AccountReceivedBytes();
    if (m_callback) {
        m_info.bError = false;
        m_info.bFinished = true;
        m_info.totalSize = m_totalSize;
        m_info.downloadedSize = m_bytesCurrentTotalReceived;
        m_callback(m_info);
    }
}

void DownloaderManager::ReleaseDownloaderList()
{
    for (int i = downloaderList.size() - 1; i >= 0; --i) {
        const QPointer<downloader> transfer = downloaderList.at(i);
        if (transfer) {
            transfer->Stop();
            transfer->deleteLater();
        }
    }
    downloaderList.clear();
}

void DownloaderManager::ResetAccessible()
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    if (m_network && m_network->networkAccessible() == QNetworkAccessManager::NotAccessible) {
        Logger::LogInfo("Downloader", "ResetAccessible");
        m_network->setNetworkAccessible(QNetworkAccessManager::Accessible);
    }
    QT_WARNING_POP
}

void DownloaderManager::AccountReceivedBytes()
{
    // The speed tick folds received bytes in only once a second; a final report
    // must not claim less than is on disk.
    m_bytesCurrentTotalReceived += m_totalReceived - m_lastTotalReceived;
    m_lastTotalReceived = m_totalReceived;
    if (m_totalSize > 0)
        m_info.progress = float(double(m_bytesCurrentTotalReceived) / double(m_totalSize));
}

void DownloaderManager::OnBytesDiscarded(qint64 bytes)
{
    // The bytes were counted as on disk at the start of the run, or as received
    // since; those received may not be folded into the count yet (the speed tick
    // does that once a second), so the count may dip below zero until then.
    m_bytesCurrentTotalReceived -= bytes;
}

} // namespace Morvaniel
