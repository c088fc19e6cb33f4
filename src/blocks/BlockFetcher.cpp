#include "blocks/BlockFetcher.h"

#include "blocks/BlockRun.h"
#include "blocks/BlockRunSetup.h"
#include "util/Logger.h"
#include "util/WorkerInstance.h"

#include <QTimer>

namespace Morvaniel {

BlockFetcher *BlockFetcher::m_pBlockFetcherInstance = nullptr;

BlockFetcher *BlockFetcher::GetInstance()
{
    return WorkerInstance::get(m_pBlockFetcherInstance, [](QObject *app) { return new BlockFetcher(app); });
}

BlockFetcher::BlockFetcher(QObject *parent)
    : QObject(parent)
{
}

BlockFetcher::~BlockFetcher()
{
    m_callback = nullptr;
    if (m_run) {
        m_run->stop();
        delete m_run;
    }
    WorkerInstance::release(m_pBlockFetcherInstance, this);
}

void BlockFetcher::RegistCallbackFunc(std::function<void(BlockCallbackInfo &)> func)
{
    m_callback = std::move(func);
}

bool BlockFetcher::PlanBlocks(const BlockJob &job, BlockCost &cost, QString &error)
{
    BlockRunSetup setup;
    BlockError code = BlockError::None;
    if (!PrepareBlockRun(job, setup, code, error))
        return false;
    cost = setup.plan.cost;
    return true;
}

void BlockFetcher::StartBlocks(const BlockJob &job)
{
    if (m_busy) {
        Logger::LogInfo(QStringLiteral("BlockFetcher"), QStringLiteral("a block run is going"));
        return;
    }
    m_busy = true;
    BlockRunSetup setup;
    BlockError code = BlockError::None;
    QString error;
    if (!PrepareBlockRun(job, setup, code, error) || !OpenBlockRun(setup, code, error)) {
        // A run that ends before it begins still ends with one report, from the event loop.
        Logger::LogWarning(QStringLiteral("BlockFetcher"), error);
        QTimer::singleShot(0, this, [this, code, error] {
            BlockCallbackInfo info;
            info.bError = true;
            info.phase = 3;
            info.errorCode = code;
            info.errorString = error;
            report(info, true);
        });
        return;
    }
    if (m_speedLimit > 0 && setup.job.speedLimitKiB <= 0)
        setup.job.speedLimitKiB = m_speedLimit;
    m_run = new BlockRun(
        std::move(setup), [this](BlockCallbackInfo &info) { report(info, false); },
        [this](BlockCallbackInfo &info) { report(info, true); }, this);
    m_run->start();
}

void BlockFetcher::report(BlockCallbackInfo &info, bool final)
{
    m_info = info;
    if (final) {
        m_busy = false;
        if (m_run) {
            m_run->deleteLater();
            m_run = nullptr;
        }
    }
    // A copy: the callback may register another one while it runs.
    const auto callback = m_callback;
    if (callback)
        callback(m_info);
}

void BlockFetcher::PauseBlocks()
{
    if (m_run)
        m_run->pause();
}

void BlockFetcher::StopBlocks()
{
    if (m_run)
        m_run->stop();
}

void BlockFetcher::SetSpeedLimit(int kib)
{
    m_speedLimit = kib;
    if (m_run)
        m_run->setSpeedLimit(kib);
}

bool BlockFetcher::IsRunning() const
{
    return m_busy;
}

} // namespace Morvaniel
