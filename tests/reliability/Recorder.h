#pragma once

#include "download/DownloadCallbackInfo.h"

#include <QList>
#include <QObject>

#include <functional>

namespace Reliability {

// Keeps every report of the download callback; finalReport fires on the
// success or error report that ends a run.
class DownloadRecorder : public QObject
{
    Q_OBJECT

public:
    QList<Morvaniel::DownloadCallbackInfo> finals;

    std::function<void(Morvaniel::DownloadCallbackInfo &)> callback()
    {
        return [this](Morvaniel::DownloadCallbackInfo &info) {
            if (info.bError || info.bFinished) {
                finals.append(info);
                emit finalReport();
            }
        };
    }

signals:
    void finalReport();
};

} // namespace Reliability
