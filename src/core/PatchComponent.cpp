#include "core/PatchComponent.h"

#include "core/ComponentLookup.h"
#include "patch/Patcher.h"

namespace Morvaniel {

PatchComponent::PatchComponent()
    : m_pPatcherInstance(Patcher::GetInstance())
{
}

PatchComponent::~PatchComponent() = default;

void PatchComponent::StartApplyPatch(GameUpdateContext &context)
{
    if (m_pPatcherInstance)
        m_pPatcherInstance->StartApplyPatch(context);
}

void PatchComponent::RegistCallbackFunc(std::function<void(PatcherCallbackInfo &)> callback)
{
    if (m_pPatcherInstance)
        m_pPatcherInstance->RegistCallbackFunc(std::move(callback));
}

std::shared_ptr<PatchComponent> GetPatchComponent()
{
    return ComponentOf<PatchComponent>(EComponentType::Patch);
}

} // namespace Morvaniel
