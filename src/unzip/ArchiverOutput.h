#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

// Exit codes that the extraction thread records for runs that gave the archiver
// no chance to answer itself.
constexpr int ArchiverNotStartedExitCode = -1;
constexpr int ArchiverCrashedExitCode = -2;

// The percentage in one chunk of the archiver's console output: the (at most)
// two characters before the first "%", blanks ignored; 0 when they are no
// number, -1 when the chunk has no "%".
int archiverPercent(const QString &chunk);

// The archiver's exit code as an UnZipResultCode.
int unzipResultCode(int exitCode);

} // namespace Morvaniel
