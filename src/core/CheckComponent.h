#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace Morvaniel {

class GameUpdateContext;
class Checker;
struct CheckCallbackInfo;

// The in-use checker as a registry component: forwards to the Checker singleton. Does nothing once the worker is gone.
class MORVANIEL_EXPORT CheckComponent : public ICoreComponent
{
public:
    CheckComponent();

    void Setup(EComponentType) override { }
    virtual void StartChecker(GameUpdateContext &ctx);
    virtual void RegistCallbackFunc(std::function<void(CheckCallbackInfo &)> func);

private:
    QPointer<Checker> m_pChecker;
};

MORVANIEL_EXPORT std::shared_ptr<CheckComponent> GetCheckComponent();

} // namespace Morvaniel
