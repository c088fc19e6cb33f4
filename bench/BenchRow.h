// What every benchmark shares with bench/report.sh: the row format of its
// figures, and processor time for the figures that wall time makes noisy.
#pragma once

#include <cstdio>
#include <string>
#include <sys/resource.h>

namespace BenchRow {

// One machine-readable row: figure, ours, peer, peer's name, unit, target
// (">=x" or "<=x" for the ratio ours/peer, "~x" for |ratio - 1| <= x, or "").
inline void row(
    const std::string &figure, double ours, double peer, const char *peerName, const char *unit, const char *target)
{
    std::printf("ROW\t%s\t%.3f\t%.3f\t%s\t%s\t%s\n", figure.c_str(), ours, peer, peerName, unit, target);
    std::fflush(stdout);
}

// Processor seconds (user + system) of this process and of its waited-for
// children: unlike wall time, hardly moved by other work on the machine.
inline double cpuSeconds()
{
    double total = 0;
    for (int who : { RUSAGE_SELF, RUSAGE_CHILDREN }) {
        struct rusage u;
        getrusage(who, &u);
        total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

} // namespace BenchRow
