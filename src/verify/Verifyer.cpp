#include "verify/Verifyer.h"

#include "core/GameUpdateContext.h"
#include "util/Logger.h"
#include "util/TrustedRelease.h"
#include "util/WorkerInstance.h"
#include "util/WorkerThreadStop.h"
#include "verify/VerifyThread.h"

namespace Morvaniel {

Verifyer *Verifyer::m_pVerifyerInstance = nullptr;

Verifyer *Verifyer::GetInstance()
{
    return WorkerInstance::get(m_pVerifyerInstance, [](QObject *app) { return new Verifyer(app); });
}

Verifyer::Verifyer(QObject *parent)
    : QObject(parent)
    , m_VerifyThread(new VerifyThread(this))
{
    connect(m_VerifyThread, &VerifyThread::VerifyProgress, this, &Verifyer::VerifyProgress, Qt::QueuedConnection);
    connect(m_VerifyThread, &VerifyThread::VerifyComplete, this, &Verifyer::VerifyComplete);
}

Verifyer::~Verifyer()
{
    m_callback = nullptr;
    stopWorkerThread(m_VerifyThread);
    delete m_VerifyThread;
    WorkerInstance::release(m_pVerifyerInstance, this);
}

void Verifyer::RegistCallbackFunc(std::function<void(VerifyCallbackInfo &)> func)
{
    m_callback = std::move(func);
}

void Verifyer::StartVerify(GameUpdateContext &ctx)
{
    if (!m_VerifyThread)
        return;
    VerifyThread &t = *m_VerifyThread;
    // A run is over when its final report went out, not when its thread
    // returned: until then the thread's outcome fields are that run's.
    if (m_bBusy || t.isRunning()) {
        Logger::LogInfo(QStringLiteral("Verifyer"), QStringLiteral("m_VerifyThread->isRunning"));
        return;
    }
    t.m_folder = ctx.verifyFolder;
    t.m_bSingle = ctx.verifySingle;
    t.m_bCollectFailures = IsRepairMode(ctx.updateMode);
    t.m_bMd5Check = ctx.needMd5Check;
    t.m_bMd5CheckPaksDir = ctx.needMd5CheckPaksDir;
    t.m_failedList.clear();
    if (ctx.verifySingle) {
        if (ctx.verifyMd5List.size() != ctx.verifyFileList.size())
            Logger::LogInfo(QStringLiteral("Verifyer"), QStringLiteral("size is not equal Error !!!"));
        t.m_fileList = ctx.verifyFileList;
        t.m_md5List = ctx.verifyMd5List;
    } else {
        t.m_bManifestRefused = !TrustedRelease::textUsable(
            ctx.verifyManifestText, QStringLiteral("the file manifest to verify against"), QStringLiteral("Verifyer"));
        t.m_manifest = parseFileManifest(t.m_bManifestRefused ? QString() : ctx.verifyManifestText);
    }
    m_bBusy = true;
    t.start(QThread::InheritPriority);
}

void Verifyer::VerifyProgress(float percent)
{
    if (!m_callback)
        return;
    m_info.progress = percent;
    m_info.bComplete = false;
    // A copy: the callback may register another one while it runs.
    const auto callback = m_callback;
    callback(m_info);
}

void Verifyer::VerifyComplete(bool bError, bool bSingle)
{
    // The report comes from the thread's last signal; once it has returned, a
    // verify started from the callback is not refused as still running.
    if (m_VerifyThread)
        m_VerifyThread->wait();
    m_bBusy = false;
    if (!m_callback || !m_VerifyThread)
        return;
    m_info.bError = bError;
    m_info.bSingle = bSingle;
    m_info.bComplete = true;
    m_info.errorText = bError && bSingle ? m_VerifyThread->m_firstFailure : QString();
    if (m_VerifyThread->m_bCollectFailures)
        m_info.errorFiles = m_VerifyThread->m_failedList;
    const auto callback = m_callback;
    callback(m_info);
}

} // namespace Morvaniel
