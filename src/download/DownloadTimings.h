#pragma once

#include "MorvanielGlobal.h"

namespace Morvaniel {

// The download subsystem's durations in one place. Production code only reads
// them; the test suite shortens them so that retry series finish in seconds.
struct DownloadTimings
{
    int watchdogMs = 20000; // no data for this long ends a run with code 3
    int restartMs = 2000; // pause before a restart after a network failure
    int contentTimeoutMs = 10000; // inactivity limit of a content request
    int contentRetryMs = 1000; // pause between content request attempts
    // A content or image request, retries included, ends after this long
    // however its server drips bytes.
    int contentDeadlineMs = 180000;

    static const DownloadTimings &Current();
    // Test-only: replaces the durations for the rest of the process.
    static void SetForTests(const DownloadTimings &timings);
};

} // namespace Morvaniel
