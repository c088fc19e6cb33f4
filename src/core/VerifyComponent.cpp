#include "core/VerifyComponent.h"

#include "core/CoreSystem.h"
#include "verify/Verifyer.h"

namespace Morvaniel {

VerifyComponent::VerifyComponent()
    : m_pVerifyer(Verifyer::GetInstance())
{
}

void VerifyComponent::StartVerify(GameUpdateContext &ctx)
{
    if (m_pVerifyer)
        m_pVerifyer->StartVerify(ctx);
}

void VerifyComponent::RegistCallbackFunc(std::function<void(VerifyCallbackInfo &)> func)
{
    if (m_pVerifyer)
        m_pVerifyer->RegistCallbackFunc(std::move(func));
}

std::shared_ptr<VerifyComponent> GetVerifyComponent()
{
    return std::dynamic_pointer_cast<VerifyComponent>(
        CoreSystem::GetCoreSystemInst()->GetComponent(EComponentType::Verify));
}

} // namespace Morvaniel
