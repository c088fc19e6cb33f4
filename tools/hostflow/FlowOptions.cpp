#include "FlowOptions.h"

#include "core/Global.h"
#include "util/QFileUtils.h"

namespace HostFlow {

QStringList FlowOptions::addresses() const
{
    if (!servers.isEmpty())
        return servers;
    return server.isEmpty() ? QStringList() : QStringList{ server };
}

void FlowOptions::applyServer(const QString &address) const
{
    Global::Var::Host = address;
    Global::Var::HostAndChannel = QFileUtils::CombinePath(address, channel);
    Global::Var::LauncherChannel = launcherChannel;
}

} // namespace HostFlow
