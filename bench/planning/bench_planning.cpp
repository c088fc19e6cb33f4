// Plans game updates from guide manifests of 100, 500 and 2,000 versions and
// prints the time and peak memory of each plan. Each size runs in a child
// process of its own, so that one size's peak does not hide the next one's.
//
//   bench_planning            all sizes
//   bench_planning --dense    also time the dense interval programme (cubic) for comparison

#include "core/GameUpdateContext.h"
#include "planning/SolveGuideManifest.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Morvaniel;

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString version(int n)
{
    return QStringLiteral("1.%1.%2.0").arg(n / 100).arg(n % 100);
}

// A server's history: every version has a full pack; patches go to the next
// version and jump 2, 5, 10 and 50 versions ahead, with sizes that make the
// chain of single steps neither always best nor always worst.
QString guideManifest(int versions)
{
    QRandomGenerator rng(versions);
    QString text = QStringLiteral("--download_version--\n");
    for (int i = 1; i <= versions; ++i) {
        text += QStringLiteral("%1->%1|%1/full.7z|0123456789abcdef0123456789abcdef|%2\n")
                    .arg(version(i))
                    .arg(20000000000LL + i);
        for (int jump : { 1, 2, 5, 10, 50 }) {
            if (i + jump > versions)
                continue;
            const qint64 size = 1000000LL * jump * (70 + rng.bounded(60)) / 100;
            text += QStringLiteral("%1->%2|patch/%1-%2.7z|0123456789abcdef0123456789abcdef|%3\n")
                        .arg(version(i), version(i + jump))
                        .arg(size);
        }
    }
    text += QStringLiteral("--last_version--\n%1\n").arg(version(versions));
    return text;
}

// The interval programme over four dense n-by-n matrices, for comparison.
qint64 denseProgramme(int n, const QVector<int> &from, const QVector<int> &to, const QVector<qint64> &weight)
{
    std::vector<qint64> W(size_t(n) * n, -1), D(size_t(n) * n, -1);
    std::vector<int> P(size_t(n) * n, -1), E(size_t(n) * n, -1);
    auto at = [n](int i, int j) { return size_t(i) * n + j; };
    for (int k = 0; k < from.size(); ++k) {
        W[at(from[k], to[k])] = weight[k];
        E[at(from[k], to[k])] = k;
    }
    for (int i = 0; i < n; ++i)
        D[at(i, i)] = 0;
    const int t = n - 1;
    for (int len = 1; len <= t; ++len) {
        for (int i = 0; i <= t - len; ++i) {
            const int j = i + len;
            qint64 best = W[at(i, j)];
            for (int k = 1; k < len; ++k) {
                const qint64 left = D[at(i, i + k)], right = D[at(i + k, j)];
                if (left != -1 && right != -1 && quint64(best) > quint64(left + right)) {
                    best = left + right;
                    P[at(i, j)] = k;
                }
            }
            D[at(i, j)] = best;
        }
    }
    return D[at(0, t)];
}

void runOne(int versions, bool dense)
{
    qInstallMessageHandler(quiet); // the planner logs every version; printing them would be the benchmark
    const QString text = guideManifest(versions);
    const long before = peakKiB();
    const int rounds = versions <= 500 ? 20 : 5;
    QVector<qint64> times;
    GameUpdateContext ctx;
    for (int r = 0; r < rounds; ++r) {
        ctx = GameUpdateContext();
        ctx.setting.CurrentGameVersion = version(1);
        ctx.setting.CachePath = QStringLiteral("/tmp/cache");
        QElapsedTimer clock;
        clock.start();
        SolveGuideManifest(text, ctx);
        times.append(clock.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    const long after = peakKiB();
    std::printf("%6d versions  %7.2f ms median plan  %6ld KiB peak RSS (%ld KiB above the loaded manifest)  "
                "result %d, %d steps, %lld bytes\n",
        versions, times[times.size() / 2] / 1e6, after, after - before, ctx.planResult,
        ctx.newestInfo.updatePath.size(), static_cast<long long>(ctx.totalDownloadSize));
    // One row for bench/report.sh; the peer is the one-second ceiling.
    std::printf("ROW\tplan %d versions (median)\t%.3f\t1000.000\tthe 1-s ceiling\tms\t%s\n", versions,
        times[times.size() / 2] / 1e6, versions == 2000 ? "<=1.00" : "");

    if (dense) {
        QVector<int> from, to;
        QVector<qint64> weight;
        QRandomGenerator rng(versions);
        for (int i = 0; i < versions; ++i) {
            for (int jump : { 1, 2, 5, 10, 50 }) {
                if (i + jump < versions) {
                    from.append(i);
                    to.append(i + jump);
                    weight.append(1000000LL * jump * (70 + rng.bounded(60)) / 100);
                }
            }
        }
        const long denseBefore = peakKiB();
        QElapsedTimer clock;
        clock.start();
        const qint64 total = denseProgramme(versions, from, to, weight);
        std::printf("%6d versions  %7.2f ms dense programme  %6ld KiB more peak RSS  (total %lld)\n", versions,
            clock.nsecsElapsed() / 1e6, peakKiB() - denseBefore, static_cast<long long>(total));
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    bool dense = false;
    for (int i = 1; i < argc; ++i)
        dense = dense || std::strcmp(argv[i], "--dense") == 0;
    std::printf("bench_planning: SolveGuideManifest from the oldest version to the newest\n");
    std::fflush(stdout);
    for (int versions : { 100, 500, 2000 }) {
        const pid_t child = fork();
        if (child == 0) {
            runOne(versions, dense);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
    }
    return 0;
}
