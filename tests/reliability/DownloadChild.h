#pragma once

// A child process that downloads the five packages with the library and
// prints "code=<n>" (0 on success) and "error=<text>" when its run ends.
// Arguments: <cache folder> <seed> <url of package 0> ... <url of package 4>.
namespace Reliability {

constexpr const char *DownloadChildEnv = "MORVANIEL_RELIABILITY_DOWNLOAD_CHILD";
int RunDownloadChild(int argc, char **argv);

} // namespace Reliability
