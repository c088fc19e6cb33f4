#pragma once

// The short-write case runs in a child process of the test: a file-size limit
// is process-wide and must not touch the test runner itself.
namespace ShortWriteChild {

// Environment variable that turns the test executable into the child.
constexpr const char *kEnv = "TST_DOWNLOAD_SHORT_WRITE";

// Arguments: url, local path, expected size, file-size limit in bytes.
// Prints "code=<n>" with the final report's error code; returns 0 on a report.
int Run(int argc, char **argv);

} // namespace ShortWriteChild
