#pragma once

#include <QString>

namespace Morvaniel {

// The result codes of an extraction job (UnZipCallbackInfo::code).
enum UnZipResultCode : int {
    UnZipOk = 0, // archiver exit code 0
    UnZipWarning = 1, // 1: non-fatal errors
    UnZipFatalError = 2, // 2: fatal error (a damaged archive, a full disk)
    UnZipCommandLineError = 3, // 7
    UnZipOutOfMemory = 4, // 8
    UnZipStopped = 5, // 255: stopped by the user
    UnZipArchiverMissing = 6, // the archiver could not be started at all
    UnZipAbnormalEnd = 7, // the archiver crashed or ended with an undocumented code
};

// What the extractor reports to its callback.
struct UnZipCallbackInfo
{
    int percent = 0; // percentage of the current archive, as the archiver printed it
    bool bComplete = false; // true in the report that ends a job
    int curCount = 0; // 0-based index of the archive being extracted
    int totalCount = 0; // number of archives in the job
    int code = 0; // UnZipResultCode, set in the final report
    QString errStr; // the archiver's error output of the last archive, simplified
};

} // namespace Morvaniel
