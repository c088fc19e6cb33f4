#pragma once

#include "core/CoreSystem.h"

#include <memory>

namespace Morvaniel {

// The registry's component of the given kind as its own class; null when none
// of that class is registered under it.
template <typename Component> std::shared_ptr<Component> ComponentOf(EComponentType type)
{
    return std::dynamic_pointer_cast<Component>(CoreSystem::GetCoreSystemInst()->GetComponent(type));
}

} // namespace Morvaniel
