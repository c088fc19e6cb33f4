#include "core/GameUpdateContext.h"

namespace Morvaniel {

static_assert(sizeof(HostPair) == 16, "host list items keep their size");
static_assert(sizeof(HostRecord) == 40, "host list items keep their size");

GameUpdateContext::GameUpdateContext()
    : logServerTestUrl(QStringLiteral("http://127.0.0.1:8081/test/log/report"))
    , logServerUrl(QStringLiteral("http://127.0.0.1:8080/log/report"))
{
}

GameUpdateContext::~GameUpdateContext() = default;

} // namespace Morvaniel
