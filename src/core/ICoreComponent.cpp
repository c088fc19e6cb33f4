#include "core/ICoreComponent.h"

namespace Morvaniel {

ICoreComponent::~ICoreComponent() = default;

} // namespace Morvaniel
