#include "FlowSession.h"

#include "SignedRelease.h"
#include "StageWait.h"
#include "UpdateFlow.h"

#include "core/CheckComponent.h"
#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "core/PatchComponent.h"
#include "core/UnZipComponent.h"
#include "core/VerifyComponent.h"
#include "download/DownloadCallbackInfo.h"
#include "trust/ReleaseTrust.h"
#include "unzip/UnZipCallbackInfo.h"
#include "util/QFileUtils.h"
#include "verify/CheckCallbackInfo.h"
#include "verify/VerifyCallbackInfo.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <QMutexLocker>

using namespace Morvaniel;

FlowSession::FlowSession(UpdateFlow &flow)
    : m_flow(flow)
{
    // The components create their workers on first use, which must be on the
    // main thread: a run may use them first from its own.
    onMainThread([]() {
        GetCoreSystemInstance();
        GetDownloadComponent();
        GetVerifyComponent();
        GetUnZipComponent();
        GetPatchComponent();
        GetCheckComponent();
    });
}

FlowSession::~FlowSession()
{
    // The components keep the callbacks; none may outlive the frames they point into.
    onMainThread([]() {
        GetDownloadComponent()->RegistCallbackFunc({});
        GetVerifyComponent()->RegistCallbackFunc({});
        GetUnZipComponent()->RegistCallbackFunc({});
        GetPatchComponent()->RegistCallbackFunc({});
        GetCheckComponent()->RegistCallbackFunc({});
    });
}

GameUpdateContext &FlowSession::ctx()
{
    return *GetCoreSystemInstance()->GetCurGameUpdateContext();
}

bool FlowSession::fetchText(const QString &url, QString &text, QString &error)
{
    StageWait wait;
    int code = 0;
    onMainThread([&]() {
        GetDownloadComponent()->GetContentByUrl(
            url,
            [&](const QString &content, int result) {
                text = content;
                code = result;
                wait.finish();
            },
            QString(), false);
    });
    wait.exec();
    if (code != 0)
        error = QStringLiteral("could not fetch %1 (network error %2)").arg(url, QString::number(code));
    return code == 0;
}

bool FlowSession::fetchBytes(const QString &url, qint64 maxBytes, QByteArray &bytes, QString &error)
{
    QNetworkAccessManager network;
    QNetworkRequest request{ QUrl(url) };
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply *reply = network.get(request);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
        if (received > maxBytes && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    bytes = reply->readAll();
    if (tooLarge)
        error = QStringLiteral("could not fetch %1 (more than %2 bytes)").arg(url, QString::number(maxBytes));
    else if (reply->error() != QNetworkReply::NoError)
        error = QStringLiteral("could not fetch %1 (%2)").arg(url, reply->errorString());
    const bool ok = !tooLarge && reply->error() == QNetworkReply::NoError;
    delete reply;
    return ok;
}

bool FlowSession::acceptRelease(const QString &channel, QString &error)
{
    if (!ReleaseTrust::IsEnabled())
        return true;
    // The library refuses larger documents anyway; a server need not send more.
    constexpr qint64 MaxDocument = 16 * 1024 * 1024;
    constexpr qint64 MaxSignature = 4096;
    QByteArray document;
    QByteArray signature;
    if (!fetchBytes(QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::DocumentPath(channel)), MaxDocument,
            document, error)
        || !fetchBytes(QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::SignaturePath(channel)), MaxSignature,
            signature, error))
        return false;
    if (!SignedRelease::accept(document, signature, channel, ctx().setting.InstallPath, error))
        return false;
    ++m_releasesAccepted;
    m_flow.info(QStringLiteral("signed release of %1 accepted").arg(channel));
    return true;
}

bool FlowSession::fetchManifest(const QString &url, QString &text, QString &error)
{
    return fetchText(url, text, error) && ReleaseTrust::CheckText(url, text, error);
}

namespace {

TransferProgress progressOf(const DownloadCallbackInfo &info)
{
    TransferProgress p;
    p.done = info.downloadedSize;
    p.total = info.totalSize;
    p.speed = info.speed;
    p.secondsLeft = info.remainTime;
    p.fraction = double(info.progress);
    p.finished = info.bFinished;
    return p;
}

} // namespace

FlowSession::DownloadEnd FlowSession::download(bool resume, QString &error)
{
    GameUpdateContext &c = ctx();
    StageWait wait;
    bool failed = false;
    bool paused = false;
    qint64 atStart = -1;
    qint64 last = 0;
    emit m_flow.downloadStarted();
    onMainThread([&]() {
        GetDownloadComponent()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
            // The first report of a resumed run already counts what was on disk.
            if (atStart < 0)
                atStart = info.downloadedSize;
            last = info.downloadedSize;
            emit m_flow.downloadProgress(progressOf(info));
            if (info.bError) {
                failed = true;
                error = info.errorString;
            }
            if (info.bError || info.bFinished)
                wait.finish();
        });
        m_pauseDownload = [&]() {
            if (paused)
                return;
            GetDownloadComponent()->PauseDownload(c);
            paused = true;
            wait.interrupt();
        };
        if (m_limitPending)
            c.setting.LimitSpeed = m_limitKiB;
        if (resume)
            GetDownloadComponent()->ResumeDownload(c);
        else
            GetDownloadComponent()->StartDownload(c);
        // A pause may have been asked for while no download ran.
        if (m_flow.pauseRequested())
            m_pauseDownload();
    });
    wait.exec();
    onMainThread([&]() {
        GetDownloadComponent()->RegistCallbackFunc({});
        m_pauseDownload = nullptr;
    });
    emit m_flow.progressEnded();
    m_bytesDownloaded += qMax<qint64>(0, last - qMax<qint64>(0, atStart));
    if (paused && !wait.finished())
        return DownloadEnd::Paused;
    return failed ? DownloadEnd::Failed : DownloadEnd::Done;
}

void FlowSession::pauseDownload()
{
    if (m_pauseDownload)
        m_pauseDownload();
}

void FlowSession::setSpeedLimit(int kib)
{
    m_limitKiB = kib < 1 ? -1 : kib;
    m_limitPending = true;
    if (!m_pauseDownload)
        return;
    ctx().setting.LimitSpeed = m_limitKiB;
    GetDownloadComponent()->SetSpeedLimit();
}

bool FlowSession::verifyArchives(QString &error)
{
    GameUpdateContext &c = ctx();
    c.verifySingle = true;
    c.updateMode = UpdateModeUpdate;
    c.verifyFileList.clear();
    c.verifyMd5List.clear();
    for (const DownloadFile &file : qAsConst(c.downloadList)) {
        c.verifyFileList.append(file.localPath);
        c.verifyMd5List.append(file.md5);
    }
    const bool bad = runVerify().bError;
    if (bad)
        error = QStringLiteral("a downloaded archive failed its MD5 check and was deleted");
    return !bad;
}

bool FlowSession::extract(const QStringList &archives, const QString &target, bool keepTarget, QString &error)
{
    GameUpdateContext &c = ctx();
    c.unzipFiles = archives.toVector();
    c.unzipTargetDir = target;
    c.updateMode = keepTarget ? UpdateModeRepair : UpdateModeUpdate;
    StageWait wait;
    int code = 0;
    QString text;
    onMainThread([&]() {
        GetUnZipComponent()->RegistCallbackFunc([&](UnZipCallbackInfo &info) {
            if (info.bComplete) {
                code = info.code;
                text = info.errStr;
                wait.finish();
            } else if (info.totalCount > 0) {
                emit m_flow.stageProgress(
                    QStringLiteral("extract"), (info.curCount + info.percent / 100.0) / info.totalCount);
            }
        });
        GetUnZipComponent()->StartUnZip(c);
    });
    wait.exec();
    onMainThread([]() { GetUnZipComponent()->RegistCallbackFunc({}); });
    emit m_flow.progressEnded();
    if (code != UnZipOk)
        error = QStringLiteral("extraction failed (code %1): %2").arg(code).arg(text);
    return code == UnZipOk;
}

// One stage of the patcher; bGameUpdate of the context chooses which.
PatcherCallbackInfo FlowSession::runPatchStage()
{
    StageWait wait;
    PatcherCallbackInfo end;
    const bool game = ctx().bGameUpdate;
    onMainThread([&]() {
        GetPatchComponent()->RegistCallbackFunc([&](PatcherCallbackInfo &info) {
            if (info.bFinished || info.bError) {
                end = info;
                wait.finish();
            } else if (info.totalpercent > 0) {
                static const char *const steps[] = { "patch", "copy", "delete" };
                const QString name
                    = game ? QString::fromLatin1(steps[qBound(0, int(info.status), 2)]) : QStringLiteral("update");
                emit m_flow.stageProgress(name, double(info.percent) / double(info.totalpercent));
            }
        });
        GetPatchComponent()->StartApplyPatch(ctx());
    });
    wait.exec();
    onMainThread([]() { GetPatchComponent()->RegistCallbackFunc({}); });
    emit m_flow.progressEnded();
    return end;
}

bool FlowSession::merge(
    const QString &patchDir, const QString &target, const QString &temp, bool &needMd5Check, QString &error)
{
    GameUpdateContext &c = ctx();
    c.bGameUpdate = true;
    c.patchDir = patchDir;
    c.mergeTargetPath = target;
    c.mergeTempPath = temp;
    c.skipPatchFiles = false;
    const PatcherCallbackInfo end = runPatchStage();
    needMd5Check = end.needMd5CheckPakDir;
    error = end.errorString;
    return !end.bError && end.errorString.isEmpty();
}

bool FlowSession::updateFiles(const QString &target, const QString &source, const QString &oldManifest,
    const QString &newManifest, QString &error)
{
    GameUpdateContext &c = ctx();
    c.bGameUpdate = false;
    c.updateTargetDir = target;
    c.updateSourceDir = source;
    c.oldFileManifestText = oldManifest;
    c.newFileManifestText = newManifest;
    const PatcherCallbackInfo end = runPatchStage();
    error = end.errorString;
    return !end.bError && end.errorString.isEmpty();
}

QVector<QString> FlowSession::verifyInstall(const QString &folder, const QString &manifestText, bool withPakFolder)
{
    GameUpdateContext &c = ctx();
    c.verifySingle = false;
    c.verifyFolder = folder;
    c.verifyManifestText = manifestText;
    c.needMd5Check = true;
    c.needMd5CheckPaksDir = withPakFolder;
    c.updateMode = UpdateModeRepair; // failure collection: every file by MD5, every failure listed
    return runVerify().errorFiles;
}

VerifyCallbackInfo FlowSession::runVerify()
{
    StageWait wait;
    VerifyCallbackInfo end;
    onMainThread([&]() {
        GetVerifyComponent()->RegistCallbackFunc([&](VerifyCallbackInfo &info) {
            if (info.bComplete) {
                end = info;
                wait.finish();
            } else {
                emit m_flow.stageProgress(QStringLiteral("verify"), info.progress);
            }
        });
        GetVerifyComponent()->StartVerify(ctx());
    });
    wait.exec();
    onMainThread([]() { GetVerifyComponent()->RegistCallbackFunc({}); });
    emit m_flow.progressEnded();
    return end;
}

bool FlowSession::gameFilesFree(QString &error)
{
    const QString folder = ctx().setting.GamePath;
    for (;;) {
        StageWait wait;
        CheckCallbackInfo end;
        onMainThread([&]() {
            ctx().checkFolder = folder;
            GetCheckComponent()->RegistCallbackFunc([&](CheckCallbackInfo &info) {
                if (info.bComplete) {
                    end = info;
                    wait.finish();
                }
            });
            GetCheckComponent()->StartChecker(ctx());
        });
        wait.exec();
        onMainThread([]() { GetCheckComponent()->RegistCallbackFunc({}); });
        if (!end.bError)
            return true;
        StageWait answer;
        {
            QMutexLocker lock(&m_answerLock);
            m_answer = &answer;
            m_retry = false;
        }
        emit m_flow.filesInUse({ end.errorPath });
        answer.exec();
        QMutexLocker lock(&m_answerLock);
        m_answer = nullptr;
        if (!m_retry) {
            error = QStringLiteral("%1 is in use by another program; the game was left as it is").arg(end.errorPath);
            return false;
        }
    }
}

void FlowSession::answerFilesInUse(bool retry)
{
    QMutexLocker lock(&m_answerLock);
    if (!m_answer)
        return;
    m_retry = retry;
    m_answer->finish();
}
