#pragma once

#include "download/DownloadSplit.h"

#include <QString>
#include <QStringList>

namespace HostFlow {

// What a run of the update flow works on: the servers, the install folder and
// the channels. Every view fills it from its own settings.
struct FlowOptions
{
    QString server; // the host address, Global::Var::Host
    // Every address in the order to try them (mirrors after the first): a
    // run fetches from the first that answers. Empty: server alone.
    QStringList servers;
    QString installDir;
    QString channel = QStringLiteral("game");
    QString launcherChannel = QStringLiteral("Launcher");
    QString launcherVersion; // the installed launcher version; empty: the one the last self-update recorded
    int limitKiB = -1; // KiB/s for this run; -1 no limit
    QStringList trustedKeys; // signed releases are required when set
    // A large archive or patch over several connections at once: one
    // connection is often capped far below the link.
    Morvaniel::DownloadSplit split = { 8, 16 * 1024 * 1024 };

    // servers, or server alone when the list is empty.
    QStringList addresses() const;
    // Points Global::Var at address (one of addresses()): Host, HostAndChannel = Host/<channel>.
    void applyServer(const QString &address) const;
};

} // namespace HostFlow
