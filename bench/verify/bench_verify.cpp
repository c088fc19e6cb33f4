// Archive verification and extraction measured next to the tools they stand in
// for, on the same files in the same run: Verifyer against md5sum (and, with
// signed releases on, against md5sum and b2sum), UnZipper against running 7z x
// directly. Prints times, throughputs and ratios (ours /
// tool's; below 1 is faster than the tool).
//
//   bench_verify [MiB of archives, default 256] [rounds, default 5]

#include "../BenchRow.h"
#include "core/GameUpdateContext.h"
#include "trust/ReleaseListing.h"
#include "unzip/UnZipper.h"
#include "unzip/ZipThread.h"
#include "util/Blake2b.h"
#include "verify/Verifyer.h"

// The same generators as the tests, so that both measure the same kind of data.
#include "TestData.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPair>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace Morvaniel;
using TestData::randomBytes;
using TestData::wordText;

namespace {

using BenchRow::cpuSeconds;
using BenchRow::row;

void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

struct Cost
{
    double wall = 1e9;
    double cpu = 1e9;
};

// Wall and processor time of run after prepare (neither timed); wall -1 when
// it failed.
Cost timed(const std::function<void()> &prepare, const std::function<bool()> &run)
{
    if (prepare)
        prepare();
    // The previous run's output is still being written back; it must not slow
    // this one down.
    ::sync();
    Cost cost;
    const double cpu = cpuSeconds();
    QElapsedTimer t;
    t.start();
    if (!run()) {
        std::fprintf(stderr, "bench_verify: a run failed\n");
        cost.wall = -1;
        return cost;
    }
    cost.wall = t.nsecsElapsed() / 1e9;
    cost.cpu = cpuSeconds() - cpu;
    return cost;
}

// Best costs (ours, tool's) of runs taken in turns, so that a burst of load
// from elsewhere on the machine hits both sides alike.
QPair<Cost, Cost> bestOfPairs(int rounds, const std::function<void()> &prepare, const std::function<bool()> &ours,
    const std::function<bool()> &tool)
{
    QPair<Cost, Cost> result;
    for (int i = 0; i < rounds; ++i) {
        // Alternate who goes first: the first run of a round finds the caches
        // as the previous round left them.
        Cost a;
        Cost b;
        if (i % 2 == 0) {
            a = timed(prepare, tool);
            b = timed(prepare, ours);
        } else {
            b = timed(prepare, ours);
            a = timed(prepare, tool);
        }
        if (a.wall < 0 || b.wall < 0)
            return QPair<Cost, Cost>();
        result.first.wall = qMin(result.first.wall, b.wall);
        result.first.cpu = qMin(result.first.cpu, b.cpu);
        result.second.wall = qMin(result.second.wall, a.wall);
        result.second.cpu = qMin(result.second.cpu, a.cpu);
    }
    return result;
}

bool runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(600000))
        return false;
    p.readAll();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool verifyOnce(GameUpdateContext &ctx)
{
    QEventLoop loop;
    bool ok = false;
    Verifyer::GetInstance()->RegistCallbackFunc([&](VerifyCallbackInfo &info) {
        if (info.bComplete) {
            ok = !info.bError;
            loop.quit();
        }
    });
    Verifyer::GetInstance()->StartVerify(ctx);
    loop.exec();
    return ok;
}

bool unzipOnce(GameUpdateContext &ctx)
{
    QEventLoop loop;
    bool ok = false;
    UnZipper::GetInstance()->RegistCallbackFunc([&](UnZipCallbackInfo &info) {
        if (info.bComplete) {
            ok = info.code == 0;
            loop.quit();
        }
    });
    UnZipper::GetInstance()->StartUnZip(ctx);
    loop.exec();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(silence);
    const int totalMiB = argc > 1 ? qMax(4, atoi(argv[1])) : 256;
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 5;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Archive verification: four archives, hashed by Verifyer and by md5sum.
    GameUpdateContext ctx;
    ctx.verifySingle = true;
    const int fileMiB = totalMiB / 4;
    for (int i = 0; i < 4; ++i) {
        const QString path = dir.filePath(QStringLiteral("pack%1.7z").arg(i));
        const QByteArray bytes = randomBytes(fileMiB * 1024 * 1024, quint32(i + 1));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 1;
        ctx.verifyFileList.append(path);
        ctx.verifyMd5List.append(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    }
    const QStringList files(ctx.verifyFileList.cbegin(), ctx.verifyFileList.cend());
    runTool(QStringLiteral("md5sum"), files); // warms the page cache for both
    const QPair<Cost, Cost> verifyTimes = bestOfPairs(
        rounds, nullptr, [&] { return verifyOnce(ctx); }, [&] { return runTool(QStringLiteral("md5sum"), files); });
    const double verifyer = verifyTimes.first.wall;
    const double md5sum = verifyTimes.second.wall;
    const double mib = 4.0 * fileMiB;
    std::printf("verify:  %4.0f MiB in 4 archives   Verifyer %.3f s (%.0f MiB/s)   md5sum %.3f s (%.0f MiB/s)   "
                "ratio %.2f\n",
        mib, verifyer, mib / verifyer, md5sum, mib / md5sum, verifyer / md5sum);
    row(QStringLiteral("verify %1 MiB in 4 archives").arg(mib).toStdString(), mib / verifyer, mib / md5sum, "md5sum",
        "MiB/s", ">=0.95");
    row("  the same, processor time", verifyTimes.first.cpu, verifyTimes.second.cpu, "md5sum", "cpu s", "<=1.05");

    // With signed releases on, each archive also needs its listed BLAKE2b digest.
    QHash<QString, ListedFile> listed;
    for (const QString &path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = f.readAll();
        listed.insert(QStringLiteral("game/1.0.0.1/") + QFileInfo(path).fileName(),
            ListedFile{ bytes.size(), Blake2b::hash(bytes) });
    }
    ReleaseListing::setRequired(true);
    ReleaseListing::install(QStringLiteral("http://127.0.0.1"), listed);
    const QPair<Cost, Cost> strongMd5 = bestOfPairs(
        rounds, nullptr, [&] { return verifyOnce(ctx); }, [&] { return runTool(QStringLiteral("md5sum"), files); });
    const QPair<Cost, Cost> strongB2 = bestOfPairs(
        rounds, nullptr, [&] { return verifyOnce(ctx); }, [&] { return runTool(QStringLiteral("b2sum"), files); });
    ReleaseListing::setRequired(false);
    ReleaseListing::clear();
    const double strong = qMin(strongMd5.first.wall, strongB2.first.wall);
    std::printf(
        "verify signed: MD5 + BLAKE2b %.3f s (%.0f MiB/s)   md5sum %.3f s   b2sum %.3f s   ratio to md5sum %.2f\n",
        strong, mib / strong, strongMd5.second.wall, strongB2.second.wall, strong / strongMd5.second.wall);
    row(QStringLiteral("verify %1 MiB, signed release (MD5 + BLAKE2b)").arg(mib).toStdString(), mib / strong,
        mib / strongMd5.second.wall, "md5sum", "MiB/s", ">=0.8");
    row("  the same", mib / strong, mib / strongB2.second.wall, "b2sum", "MiB/s", "");
    row("  the same, processor time", qMin(strongMd5.first.cpu, strongB2.first.cpu), strongMd5.second.cpu, "md5sum",
        "cpu s", "");

    // Extraction: one archive of compressible text plus incompressible data.
    const QString src = dir.filePath(QStringLiteral("src"));
    QDir().mkpath(src + "/Paks");
    {
        QFile a(src + "/Paks/text.pak");
        QFile b(src + "/Paks/noise.pak");
        if (!a.open(QIODevice::WriteOnly) || !b.open(QIODevice::WriteOnly))
            return 1;
        a.write(wordText(totalMiB / 4 * 1024 * 1024, 9));
        b.write(randomBytes(totalMiB / 4 * 1024 * 1024, 10));
    }
    const QString archive = dir.filePath(QStringLiteral("game.7z"));
    const QString sevenZip = ZipThread::archiverPath();
    QProcess pack;
    pack.setWorkingDirectory(src);
    pack.start(sevenZip, { "a", "-bd", "-mx1", archive, "." });
    if (!pack.waitForFinished(600000) || pack.exitCode() != 0)
        return 1;
    const QString direct = dir.filePath(QStringLiteral("direct"));
    ctx.unzipFiles = { archive };
    ctx.unzipTargetDir = dir.filePath(QStringLiteral("unzipper"));
    ctx.updateMode = 0;
    // Both extract into an empty folder; clearing it is not timed.
    const QPair<Cost, Cost> unzipTimes = bestOfPairs(
        rounds,
        [&] {
            QDir(direct).removeRecursively();
            QDir(ctx.unzipTargetDir).removeRecursively();
        },
        [&] { return unzipOnce(ctx); },
        [&] {
            return runTool(sevenZip, { "x", "-bsp1", "-y", "-o" + direct, archive });
        });
    const double unzipper = unzipTimes.first.wall;
    const double tool = unzipTimes.second.wall;
    std::printf("extract: %4.0f MiB archive (%.0f MiB unpacked)   UnZipper %.3f s   7z x %.3f s   ratio %.2f\n",
        QFileInfo(archive).size() / 1048576.0, totalMiB / 2.0, unzipper, tool, unzipper / tool);
    row(QStringLiteral("extract %1 MiB (UnZipper stage)").arg(totalMiB / 2).toStdString(), unzipper, tool, "7z x", "s",
        "<=1.03");
    row("  the same, processor time", unzipTimes.first.cpu, unzipTimes.second.cpu, "7z x", "cpu s", "<=1.03");
    return 0;
}
