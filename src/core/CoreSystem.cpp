#include "core/CoreSystem.h"

#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "core/SerializeComponent.h"

#include <QDebug>

namespace Morvaniel {

CoreSystem::CoreSystem()
{
    // Construction order brings the workers up in a fixed sequence; later
    // components are inserted at their place in this list.
    RegistComponent(EComponentType::Download, std::make_shared<DownloadComponent>());
    RegistComponent(EComponentType::Serialize, std::make_shared<SerializeComponent>());
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
