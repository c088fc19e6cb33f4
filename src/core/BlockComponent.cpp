#include "core/BlockComponent.h"

#include "blocks/BlockFetcher.h"
#include "core/ComponentLookup.h"

namespace Morvaniel {

BlockComponent::BlockComponent()
    : m_pFetcher(BlockFetcher::GetInstance())
{
}

void BlockComponent::RegistCallbackFunc(std::function<void(BlockCallbackInfo &)> func)
{
    if (m_pFetcher)
        m_pFetcher->RegistCallbackFunc(std::move(func));
}

bool BlockComponent::PlanBlocks(const BlockJob &job, BlockCost &cost, QString &error)
{
    if (!m_pFetcher) {
        error = QStringLiteral("the block worker is gone");
        return false;
    }
    return m_pFetcher->PlanBlocks(job, cost, error);
}

void BlockComponent::StartBlocks(const BlockJob &job)
{
    if (m_pFetcher)
        m_pFetcher->StartBlocks(job);
}

void BlockComponent::PauseBlocks()
{
    if (m_pFetcher)
        m_pFetcher->PauseBlocks();
}

void BlockComponent::StopBlocks()
{
    if (m_pFetcher)
        m_pFetcher->StopBlocks();
}

void BlockComponent::SetSpeedLimit(int kib)
{
    if (m_pFetcher)
        m_pFetcher->SetSpeedLimit(kib);
}

bool BlockComponent::IsRunning() const
{
    return m_pFetcher && m_pFetcher->IsRunning();
}

std::shared_ptr<BlockComponent> GetBlockComponent()
{
    return ComponentOf<BlockComponent>(EComponentType::Blocks);
}

} // namespace Morvaniel
