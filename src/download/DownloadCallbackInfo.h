#pragma once

#include "core/ErrorCode.h"

#include <QString>

namespace Morvaniel {

// The download manager's one progress record. It is reused from report to
// report: a field a report does not write keeps its previous value.
struct DownloadCallbackInfo
{
    float progress = 0.0f; // downloadedSize / totalSize
    bool bError = false;
    bool bFinished = false;
    qint64 downloadedSize = 0;
    qint64 totalSize = 0;
    qint64 speed = 0; // bytes per second, moving average
    int remainTime = 0; // seconds; kept while speed is 0
    ErrorCode errorCode = NoError;
    QString errorString;
};

} // namespace Morvaniel
