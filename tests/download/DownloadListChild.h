#pragma once

// A download list run in a child process of the test: a file-size limit is
// process-wide and must not touch the test runner itself, and a fresh process
// is one where no data has flowed yet.
namespace DownloadListChild {

// Environment variable that turns the test executable into the child.
constexpr const char *kEnv = "TST_DOWNLOAD_LIST_CHILD";
// "<connections>,<least piece bytes>": large files in pieces (DownloadSplit).
constexpr const char *kSplitEnv = "TST_DOWNLOAD_LIST_SPLIT";

// Arguments: file-size limit in bytes (0: none), speed limit in KiB/s (0:
// none), then url, local path and expected size of each file of the list.
// Prints "code=<n> downloaded=<bytes>" and "error=<text>" from the final
// report; returns 0 on a report.
int Run(int argc, char **argv);

} // namespace DownloadListChild
