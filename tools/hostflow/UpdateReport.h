#pragma once

#include <QString>
#include <QStringList>

namespace HostFlow {

// What one update run did, for the summary of the demo and the last line of `update`.
struct UpdateReport
{
    QString fromVersion; // empty: nothing was installed
    QString toVersion;
    QStringList archives; // file names of the archives downloaded
    qint64 bytes = 0; // bytes that came over the network
    bool fullPack = false;
    int steps = 0; // patch steps applied
    int repairedFiles = 0;
    bool blocks = false; // the game was written from the block store
    qint64 blockBytes = -1; // the block plan's bytes to fetch; -1: no block store
    qint64 archiveBytes = -1; // the archives' bytes it was compared with
};

} // namespace HostFlow
