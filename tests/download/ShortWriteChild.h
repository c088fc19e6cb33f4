#pragma once

// The short-write case runs in a child process of the test: a file-size limit
// is process-wide and must not touch the test runner itself.
namespace ShortWriteChild {

// Environment variable that turns the test executable into the child.
constexpr const char *kEnv = "TST_DOWNLOAD_SHORT_WRITE";

// Arguments: file-size limit in bytes, speed limit in KiB/s (0: none), then
// url, local path and expected size of each file of the list. Prints
// "code=<n> downloaded=<bytes>" from the final report; returns 0 on a report.
int Run(int argc, char **argv);

} // namespace ShortWriteChild
