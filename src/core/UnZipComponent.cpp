#include "core/UnZipComponent.h"

#include "core/CoreSystem.h"
#include "unzip/UnZipper.h"

namespace Morvaniel {

UnZipComponent::UnZipComponent()
    : m_pUnZipper(UnZipper::GetInstance())
{
}

void UnZipComponent::StartUnZip(GameUpdateContext &ctx)
{
    if (m_pUnZipper)
        m_pUnZipper->StartUnZip(ctx);
}

void UnZipComponent::RegistCallbackFunc(std::function<void(UnZipCallbackInfo &)> func)
{
    if (m_pUnZipper)
        m_pUnZipper->RegistCallbackFunc(std::move(func));
}

std::shared_ptr<UnZipComponent> GetUnZipComponent()
{
    return std::dynamic_pointer_cast<UnZipComponent>(
        CoreSystem::GetCoreSystemInst()->GetComponent(EComponentType::UnZip));
}

} // namespace Morvaniel
