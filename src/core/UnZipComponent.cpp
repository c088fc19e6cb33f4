#include "core/UnZipComponent.h"

#include "core/ComponentLookup.h"
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
    return ComponentOf<UnZipComponent>(EComponentType::UnZip);
}

} // namespace Morvaniel
