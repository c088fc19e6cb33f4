#include "LongPair.h"

#include "ChildRun.h"
#include "PairKinds.h"
#include "PairMeasure.h"
#include "Show.h"

#include <cstdio>
#include <cstdlib>
#include <sys/statvfs.h>
#include <unistd.h>

namespace PatchBench {

namespace {

constexpr uint64_t LongMiB = 2458; // 2.4 GiB
constexpr uint64_t FreeNeeded = uint64_t(10) << 30;

std::string cell(const ChildRun &r, double seconds)
{
    return r.ok() ? Show::number(seconds, 2) + " s, peak RssAnon " + Show::number(double(r.peakAnonKiB) / 1024, 1)
            + " MiB, VmHWM " + Show::number(double(r.hwmKiB) / 1024, 1) + " MiB"
                  : "FAILED (exit " + std::to_string(r.status) + ")";
}

} // namespace

bool measureLongPair(const std::string &dir, const std::string &bin)
{
    Show::line("");
    const std::string title = "long pair, 2.4 GiB (a quarter of it empty, edits across the whole file)";
    struct statvfs fs;
    const uint64_t freeBytes = statvfs(dir.c_str(), &fs) == 0 ? uint64_t(fs.f_bavail) * fs.f_frsize : 0;
    if (freeBytes < FreeNeeded) {
        Show::line(title + ": skipped: " + Show::number(double(freeBytes) / double(1 << 30), 1) + " GiB free in " + dir
            + ", 10 GiB needed");
        return true;
    }
    const std::string oldPath = dir + "/long.old", newPath = dir + "/long.new", patch = dir + "/long.patch",
                      out = dir + "/long.out", err = dir + "/long.err";
    const std::string error = makeLongPair(LongMiB, oldPath, newPath);
    if (!error.empty()) {
        Show::line(title + ": skipped: " + error);
        return true;
    }
    sync();
    const ChildRun create = runChild({ bin + "/hdiffz", "-q", oldPath, newPath, patch }, "/dev/null", err);
    // In place, as the launcher applies it; the copy keeps the old file's holes.
    std::system(("cp --sparse=always " + oldPath + " " + out).c_str());
    sync();
    ChildRun apply
        = runChild({ bin + "/hpatchz", out, patch, out, "-f", "-s-1m", "-C-old-new-diff" }, "/dev/null", err);
    const double applySeconds = apply.seconds + flushFile(out);
    if (apply.ok() && !sameContent(out, newPath))
        apply.status = -1;
    Show::line(title + ": patch " + (create.ok() ? std::to_string(fileSize(patch)) : "-") + " bytes");
    Show::line("  create (hdiffz):          " + cell(create, create.seconds));
    Show::line("  apply in place (hpatchz): " + cell(apply, applySeconds));
    if (apply.ok())
        Show::verdict("apply peak RssAnon of hpatchz on 2.4 GiB (MiB)", double(apply.peakAnonKiB) / 1024,
            apply.peakAnonKiB < 64 * 1024, "< 64");
    for (const std::string &p : { oldPath, newPath, patch, out })
        std::remove(p.c_str());
    return create.ok() && apply.ok();
}

} // namespace PatchBench
