#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <map>
#include <memory>

namespace Morvaniel {

class GameUpdateContext;

class MORVANIEL_EXPORT ICoreSystem
{
public:
    virtual void RegistComponent(EComponentType type, std::shared_ptr<ICoreComponent> component) = 0;
    virtual std::shared_ptr<ICoreComponent> GetComponent(EComponentType type) = 0;

protected:
    ~ICoreSystem() = default;
};

// The registry: one component per kind of work and the one update context.
// Created on first use, alive until the process ends. Copies share the
// components and the context.
class MORVANIEL_EXPORT CoreSystem : public ICoreSystem
{
public:
    CoreSystem();
    CoreSystem(const CoreSystem &) = default;
    CoreSystem &operator=(const CoreSystem &) = default;
    virtual ~CoreSystem();

    static std::shared_ptr<CoreSystem> GetCoreSystemInst();

    // The first registration under a value stays; later ones change nothing.
    void RegistComponent(EComponentType type, std::shared_ptr<ICoreComponent> component) override;
    // An empty pointer when nothing is registered under type.
    std::shared_ptr<ICoreComponent> GetComponent(EComponentType type) override;
    std::shared_ptr<GameUpdateContext> GetCurGameUpdateContext();

private:
    std::map<EComponentType, std::shared_ptr<ICoreComponent>> m_components;
    std::shared_ptr<GameUpdateContext> m_context;
};

MORVANIEL_EXPORT std::shared_ptr<CoreSystem> GetCoreSystemInstance();

} // namespace Morvaniel
