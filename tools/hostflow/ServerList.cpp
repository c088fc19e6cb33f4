#include "ServerList.h"

#include "core/GameUpdateContext.h"
#include "trust/ReleaseTrust.h"

using namespace Morvaniel;

namespace HostFlow {

namespace {

void rebaseAll(const ServerList &servers, QVector<PackageInfo> &packages)
{
    for (PackageInfo &package : packages)
        package.url = servers.rebased(package.url);
}

void rebaseSteps(const ServerList &servers, QVector<UpdateStep> &steps)
{
    for (UpdateStep &step : steps)
        rebaseAll(servers, step.packages);
}

void rebaseVersion(const ServerList &servers, VersionPackInfo &info)
{
    info.fullPackManifestUrl = servers.rebased(info.fullPackManifestUrl);
    info.hostManifestUrl = servers.rebased(info.hostManifestUrl);
    rebaseAll(servers, info.fullPacks);
    rebaseAll(servers, info.hostPacks);
    rebaseSteps(servers, info.hostSteps);
    rebaseSteps(servers, info.updatePath);
}

} // namespace

void ServerList::reset(const FlowOptions &options)
{
    m_options = options;
    m_addresses.clear();
    for (QString address : options.addresses()) {
        while (address.endsWith(QLatin1Char('/')))
            address.chop(1);
        if (!address.isEmpty() && !m_addresses.contains(address))
            m_addresses << address;
    }
    m_current = 0;
}

void ServerList::apply() const
{
    m_options.applyServer(current());
    ReleaseTrust::ServerMoved(current());
}

bool ServerList::skip()
{
    if (!hasNext())
        return false;
    ++m_current;
    apply();
    return true;
}

QString ServerList::rebased(const QString &url) const
{
    for (int i = 0; i < m_current; ++i) {
        const QString &skipped = m_addresses.at(i);
        if (url.startsWith(skipped) && (url.size() == skipped.size() || url.at(skipped.size()) == QLatin1Char('/')))
            return current() + url.mid(skipped.size());
    }
    return url;
}

void ServerList::rebase(GameUpdateContext &ctx) const
{
    if (m_current == 0)
        return;
    for (DownloadFile &file : ctx.downloadList)
        file.url = rebased(file.url);
    rebaseVersion(*this, ctx.newestInfo);
    for (VersionPackInfo &info : ctx.versionInfos)
        rebaseVersion(*this, info);
    LauncherUpdateInfo &launcher = ctx.launcherInfo;
    launcher.baseUrl = rebased(launcher.baseUrl);
    launcher.newestManifestUrl = rebased(launcher.newestManifestUrl);
    launcher.currentManifestUrl = rebased(launcher.currentManifestUrl);
    launcher.fullPackUrl = rebased(launcher.fullPackUrl);
}

bool ServerList::failedByServer(const StageEnd &end)
{
    if (end.ok)
        return false;
    switch (end.stage) {
    case Stage::Fetch:
    case Stage::Download:
        return end.error.kind == Failure::ServerUnreachable;
    case Stage::CheckArchives:
        return end.error.kind == Failure::Damaged;
    case Stage::Blocks:
        // A block or bundle whose digest was refused came from this server.
        return end.error.kind == Failure::ServerUnreachable || end.error.kind == Failure::Refused;
    default:
        return false;
    }
}

} // namespace HostFlow
