#pragma once

#include <QtGlobal>

namespace Morvaniel {

// How the download manager may fetch one large file over several connections
// at once. Off by default: every file is one transfer, appended from its size
// on disk. A host turns it on where one connection is capped below the link
// (CDNs commonly cap each connection).
struct DownloadSplit
{
    // Connections for one file; 1 (or below) keeps every file in one transfer.
    // Also raises the number of transfers the manager runs at once to this.
    int connections = 1;
    // A file is cut only into pieces of at least this many bytes.
    qint64 minPieceBytes = 16 * 1024 * 1024;
};

} // namespace Morvaniel
