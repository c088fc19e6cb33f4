#include "FlowOptions.h"

#include "core/Global.h"
#include "util/QFileUtils.h"

namespace HostFlow {

void FlowOptions::applyServer() const
{
    Global::Var::Host = server;
    Global::Var::HostAndChannel = QFileUtils::CombinePath(server, channel);
    Global::Var::LauncherChannel = launcherChannel;
}

} // namespace HostFlow
