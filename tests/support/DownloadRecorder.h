#pragma once

#include "download/DownloadCallbackInfo.h"

#include <QList>
#include <QObject>

#include <functional>

namespace TestSupport {

// Collects every report of the download callback; finalReport fires on the
// success or error report that ends a run. A test lists this header among its
// sources so that its signal is compiled.
class DownloadRecorder : public QObject
{
    Q_OBJECT

public:
    QList<Morvaniel::DownloadCallbackInfo> reports;
    QList<Morvaniel::DownloadCallbackInfo> finals;

    std::function<void(Morvaniel::DownloadCallbackInfo &)> callback()
    {
        return [this](Morvaniel::DownloadCallbackInfo &info) {
            reports.append(info);
            if (info.bError || info.bFinished) {
                finals.append(info);
                emit finalReport();
            }
        };
    }

signals:
    void finalReport();
};

} // namespace TestSupport
