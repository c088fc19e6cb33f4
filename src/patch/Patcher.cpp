#include "patch/Patcher.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "patch/MergeThread.h"
#include "patch/UpdateThread.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/WorkerInstance.h"
#include "util/WorkerThreadStop.h"

namespace Morvaniel {

Patcher *Patcher::m_pPatcherInstance = nullptr;

Patcher *Patcher::GetInstance()
{
    return WorkerInstance::get(m_pPatcherInstance, [](QObject *app) { return new Patcher(app); });
}

Patcher::Patcher(QObject *parent)
    : QObject(parent)
    , m_mergeThread(new MergeThread(this))
    , m_updateThread(new UpdateThread(this))
{
    qRegisterMetaType<MergeStatus>("MergeStatus");
    connect(m_mergeThread, &MergeThread::MergeProgress, this, &Patcher::MergeProgress);
    connect(m_mergeThread, &MergeThread::MergeFinished, this, &Patcher::MergeComplete);
    connect(m_updateThread, &UpdateThread::UpdateProgress, this, &Patcher::UpdateProgress);
    connect(m_updateThread, &UpdateThread::UpdateFinished, this, &Patcher::UpdateComplete);
}

Patcher::~Patcher()
{
    m_callback = nullptr;
    const QList<QThread *> threads{ m_mergeThread.data(), m_updateThread.data() };
    for (QThread *thread : threads) {
        if (!thread)
            continue;
        disconnect(thread, nullptr, this, nullptr);
        // A host often quits from the final callback, while the stage's thread
        // is still on its way out; the merge stage leaves a running patch tool
        // when asked.
        stopWorkerThread(thread);
        delete thread;
    }
    WorkerInstance::release(m_pPatcherInstance, this);
}

void Patcher::RegistCallbackFunc(std::function<void(PatcherCallbackInfo &)> callback)
{
    m_callback = std::move(callback);
}

void Patcher::StartApplyPatch(GameUpdateContext &context)
{
    const QString manifestPath = QFileUtils::CombinePath(context.patchDir, Global::Var::PatchManifestName);
    if (context.bGameUpdate) {
        Logger::LogInfo(QStringLiteral("Patcher"), QStringLiteral("manifestFilePath is %1").arg(manifestPath));
        if (!m_mergeThread)
            return;
        // Set-up rewrites the thread's inputs; while a stage runs they are
        // the running stage's own.
        if (m_bMergeBusy || m_mergeThread->isRunning()) {
            Logger::LogInfo(QStringLiteral("Patcher"), QStringLiteral("merge stage already running"));
            return;
        }
        m_mergeThread->SetPaths(manifestPath, context.mergeTargetPath, context.mergeTempPath);
        m_mergeThread->SetSkipPatchFiles(context.skipPatchFiles);
        m_bMergeBusy = true;
        m_mergeThread->start(QThread::InheritPriority);
        return;
    }
    if (!m_updateThread)
        return;
    if (m_bUpdateBusy || m_updateThread->isRunning()) {
        Logger::LogInfo(QStringLiteral("Patcher"), QStringLiteral("update stage already running"));
        return;
    }
    m_updateThread->SetInput(
        context.updateTargetDir, context.updateSourceDir, context.oldFileManifestText, context.newFileManifestText);
    m_bUpdateBusy = true;
    m_updateThread->start(QThread::InheritPriority);
}

void Patcher::MergeProgress(qulonglong percent, qulonglong totalpercent, QVariant status)
{
    if (!m_callback)
        return;
    m_info.percent = percent;
    m_info.totalpercent = totalpercent;
    m_info.bError = false;
    m_info.bFinished = false;
    bool ok = false;
    const int step = status.toInt(&ok);
    m_info.status = ok ? step : 0;
    m_callback(m_info);
}

void Patcher::UpdateProgress(int percent, int totalpercent)
{
    if (!m_callback)
        return;
    m_info.percent = static_cast<quint64>(static_cast<qint64>(percent));
    m_info.totalpercent = static_cast<quint64>(static_cast<qint64>(totalpercent));
    m_info.bError = false;
    m_info.bFinished = false;
    m_info.status = MergeStep::Copying;
    m_callback(m_info);
}

void Patcher::MergeComplete(QString errorString, bool needMd5CheckPakDir)
{
    // The thread is past its last step: once it has returned, a start from the
    // callback below finds the stage idle.
    if (m_mergeThread)
        m_mergeThread->wait();
    m_bMergeBusy = false;
    if (!m_callback)
        return;
    m_info.bFinished = errorString.isEmpty();
    m_info.bError = !errorString.isEmpty();
    m_info.errorString = errorString;
    m_info.needMd5CheckPakDir = needMd5CheckPakDir;
    m_callback(m_info);
}

void Patcher::UpdateComplete(QString errString)
{
    // The report is the thread's last act; see MergeComplete.
    if (m_updateThread)
        m_updateThread->wait();
    m_bUpdateBusy = false;
    if (!m_callback)
        return;
    m_info.bError = !errString.isEmpty();
    m_info.bFinished = true;
    m_info.errorString = errString;
    m_callback(m_info);
}

} // namespace Morvaniel
