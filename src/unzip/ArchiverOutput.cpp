#include "unzip/ArchiverOutput.h"

#include "unzip/UnZipCallbackInfo.h"

namespace Morvaniel {

int archiverPercent(const QString &chunk)
{
    const int at = chunk.indexOf(QLatin1Char('%'));
    if (at < 0)
        return -1;
    const int from = qMax(0, at - 2);
    QString digits = chunk.mid(from, at - from);
    digits.remove(QLatin1Char(' '));
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    return ok ? value : 0;
}

int unzipResultCode(int exitCode)
{
    switch (exitCode) {
    case 0:
        return UnZipOk;
    case 1:
        return UnZipWarning;
    case 2:
        return UnZipFatalError;
    case 7:
        return UnZipCommandLineError;
    case 8:
        return UnZipOutOfMemory;
    case 255:
        return UnZipStopped;
    case ArchiverNotStartedExitCode:
        return UnZipArchiverMissing;
    default:
        // Anything else is a failed archive too; reporting an earlier job's
        // code here could turn this failure into a success.
        return UnZipAbnormalEnd;
    }
}

} // namespace Morvaniel
