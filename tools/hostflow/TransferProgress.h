#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace HostFlow {

// One report of a running download, as the flow hands it to its views.
struct TransferProgress
{
    qint64 done = 0; // bytes on disk, counting what an earlier run left
    qint64 total = 0;
    qint64 speed = 0; // bytes per second, measured once a second by the library
    qint64 secondsLeft = 0;
    double fraction = 0.0; // the library's own progress figure
    bool finished = false;
};

} // namespace HostFlow

Q_DECLARE_METATYPE(HostFlow::TransferProgress)
