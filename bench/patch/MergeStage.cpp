#include "MergeStage.h"

#include "../BenchRow.h"
#include "ChildRun.h"
#include "PairMeasure.h"
#include "patch/MergeThread.h"

#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace PatchBench {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The merge stage on one patch file: the game file is patched in place by
// hpatchz, started and watched by MergeThread. Returns seconds, -1 on failure.
double mergeStageOnce(const std::string &dir)
{
    const QString root = QString::fromStdString(dir);
    Morvaniel::MergeThread thread;
    thread.SetPaths(root + "/stage-patch/manifest.txt", root + "/stage-game", root + "/stage-temp");
    QEventLoop loop;
    QString error = QStringLiteral("no result");
    QObject::connect(&thread, &Morvaniel::MergeThread::MergeFinished, &loop, [&](const QString &text, bool) {
        error = text;
        loop.quit();
    });
    const auto start = std::chrono::steady_clock::now();
    thread.start();
    loop.exec();
    const double seconds = secondsSince(start);
    thread.wait();
    return error.isEmpty() ? seconds : -1;
}

} // namespace

bool measureMergeStage(const std::string &dir, const std::string &bin, const std::string &oldPath,
    const std::string &newPath, const std::string &patchPath, int rounds, const std::string &label)
{
    using BenchRow::cpuSeconds;
    // The stage against the tool alone: the same in-place run of hpatchz on
    // the same files, taken in turns. Restoring the old file is not timed.
    const std::string game = dir + "/stage-game/game.pak", direct = dir + "/direct.pak";
    std::system(("mkdir -p " + dir + "/stage-game " + dir + "/stage-patch && cp " + patchPath + " " + dir
        + "/stage-patch/game.pak.patch")
                    .c_str());
    {
        std::ofstream manifest(dir + "/stage-patch/manifest.txt", std::ios::binary);
        manifest << "--patch_file--\ngame.pak.patch|md5|" << fileSize(patchPath) << "\n";
    }
    double stage = 1e9, tool = 1e9, stageCpu = 1e9, toolCpu = 1e9;
    bool stageOk = true;
    for (int i = 0; i < rounds && stageOk; ++i) {
        // Both copies are written back before either run, and who goes first
        // alternates, so that neither pays for the other's dirty pages.
        std::system(("cp " + oldPath + " " + direct + " && cp " + oldPath + " " + game).c_str());
        ChildRun a;
        double m = -1;
        double mCpu = 0;
        const auto stageRun = [&] {
            sync();
            const double cpu = cpuSeconds();
            m = mergeStageOnce(dir);
            mCpu = cpuSeconds() - cpu;
        };
        const auto toolRun = [&] {
            sync();
            a = runChild({ bin + "/hpatchz", direct, patchPath, direct, "-f", "-s-1m", "-C-old-new-diff" });
        };
        if (i % 2 == 0) {
            toolRun();
            stageRun();
        } else {
            stageRun();
            toolRun();
        }
        stageCpu = std::min(stageCpu, mCpu);
        toolCpu = std::min(toolCpu, a.cpuSeconds);
        stageOk = a.ok() && m >= 0 && sameContent(direct, newPath) && sameContent(game, newPath);
        tool = std::min(tool, a.seconds);
        stage = std::min(stage, m);
    }
    // The stage starts the tool through QProcess, which forks this process:
    // its resident size is part of the cost.
    long rssKiB = -1;
    {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.compare(0, 6, "VmRSS:") == 0)
                rssKiB = std::atol(line.c_str() + 6);
        }
    }
    std::printf("\nmerge stage %.3f s (%.3f cpu s), hpatchz alone %.3f s (%.3f cpu s), best of %d, %s; "
                "RSS of this process %ld KiB\n",
        stage, stageCpu, tool, toolCpu, rounds, stageOk ? "identical" : "FAILED", rssKiB);
    if (stageOk) {
        BenchRow::row("merge stage " + label, stage, tool, "hpatchz alone", "s", "<=1.03");
        BenchRow::row("  the same, processor time", stageCpu, toolCpu, "hpatchz alone", "cpu s", "<=1.03");
    }
    std::system(("rm -rf " + dir + "/stage-game " + dir + "/stage-patch " + dir + "/stage-temp " + direct).c_str());
    return stageOk;
}

} // namespace PatchBench
