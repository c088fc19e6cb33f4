#pragma once

#include "core/ICoreComponent.h"
#include "patch/PatcherCallbackInfo.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace Morvaniel {

class GameUpdateContext;
class Patcher;

// The patch stages as a registry component: forwards to the Patcher singleton
// while it lives and does nothing once it is gone. Reached through the registry
// and GetPatchComponent().
class PatchComponent : public ICoreComponent
{
public:
    PatchComponent();
    ~PatchComponent() override;

    void Setup(EComponentType) override { }
    virtual void StartApplyPatch(GameUpdateContext &context);
    virtual void RegistCallbackFunc(std::function<void(PatcherCallbackInfo &)> callback);

private:
    QPointer<Patcher> m_pPatcherInstance;
};

MORVANIEL_EXPORT std::shared_ptr<PatchComponent> GetPatchComponent();

} // namespace Morvaniel
