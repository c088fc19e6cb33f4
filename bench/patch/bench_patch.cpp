// bench_patch [pak MiB, default 300] [stage rounds, default 5] [--long]
//
// Patch sizes, create and apply time and peak memory of the project's
// hdiffz/hpatchz beside `zstd --patch-from`, xdelta3 and bsdiff, on pairs of
// files of several kinds: a mixed game pak with scattered edits, a pak with
// moved and inserted entries, a recompressed zlib stream, a grown and a shrunk
// file (all generated from fixed seeds, sizes scaled from the pak's), and real
// libraries of two consecutive Debian releases (fetched once into a cache).
// The programs are run through their command lines only, so whatever engine
// is built is measured. Then the merge stage against hpatchz alone, and with
// --long the create and apply cost of a 2.4 GiB pair.
//
// The tables and the verdicts go to standard output as SHOW lines, the
// figures for bench/report.sh as ROW lines.

#include "../BenchRow.h"
#include "DebianPairs.h"
#include "LongPair.h"
#include "MergeStage.h"
#include "PairKinds.h"
#include "PairMeasure.h"
#include "Show.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace PatchBench;

namespace {

constexpr uint64_t BsdiffBound = uint64_t(64) << 20;
constexpr double BsdiffSeconds = 90;

std::string binDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./bench_patch");
    return self.substr(0, self.rfind('/'));
}

std::string bytesCell(long long bytes)
{
    if (bytes == TooLarge)
        return "n/a (too large)";
    if (bytes == Failed)
        return "FAILED";
    if (bytes == TimedOut)
        return "n/a (> " + std::to_string(int(BsdiffSeconds)) + " s)";
    return std::to_string(bytes);
}

std::string mib(long kib)
{
    return Show::number(double(kib) / 1024, 1);
}

std::string secondsCell(const ChildRun &r, double seconds)
{
    return r.ok() ? Show::number(seconds, 2) : "FAILED";
}

void printSizes(const std::vector<PairFigures> &pairs)
{
    Show::line("");
    Show::line("patch bytes (every patch applied and compared with the new file; bsdiff only below 64 MiB, it needs "
               "about 17 times the file size in memory, and stopped after "
        + std::to_string(int(BsdiffSeconds)) + " s)");
    Show::line(Show::cells({ { "pair", -42 }, { "old MiB", 8 }, { "new MiB", 8 }, { "hdiffz", 11 }, { "zstd -19", 11 },
        { "xdelta3 -9", 11 }, { "bsdiff", 15 }, { "ours/best", 9 } }));
    for (const PairFigures &p : pairs) {
        if (!p.measured()) {
            Show::line(Show::cells({ { p.name, -42 }, { "skipped: " + p.skipped, -60 } }));
            continue;
        }
        const double best = p.oursToBestPeer();
        Show::line(Show::cells({ { p.name, -42 }, { mib(long(p.oldBytes / 1024)), 8 },
            { mib(long(p.newBytes / 1024)), 8 }, { bytesCell(p.patchBytes[Ours]), 11 },
            { bytesCell(p.patchBytes[Zstd]), 11 }, { bytesCell(p.patchBytes[Xdelta]), 11 },
            { bytesCell(p.patchBytes[Bsdiff]), 15 }, { best > 0 ? Show::number(best, 3) : "-", 9 } }));
    }
}

void printCosts(const std::vector<PairFigures> &pairs)
{
    Show::line("");
    Show::line("time and peak RssAnon (anonymous resident memory, sampled every 5 ms); apply = the run plus an "
               "fdatasync of its output, caches written out first; ours patches a copy of the old file in place");
    Show::line(Show::cells({ { "pair", -42 }, { "apply s", 8 }, { "zstd -d", 8 }, { "apply MiB", 10 }, { "zstd -d", 8 },
        { "create s", 9 }, { "zstd -19", 9 }, { "create MiB", 11 }, { "zstd -19", 9 } }));
    for (const PairFigures &p : pairs) {
        if (!p.measured())
            continue;
        Show::line(Show::cells({ { p.name, -42 }, { secondsCell(p.apply[Ours], p.applySeconds[Ours]), 8 },
            { secondsCell(p.apply[Zstd], p.applySeconds[Zstd]), 8 }, { mib(p.apply[Ours].peakAnonKiB), 10 },
            { mib(p.apply[Zstd].peakAnonKiB), 8 }, { secondsCell(p.create[Ours], p.create[Ours].seconds), 9 },
            { secondsCell(p.create[Zstd], p.create[Zstd].seconds), 9 }, { mib(p.create[Ours].peakAnonKiB), 11 },
            { mib(p.create[Zstd].peakAnonKiB), 9 } }));
    }
}

void printSummary(const std::vector<PairFigures> &pairs)
{
    Show::line("");
    Show::line("targets");
    long long ours = 0, zstd = 0;
    double createOurs = 0, createZstd = 0;
    long applyAnon = 0;
    std::string misses;
    int compared = 0, met = 0;
    for (const PairFigures &p : pairs) {
        if (!p.measured())
            continue;
        if (p.patchBytes[Ours] > 0 && p.patchBytes[Zstd] > 0) {
            ours += p.patchBytes[Ours];
            zstd += p.patchBytes[Zstd];
        }
        if (p.create[Ours].ok() && p.create[Zstd].ok()) {
            createOurs += p.create[Ours].seconds;
            createZstd += p.create[Zstd].seconds;
        }
        applyAnon = std::max(applyAnon, p.apply[Ours].peakAnonKiB);
        const double ratio = p.oursToBestPeer();
        if (ratio > 0) {
            ++compared;
            met += ratio <= 1.25 ? 1 : 0;
            if (ratio > 1.25)
                misses += (misses.empty() ? "" : ", ") + p.name + " " + Show::number(ratio, 2);
            BenchRow::row("patch bytes, " + p.name, double(p.patchBytes[Ours]) / 1024,
                double(p.patchBytes[Ours]) / ratio / 1024, "best peer", "KiB", "<=1.25");
        }
    }
    const double total = zstd > 0 ? double(ours) / double(zstd) : 0;
    Show::verdict("patch bytes over the corpus, ours/zstd", total, total > 0 && total <= 0.6, "<= 0.6");
    BenchRow::row(
        "patch bytes, corpus total", double(ours) / 1024, double(zstd) / 1024, "zstd -19 --patch-from", "KiB", "<=0.6");
    Show::verdict("pairs where ours/best peer <= 1.25: " + std::to_string(met) + " of " + std::to_string(compared)
            + (misses.empty() ? "" : " (missed: " + misses + ")"),
        -1, compared > 0 && met == compared, "<= 1.25 each");
    if (!pairs.empty() && pairs[0].measured() && pairs[0].apply[Ours].ok() && pairs[0].apply[Zstd].ok()) {
        const PairFigures &p = pairs[0];
        const double ratio = p.applySeconds[Ours] / p.applySeconds[Zstd];
        Show::verdict("apply time ours/zstd, " + p.name, ratio, ratio <= 1.0, "<= 1.0");
        BenchRow::row(
            "patch apply, " + p.name, p.applySeconds[Ours], p.applySeconds[Zstd], "zstd -d --patch-from", "s", "<=1.0");
        BenchRow::row("  apply peak RssAnon", double(p.apply[Ours].peakAnonKiB) / 1024,
            double(p.apply[Zstd].peakAnonKiB) / 1024, "zstd -d --patch-from", "MiB", "");
    }
    Show::verdict("apply peak RssAnon of hpatchz, largest over the pairs (MiB)", double(applyAnon) / 1024,
        applyAnon > 0 && applyAnon < 64 * 1024, "< 64");
    const double create = createZstd > 0 ? createOurs / createZstd : 0;
    Show::verdict("create time ours/zstd -19, summed over the pairs", create, create > 0 && create <= 3, "<= 3");
    BenchRow::row("patch create, all pairs", createOurs, createZstd, "zstd -19 --long=31", "s", "<=3");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::vector<std::string> positional;
    bool longPair = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--long") == 0)
            longPair = true;
        else
            positional.push_back(argv[i]);
    }
    const uint64_t pakMiB = positional.size() > 0 ? uint64_t(std::max(8, std::atoi(positional[0].c_str()))) : 300;
    const int rounds = positional.size() > 1 ? std::max(1, std::atoi(positional[1].c_str())) : 5;
    const auto start = std::chrono::steady_clock::now();
    char tmpl[] = "/tmp/bench_patch.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl, bin = binDir();
    const char *cache = std::getenv("BENCH_PATCH_CACHE");
    const std::string cacheDir = cache && *cache ? cache : bin + "/../bench-cache";
    const std::string oldPath = dir + "/old", newPath = dir + "/new";
    std::printf("bench_patch: pairs in %s, Debian packages cached in %s\n", dir.c_str(), cacheDir.c_str());

    std::vector<PairKind> kinds = generatedPairs(pakMiB);
    for (PairKind &k : debianPairs(cacheDir))
        kinds.push_back(k);
    const MeasureSettings settings{ bin, dir, BsdiffBound, BsdiffSeconds };
    std::vector<PairFigures> pairs;
    bool allOk = true;
    for (size_t i = 0; i < kinds.size(); ++i) {
        std::printf("bench_patch: %s\n", kinds[i].name.c_str());
        std::fflush(stdout);
        const std::string error = kinds[i].make(oldPath, newPath);
        // Hand the generators' buffers back: the merge stage forks this process.
        malloc_trim(0);
        if (!error.empty()) {
            PairFigures skipped;
            skipped.name = kinds[i].name;
            skipped.skipped = error;
            pairs.push_back(skipped);
            continue;
        }
        pairs.push_back(measurePair(settings, kinds[i].name, oldPath, newPath));
        for (long long bytes : pairs.back().patchBytes)
            allOk = allOk && bytes != Failed;
        if (i == 0 && pairs.back().patchBytes[Ours] > 0)
            allOk = measureMergeStage(
                        dir, bin, oldPath, newPath, dir + "/ours.patch", rounds, std::to_string(pakMiB) + " MiB")
                && allOk;
        std::remove(oldPath.c_str());
        std::remove(newPath.c_str());
    }
    printSizes(pairs);
    printCosts(pairs);
    printSummary(pairs);
    if (longPair)
        allOk = measureLongPair(dir, bin) && allOk;
    else
        Show::line("(the 2.4 GiB pair runs with --long: ./run.sh bench --only bench_patch --long)");
    std::system(("rm -rf " + dir).c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Show::line("");
    Show::line("bench_patch took " + Show::number(seconds, 0) + " s");
    return allOk ? 0 : 1;
}
