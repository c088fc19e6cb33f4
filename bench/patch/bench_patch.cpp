// bench_patch [size MiB, default 300] [stage rounds, default 5]
//
// Builds a pair of game-like files (mostly incompressible blocks, some text;
// the new one with edited, replaced, dropped, inserted and moved blocks) and
// measures, for the project's hdiffz/hpatchz, `zstd --patch-from` and xdelta3:
// patch size, create and apply time, and the peak resident memory of each
// child process. Every applied result is compared with the new file.
// Then the merge stage (MergeThread running hpatchz) against hpatchz run
// directly on the same files, in turns, best of a few rounds.

#include "../BenchRow.h"
#include "patch/MergeThread.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Rng
{
    uint64_t s;
    uint64_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

constexpr size_t Block = 1 << 20;

void fillBlock(Rng &rng, std::vector<char> &b, bool text)
{
    b.resize(Block);
    if (!text) {
        for (size_t i = 0; i < Block; i += 8) {
            const uint64_t v = rng.next();
            std::memcpy(&b[i], &v, 8);
        }
        return;
    }
    static const char *words[] = { "mesh ", "texture ", "shader ", "level ", "actor ", "sound ", "=", "1.0 ", "\n" };
    for (size_t i = 0; i < Block; ++i) {
        const char *w = words[rng.next() % 9];
        while (*w && i < Block)
            b[i++] = *w++;
        --i;
    }
}

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0; // user + system of the child
    long peakKb = 0;
    int status = -1;
};

Run run(const std::vector<std::string> &args, const std::string &stdoutPath = "/dev/null")
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Run r;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKb = usage.ru_maxrss;
    r.cpuSeconds
        = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

long long fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool sameContent(const std::string &a, const std::string &b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(Block), bb(Block);
    while (fa && fb) {
        fa.read(ba.data(), Block);
        fb.read(bb.data(), Block);
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), fa.gcount()) != 0)
            return false;
    }
    return !fa && !fb;
}

void makePair(const std::string &oldPath, const std::string &newPath, size_t blocks)
{
    Rng rng{ 0x9e3779b97f4a7c15ull };
    std::vector<std::vector<char>> old(blocks);
    std::vector<bool> isText(blocks);
    for (size_t i = 0; i < blocks; ++i) {
        isText[i] = rng.next() % 10 < 3;
        fillBlock(rng, old[i], isText[i]);
    }
    {
        std::ofstream o(oldPath, std::ios::binary);
        for (const auto &b : old)
            o.write(b.data(), Block);
    }
    std::ofstream n(newPath, std::ios::binary);
    std::vector<char> fresh;
    std::vector<size_t> order(blocks);
    for (size_t i = 0; i < blocks; ++i)
        order[i] = i;
    // A few blocks move far: repacked archives reorder their content.
    for (size_t k = 0; k < blocks / 50; ++k)
        std::swap(order[rng.next() % blocks], order[rng.next() % blocks]);
    for (size_t i : order) {
        const unsigned roll = rng.next() % 100;
        if (roll < 3)
            continue; // dropped
        std::vector<char> b = old[i];
        if (roll < 8) {
            std::vector<char> patch;
            fillBlock(rng, patch, false);
            std::memcpy(&b[rng.next() % (Block - 4096)], patch.data(), 4096); // edited
        } else if (roll < 11) {
            fillBlock(rng, b, isText[i]); // replaced
        }
        n.write(b.data(), Block);
        if (roll >= 96) {
            fillBlock(rng, fresh, rng.next() % 2);
            n.write(fresh.data(), Block); // inserted
        }
    }
}

std::string binDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./bench_patch");
    return self.substr(0, self.rfind('/'));
}

void report(const char *tool, const Run &create, long long patchBytes, const Run &apply, bool ok)
{
    std::printf("%-22s %10.2f %9ld %12lld %9.2f %9ld  %s\n", tool, create.seconds, create.peakKb / 1024, patchBytes,
        apply.seconds, apply.peakKb / 1024, create.status == 0 && apply.status == 0 && ok ? "identical" : "FAILED");
}

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

using BenchRow::cpuSeconds;
using BenchRow::row;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const size_t mib = argc > 1 ? std::max(8, std::atoi(argv[1])) : 300;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    char tmpl[] = "/tmp/bench_patch.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    const std::string oldPath = dir + "/old.pak", newPath = dir + "/new.pak";
    std::printf("bench_patch: making a pair of %zu MiB files in %s\n", mib, dir.c_str());
    makePair(oldPath, newPath, mib);
    // Hand the pair's blocks back to the system: the stage forks this process
    // to start the tool, and a host does not carry a few hundred MiB of freed
    // heap around.
    malloc_trim(0);
    std::printf("old %lld bytes, new %lld bytes\n\n", fileSize(oldPath), fileSize(newPath));
    std::printf("%-22s %10s %9s %12s %9s %9s\n", "tool", "create s", "create MB", "patch bytes", "apply s", "apply MB");

    const std::string bin = binDir();
    bool allOk = true;
    std::vector<Run> applyRuns;
    {
        const std::string diff = dir + "/h.patch", out = dir + "/h.out";
        std::system(("cp " + oldPath + " " + out).c_str());
        const Run c = run({ bin + "/hdiffz", "-q", oldPath, newPath, diff });
        const Run a = run({ bin + "/hpatchz", out, diff, out, "-f", "-s-1m", "-C-old-new-diff" });
        const bool ok = sameContent(out, newPath);
        allOk = allOk && ok && c.status == 0 && a.status == 0;
        report("hpatchz (in place)", c, fileSize(diff), a, ok);
        applyRuns.push_back(a);
    }
    {
        const std::string diff = dir + "/z.zst", out = dir + "/z.out";
        const Run c = run({ "zstd", "-q", "-f", "--patch-from=" + oldPath, newPath, "-o", diff });
        const Run a = run({ "zstd", "-q", "-f", "-d", "--memory=2048MB", "--patch-from=" + oldPath, diff, "-o", out });
        const bool ok = sameContent(out, newPath);
        allOk = allOk && ok && c.status == 0 && a.status == 0;
        report("zstd --patch-from", c, fileSize(diff), a, ok);
        applyRuns.push_back(a);
    }
    {
        const std::string diff = dir + "/x.vcdiff", out = dir + "/x.out";
        // A source window as large as the file, so xdelta3 can see every match.
        const std::string window = std::to_string(std::min<long long>(fileSize(oldPath), 1LL << 30));
        const Run c = run({ "xdelta3", "-e", "-f", "-B", window, "-s", oldPath, newPath, diff });
        const Run a = run({ "xdelta3", "-d", "-f", "-B", window, "-s", oldPath, diff, out });
        const bool ok = sameContent(out, newPath);
        allOk = allOk && ok && c.status == 0 && a.status == 0;
        report("xdelta3 -B <file size>", c, fileSize(diff), a, ok);
        applyRuns.push_back(a);
    }
    const std::string figure = "patch apply " + std::to_string(mib) + " MiB (hpatchz)";
    if (applyRuns.size() == 3) {
        row(figure, applyRuns[0].seconds, applyRuns[1].seconds, "zstd --patch-from -d", "s", "");
        row(figure, applyRuns[0].seconds, applyRuns[2].seconds, "xdelta3 -d", "s", "");
    }

    // The stage against the tool alone: the same in-place run of hpatchz on
    // the same files, taken in turns. Restoring the old file is not timed.
    const std::string game = dir + "/stage-game/game.pak", direct = dir + "/direct.pak";
    std::system(("mkdir -p " + dir + "/stage-game " + dir + "/stage-patch && cp " + dir + "/h.patch " + dir
        + "/stage-patch/game.pak.patch")
                    .c_str());
    {
        std::ofstream manifest(dir + "/stage-patch/manifest.txt", std::ios::binary);
        manifest << "--patch_file--\ngame.pak.patch|md5|" << fileSize(dir + "/h.patch") << "\n";
    }
    double stage = 1e9, tool = 1e9, stageCpu = 1e9, toolCpu = 1e9;
    bool stageOk = true;
    for (int i = 0; i < rounds && stageOk; ++i) {
        // Both copies are written back before either run, and who goes first
        // alternates, so that neither pays for the other's dirty pages.
        std::system(("cp " + oldPath + " " + direct + " && cp " + oldPath + " " + game).c_str());
        Run a;
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
            a = run({ bin + "/hpatchz", direct, dir + "/h.patch", direct, "-f", "-s-1m", "-C-old-new-diff" });
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
        stageOk = a.status == 0 && m >= 0 && sameContent(direct, newPath) && sameContent(game, newPath);
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
    allOk = allOk && stageOk;
    if (stageOk) {
        row("merge stage " + std::to_string(mib) + " MiB", stage, tool, "hpatchz alone", "s", "<=1.03");
        row("  the same, processor time", stageCpu, toolCpu, "hpatchz alone", "cpu s", "<=1.03");
    }

    std::system(("rm -rf " + dir).c_str());
    std::printf("\nMB columns: peak resident set of the process (ru_maxrss), mapped file pages included.\n");
    return allOk ? 0 : 1;
}
