// The patch benchmark's own tables: lines that bench/report.sh prints after
// its figures (prefixed SHOW), cells padded to a width, targets with a verdict.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace PatchBench::Show {

inline void line(const std::string &text)
{
    std::printf("SHOW\t%s\n", text.c_str());
    std::fflush(stdout);
}

inline std::string number(double value, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// Cells separated by a space; a negative width aligns to the left.
inline std::string cells(const std::vector<std::pair<std::string, int>> &row)
{
    std::string out;
    for (const auto &[text, width] : row) {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%*s", width, text.c_str());
        out += (out.empty() ? "" : " ") + std::string(buf);
    }
    return out;
}

// A benchmark reports; it never fails a build over a target.
inline void verdict(const std::string &what, double value, bool pass, const std::string &target)
{
    line("  " + what + (value >= 0 ? ": " + number(value, 3) : std::string()) + "  (target " + target + ")  "
        + (pass ? "PASS" : "MISS"));
}

} // namespace PatchBench::Show
