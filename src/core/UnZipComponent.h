#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace Morvaniel {

class GameUpdateContext;
class UnZipper;
struct UnZipCallbackInfo;

// The extractor as a registry component: forwards to the UnZipper singleton. Does nothing once the worker is gone.
class MORVANIEL_EXPORT UnZipComponent : public ICoreComponent
{
public:
    UnZipComponent();

    void Setup(EComponentType) override { }
    virtual void StartUnZip(GameUpdateContext &ctx);
    virtual void RegistCallbackFunc(std::function<void(UnZipCallbackInfo &)> func);
    virtual void StoreValueBeforeClose() { }

private:
    QPointer<UnZipper> m_pUnZipper;
};

MORVANIEL_EXPORT std::shared_ptr<UnZipComponent> GetUnZipComponent();

} // namespace Morvaniel
