#include "unzip/UnZipper.h"

#include "core/GameUpdateContext.h"
#include "unzip/ArchiverOutput.h"
#include "unzip/ZipThread.h"
#include "util/Logger.h"
#include "util/WorkerInstance.h"
#include "util/WorkerThreadStop.h"

namespace Morvaniel {

UnZipper *UnZipper::m_pUnzipperInstance = nullptr;

UnZipper *UnZipper::GetInstance()
{
    return WorkerInstance::get(m_pUnzipperInstance, [](QObject *app) { return new UnZipper(app); });
}

UnZipper::UnZipper(QObject *parent)
    : QObject(parent)
    , m_ZipThread(new ZipThread(this))
{
    connect(m_ZipThread, &ZipThread::DecompressProgress, this, &UnZipper::DecompressProgress, Qt::QueuedConnection);
    connect(m_ZipThread, &ZipThread::DecompressFinished, this, &UnZipper::DecompressComplete);
}

UnZipper::~UnZipper()
{
    m_callback = nullptr;
    stopWorkerThread(m_ZipThread);
    delete m_ZipThread;
    WorkerInstance::release(m_pUnzipperInstance, this);
}

void UnZipper::StartUnZip(GameUpdateContext &ctx)
{
    if (!m_ZipThread)
        return;
    ZipThread &t = *m_ZipThread;
    // The running job reads these fields, and its report reads the outcome;
    // changing them now would mix two jobs.
    if (m_bBusy || t.isRunning()) {
        Logger::LogInfo(QStringLiteral("Unzipper"), QStringLiteral("m_ZipThread->isRunning, StartUnZip refused"));
        return;
    }
    t.m_files.clear();
    for (const QString &file : qAsConst(ctx.unzipFiles))
        t.m_files.append(file);
    t.m_bKeepTarget = IsRepairMode(ctx.updateMode);
    t.m_targetDir = ctx.unzipTargetDir;
    m_bBusy = true;
    t.start(QThread::InheritPriority);
}

void UnZipper::RegistCallbackFunc(std::function<void(UnZipCallbackInfo &)> func)
{
    m_callback = std::move(func);
}

void UnZipper::DecompressProgress(int percent, int curCount, int totalCount)
{
    m_info.bComplete = false;
    m_info.percent = percent;
    m_info.curCount = curCount;
    m_info.totalCount = totalCount;
    if (!m_callback)
        return;
    const auto callback = m_callback; // the callback may register another one
    callback(m_info);
}

void UnZipper::DecompressComplete(int code, const QString &errStr)
{
    Logger::LogInfo(QStringLiteral("Unzipper"), QStringLiteral("error code is %1").arg(code));
    // The thread has sent its last signal; once it has returned, a start from
    // the callback finds the extractor idle.
    if (m_ZipThread)
        m_ZipThread->wait();
    m_bBusy = false;
    m_info.bComplete = true;
    m_info.code = unzipResultCode(code);
    m_info.errStr = errStr;
    if (!m_callback)
        return;
    const auto callback = m_callback;
    callback(m_info);
}

} // namespace Morvaniel
