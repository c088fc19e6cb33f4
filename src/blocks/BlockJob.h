#pragma once

#include "blocks/BundleRequests.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Morvaniel {

// What a block run is to do: bring folder to the version of targetIndex, by
// blocks from the channel's block store and from what the folder already
// holds. The host fetches the index files itself (content requests, checked
// with ReleaseTrust when signed releases are on) and hands their bytes over.
struct BlockJob
{
    // The game folder.
    QString folder;
    // Where staged files, the journal and the run's state live until the run
    // ends: on the game folder's volume. Empty: <folder>/.morvaniel-blocks.
    QString stagingFolder;
    // The channel's address, Global::Var::HostAndChannel: bundles are fetched
    // from <channelUrl>/blocks/<digest>.bundle.
    QString channelUrl;
    // <channelUrl>/blocks/<version>.index of the version to reach, as fetched.
    QString targetIndexUrl;
    QByteArray targetIndex;
    // The index of the version the folder holds, when one is installed: its
    // blocks are reused where they are, moved or shared. Optional.
    QString installedIndexUrl;
    QByteArray installedIndex;
    // Repair: only these files of the target, each compared block by block
    // with the index; only damaged blocks are fetched. Empty: the whole version.
    QStringList repairFiles;
    // Read the blocks a written file keeps, so that every written file ends
    // fully checked. Off: trust the installed index for them.
    bool checkInPlace = true;
    // Parallel connections to the server; each carries one request at a time.
    int connections = 8;
    RequestShape shape;
    // KiB per second over all connections; 0 or below: unlimited.
    int speedLimitKiB = 0;
    // The caller's cost of the patch chain to the same version, in bytes; the
    // plan's figures compare with it (BlockCost::preferBlocks). -1: none.
    qint64 patchChainBytes = -1;

    // The staging folder this job uses.
    QString effectiveStagingFolder() const;
};

} // namespace Morvaniel
