#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Morvaniel {

class BlockFetcher;
struct BlockCallbackInfo;
struct BlockCost;
struct BlockJob;

// Block delivery as a registry component: forwards to the BlockFetcher
// singleton. Does nothing once the worker is gone.
class MORVANIEL_EXPORT BlockComponent : public ICoreComponent
{
public:
    BlockComponent();

    void Setup(EComponentType) override { }
    virtual void RegistCallbackFunc(std::function<void(BlockCallbackInfo &)> func);
    virtual bool PlanBlocks(const BlockJob &job, BlockCost &cost, QString &error);
    virtual void StartBlocks(const BlockJob &job);
    virtual void PauseBlocks();
    virtual void StopBlocks();
    void SetSpeedLimit(int kib);
    bool IsRunning() const;

private:
    QPointer<BlockFetcher> m_pFetcher;
};

MORVANIEL_EXPORT std::shared_ptr<BlockComponent> GetBlockComponent();

} // namespace Morvaniel
