#include "core/CheckComponent.h"

#include "core/ComponentLookup.h"
#include "verify/Checker.h"

namespace Morvaniel {

CheckComponent::CheckComponent()
    : m_pChecker(Checker::GetInstance())
{
}

void CheckComponent::StartChecker(GameUpdateContext &ctx)
{
    if (m_pChecker)
        m_pChecker->StartCheck(ctx);
}

void CheckComponent::RegistCallbackFunc(std::function<void(CheckCallbackInfo &)> func)
{
    if (m_pChecker)
        m_pChecker->RegistCallbackFunc(std::move(func));
}

std::shared_ptr<CheckComponent> GetCheckComponent()
{
    return ComponentOf<CheckComponent>(EComponentType::Check);
}

} // namespace Morvaniel
