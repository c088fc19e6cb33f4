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

// The library's report of a download or a block run, which name these figures alike.
template <typename Info> TransferProgress transferProgressOf(const Info &info)
{
    TransferProgress p;
    p.done = info.downloadedSize;
    p.total = info.totalSize;
    p.speed = info.speed;
    p.secondsLeft = info.remainTime;
    p.fraction = double(info.progress);
    p.finished = info.bFinished;
    return p;
}

} // namespace HostFlow

Q_DECLARE_METATYPE(HostFlow::TransferProgress)
