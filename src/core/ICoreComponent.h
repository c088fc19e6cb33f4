#pragma once

#include "MorvanielGlobal.h"

namespace Morvaniel {

// Fixed values under which the components are registered.
enum class EComponentType : int {
    Download = 2,
    Patch = 3,
    Serialize = 6,
    UnZip = 8,
    Verify = 9,
    Check = 10,
    Blocks = 11,
};

// A facade over one kind of work.
class MORVANIEL_EXPORT ICoreComponent
{
public:
    virtual void Setup(EComponentType type) = 0;
    virtual ~ICoreComponent();
};

} // namespace Morvaniel
