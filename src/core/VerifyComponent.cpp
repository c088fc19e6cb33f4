#include "core/VerifyComponent.h"

#include "core/ComponentLookup.h"
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
    return ComponentOf<VerifyComponent>(EComponentType::Verify);
}

} // namespace Morvaniel
