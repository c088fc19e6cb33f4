#include "verify/Checker.h"

#include "core/GameUpdateContext.h"
#include "util/WorkerInstance.h"
#include "util/WorkerThreadStop.h"
#include "verify/CheckerThread.h"

namespace Morvaniel {

Checker *Checker::m_pCheckerInstance = nullptr;

Checker *Checker::GetInstance()
{
    return WorkerInstance::get(m_pCheckerInstance, [](QObject *app) { return new Checker(app); });
}

Checker::Checker(QObject *parent)
    : QObject(parent)
    , m_CheckerThread(new CheckerThread(this))
{
    connect(m_CheckerThread, &CheckerThread::CheckProgress, this, &Checker::CheckProgress, Qt::QueuedConnection);
    connect(m_CheckerThread, &CheckerThread::CheckComplete, this, &Checker::CheckComplete);
}

Checker::~Checker()
{
    m_callback = nullptr;
    stopWorkerThread(m_CheckerThread);
    delete m_CheckerThread;
    WorkerInstance::release(m_pCheckerInstance, this);
}

void Checker::RegistCallbackFunc(std::function<void(CheckCallbackInfo &)> func)
{
    m_callback = std::move(func);
}

void Checker::StartCheck(GameUpdateContext &ctx)
{
    // Busy until the final report went out: the thread's outcome fields
    // belong to the run that report describes.
    if (!m_CheckerThread || m_bBusy || m_CheckerThread->isRunning())
        return;
    m_CheckerThread->m_folder = ctx.checkFolder;
    m_bBusy = true;
    m_CheckerThread->start(QThread::InheritPriority);
}

void Checker::CheckProgress(float percent)
{
    if (!m_callback)
        return;
    m_info.progress = percent;
    m_info.bComplete = false;
    const auto callback = m_callback; // the callback may register another one
    callback(m_info);
}

void Checker::CheckComplete(bool bError, const QString &errorPath)
{
    // See Verifyer::VerifyComplete: a check started from the callback must not
    // find the thread still returning.
    if (m_CheckerThread)
        m_CheckerThread->wait();
    m_bBusy = false;
    if (!m_callback)
        return;
    m_info.bError = bError;
    m_info.errorPath = errorPath;
    m_info.bComplete = true;
    const auto callback = m_callback;
    callback(m_info);
}

} // namespace Morvaniel
