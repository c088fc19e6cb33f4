// Runs one program to its end and watches its memory on the way: the
// benchmark compares tools by what they cost a player's machine, and the
// kernel keeps only the peak of the whole resident set (file pages included).
#pragma once

#include <string>
#include <vector>

namespace PatchBench {

struct ChildRun
{
    double seconds = 0; // wall time from start to exit
    double cpuSeconds = 0; // user + system
    long peakAnonKiB = 0; // largest RssAnon seen, sampled every 5 ms
    long hwmKiB = 0; // VmHWM: peak resident set, mapped file pages included
    int status = -1; // exit code, -1 when it did not start or was killed
    bool timedOut = false; // killed at its time limit
    bool ok() const { return status == 0; }
};

// Starts args[0] (looked up in PATH) with standard output sent to stdoutPath
// and standard error to stderrPath; kills it after limitSeconds unless 0.
ChildRun runChild(const std::vector<std::string> &args, const std::string &stdoutPath = "/dev/null",
    const std::string &stderrPath = "/dev/null", double limitSeconds = 0);

} // namespace PatchBench
