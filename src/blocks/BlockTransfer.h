#pragma once

#include "blocks/BlockRun.h"
#include "blocks/BundleRequests.h"
#include "blocks/RangeReplyParser.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QVector>

namespace Morvaniel {

// One request of a block run in flight: its answer cut into the frames of
// the blocks it asked for.
struct BlockRun::Transfer
{
    BundleRequest request;
    QPointer<QNetworkReply> reply;
    RangeReplyParser parser;
    bool begun = false;
    bool ended = false;
    struct Frame
    {
        quint32 block = 0;
        qint64 begin = 0;
        qint64 end = 0;
        QByteArray data;
        qint64 filled = 0;
        bool done = false;
    };
    QVector<Frame> frames; // by begin
    int left = 0; // frames not complete
    qint64 lastDataMs = 0;
    qint64 deadlineMs = 0;
};

} // namespace Morvaniel
