#pragma once

#include <QString>
#include <QStringList>

namespace HostFlow {

// What a run of the update flow works on: the server, the install folder and
// the channels. Every view fills it from its own settings.
struct FlowOptions
{
    QString server; // the host address, Global::Var::Host
    QString installDir;
    QString channel = QStringLiteral("game");
    QString launcherChannel = QStringLiteral("Launcher");
    QString launcherVersion; // the installed launcher version; empty: the one the last self-update recorded
    int limitKiB = -1; // KiB/s for this run; -1 no limit
    QStringList trustedKeys; // signed releases are required when set

    // Points Global::Var at the server: Host, HostAndChannel = Host/<channel>.
    void applyServer() const;
};

} // namespace HostFlow
