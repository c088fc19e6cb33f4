#include "PairMeasure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace PatchBench {

double PairFigures::oursToBestPeer() const
{
    long long best = 0;
    for (int t = Zstd; t < ToolCount; ++t)
        if (patchBytes[t] > 0 && (best == 0 || patchBytes[t] < best))
            best = patchBytes[t];
    return best > 0 && patchBytes[Ours] > 0 ? double(patchBytes[Ours]) / double(best) : 0;
}

long long fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

double flushFile(const std::string &path)
{
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fdatasync(fd);
        close(fd);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool sameContent(const std::string &a, const std::string &b)
{
    constexpr size_t Chunk = 1 << 20;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb)
        return false;
    std::vector<char> ba(Chunk), bb(Chunk);
    while (fa && fb) {
        fa.read(ba.data(), Chunk);
        fb.read(bb.data(), Chunk);
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), size_t(fa.gcount())) != 0)
            return false;
    }
    return !fa && !fb;
}

namespace {

void copyFile(const std::string &from, const std::string &to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Applies a patch and times it with the flush of its output: hpatchz syncs
// its result before the rename, zstd leaves that to the system, so the output
// of both is flushed after the run and counted. Dirty pages of earlier steps
// are written before the clock starts.
ChildRun timedApply(const std::vector<std::string> &args, const std::string &out, const std::string &err,
    const std::string &newPath, double &seconds)
{
    sync();
    ChildRun r = runChild(args, "/dev/null", err);
    seconds = r.seconds + flushFile(out);
    if (r.ok() && !sameContent(out, newPath))
        r.status = -1;
    return r;
}

} // namespace

PairFigures measurePair(
    const MeasureSettings &s, const std::string &name, const std::string &oldPath, const std::string &newPath)
{
    PairFigures f;
    f.name = name;
    f.oldBytes = fileSize(oldPath);
    f.newBytes = fileSize(newPath);
    const std::string d = s.dir + "/", err = d + "tools.err", out = d + "out";
    const auto size = [&](const ChildRun &create, const ChildRun &apply, const std::string &patch) {
        return create.ok() && apply.ok() ? fileSize(patch) : Failed;
    };

    // Ours in place, as the launcher runs it: the copy of the old file is
    // patched into the new one.
    const std::string ours = d + "ours.patch";
    f.create[Ours] = runChild({ s.bin + "/hdiffz", "-q", oldPath, newPath, ours }, "/dev/null", err);
    copyFile(oldPath, out);
    f.apply[Ours] = timedApply({ s.bin + "/hpatchz", out, ours, out, "-f", "-s-1m", "-C-old-new-diff" }, out, err,
        newPath, f.applySeconds[Ours]);
    f.patchBytes[Ours] = size(f.create[Ours], f.apply[Ours], ours);

    // --long=31 lets zstd match across the whole old file (up to 2 GiB); its
    // decoder needs the same window allowed.
    const std::string zst = d + "zstd.patch";
    f.create[Zstd] = runChild(
        { "zstd", "-q", "-f", "-19", "--long=31", "--patch-from=" + oldPath, newPath, "-o", zst }, "/dev/null", err);
    f.apply[Zstd] = timedApply({ "zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + oldPath, zst, "-o", out },
        out, err, newPath, f.applySeconds[Zstd]);
    f.patchBytes[Zstd] = size(f.create[Zstd], f.apply[Zstd], zst);

    // xdelta3 reads the old file through a window of 64 MiB by default and
    // misses everything that moved farther: the window covers the whole file.
    const std::string window = std::to_string(std::min<long long>(std::max(f.oldBytes, 1LL << 20), 1LL << 30));
    const std::string vcdiff = d + "xdelta3.patch";
    const ChildRun xc
        = runChild({ "xdelta3", "-9", "-e", "-f", "-B", window, "-s", oldPath, newPath, vcdiff }, "/dev/null", err);
    ChildRun xa = runChild({ "xdelta3", "-d", "-f", "-B", window, "-s", oldPath, vcdiff, out }, "/dev/null", err);
    if (xa.ok() && !sameContent(out, newPath))
        xa.status = -1;
    f.patchBytes[Xdelta] = size(xc, xa, vcdiff);

    if (uint64_t(std::max(f.oldBytes, f.newBytes)) < s.bsdiffBound) {
        const std::string bs = d + "bsdiff.patch";
        // Its suffix sort is slow on data with few matches (a recompressed
        // stream): it may take many minutes on 32 MiB.
        const ChildRun bc = runChild({ "bsdiff", oldPath, newPath, bs }, "/dev/null", err, s.bsdiffSeconds);
        ChildRun ba = bc.ok() ? runChild({ "bspatch", oldPath, out, bs }, "/dev/null", err) : ChildRun();
        if (ba.ok() && !sameContent(out, newPath))
            ba.status = -1;
        f.patchBytes[Bsdiff] = bc.timedOut ? TimedOut : size(bc, ba, bs);
        std::remove(bs.c_str());
    } else {
        f.patchBytes[Bsdiff] = TooLarge;
    }
    for (const std::string &p : { zst, vcdiff, out })
        std::remove(p.c_str());
    return f;
}

} // namespace PatchBench
