#include "core/CoreSystem.h"

#include "core/BlockComponent.h"
#include "core/CheckComponent.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "core/PatchComponent.h"
#include "core/SerializeComponent.h"
#include "core/UnZipComponent.h"
#include "core/VerifyComponent.h"

#include <QDebug>

namespace Morvaniel {

CoreSystem::CoreSystem()
{
    // Hosts rely on the workers coming up in this order.
    RegistComponent(EComponentType::Download, std::make_shared<DownloadComponent>());
    RegistComponent(EComponentType::UnZip, std::make_shared<UnZipComponent>());
    RegistComponent(EComponentType::Patch, std::make_shared<PatchComponent>());
    RegistComponent(EComponentType::Serialize, std::make_shared<SerializeComponent>());
    RegistComponent(EComponentType::Verify, std::make_shared<VerifyComponent>());
    RegistComponent(EComponentType::Check, std::make_shared<CheckComponent>());
    RegistComponent(EComponentType::Blocks, std::make_shared<BlockComponent>());
    m_context = std::make_shared<GameUpdateContext>();
}

CoreSystem::~CoreSystem()
{
    qDebug() << "CoreSystem Desctructor";
    m_context.reset();
    m_components.clear();
}

std::shared_ptr<CoreSystem> CoreSystem::GetCoreSystemInst()
{
    static std::shared_ptr<CoreSystem> instance = std::make_shared<CoreSystem>();
    return instance;
}

void CoreSystem::RegistComponent(EComponentType type, std::shared_ptr<ICoreComponent> component)
{
    m_components.emplace(type, std::move(component));
}

std::shared_ptr<ICoreComponent> CoreSystem::GetComponent(EComponentType type)
{
    const auto it = m_components.find(type);
    return it == m_components.end() ? nullptr : it->second;
}

std::shared_ptr<GameUpdateContext> CoreSystem::GetCurGameUpdateContext()
{
    return m_context;
}

std::shared_ptr<CoreSystem> GetCoreSystemInstance()
{
    return CoreSystem::GetCoreSystemInst();
}

} // namespace Morvaniel
