#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace Morvaniel {

class GameUpdateContext;
class Verifyer;
struct VerifyCallbackInfo;

// The verifier as a registry component: forwards to the Verifyer singleton. Does nothing once the worker is gone.
class MORVANIEL_EXPORT VerifyComponent : public ICoreComponent
{
public:
    VerifyComponent();

    void Setup(EComponentType) override { }
    virtual void StartVerify(GameUpdateContext &ctx);
    virtual void RegistCallbackFunc(std::function<void(VerifyCallbackInfo &)> func);

private:
    QPointer<Verifyer> m_pVerifyer;
};

MORVANIEL_EXPORT std::shared_ptr<VerifyComponent> GetVerifyComponent();

} // namespace Morvaniel
