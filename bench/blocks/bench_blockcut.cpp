// How to cut a game into delivery blocks: fixed sizes against content-defined
// cuts of several sizes, on a game of realistic shape (tools/publisher's
// LargeGame: paks whose assets are replaced, inserted, deleted and moved, a
// few in-place rewrites, many small loose files) from one version to the
// next. Per scheme: the bytes an update fetches (compressed blocks the old
// version lacks), the bytes of a fresh install, the block count (index size,
// requests), the cost of repairing one byte; then zstd levels on the chosen
// cut, and the speed of cutting plus hashing per core.
//
//   bench_blockcut [--mib 1024]
#include "LargeGame.h"

#include "../BenchRow.h"

#include "blocks/BlockCutter.h"
#include "util/Sha256.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include <zstd.h>

using namespace Morvaniel;
namespace LargeGame = Publisher::LargeGame;

namespace {

void show(const std::string &text)
{
    std::printf("SHOW\t%s\n", text.c_str());
    std::fflush(stdout);
}

std::string fmt(const char *format, double a = 0, double b = 0, double c = 0, double d = 0, double e = 0, double f = 0,
    double g = 0)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, format, a, b, c, d, e, f, g);
    return buf;
}

double cpuNow()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

struct Scheme
{
    const char *name;
    bool fixed;
    CutParameters cut;
};

using Digest = QByteArray;

struct Cut
{
    Digest digest;
    quint32 size;
    const char *data;
};

// Cuts one file's bytes with a scheme.
std::vector<Cut> cutFile(const QByteArray &bytes, const Scheme &scheme)
{
    std::vector<Cut> out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const std::size_t n = scheme.fixed ? std::min<std::size_t>(left, scheme.cut.avgSize)
                                           : BlockCutter::nextCut(p, left, scheme.cut);
        Digest d(Sha256::DigestSize, Qt::Uninitialized);
        Sha256::hash(p, n, reinterpret_cast<unsigned char *>(d.data()));
        out.push_back(Cut{ d, quint32(n), reinterpret_cast<const char *>(p) });
        p += n;
        left -= n;
    }
    return out;
}

QByteArray fileBytes(const LargeGame::File &f)
{
    QByteArray bytes;
    bytes.reserve(int(f.size()));
    LargeGame::produce(f, [&](const char *data, qint64 length) { bytes.append(data, int(length)); });
    return bytes;
}

qint64 packedSize(const char *data, quint32 size, int level, ZSTD_CCtx *cctx)
{
    static std::vector<char> out;
    out.resize(ZSTD_compressBound(size));
    const size_t n = ZSTD_compressCCtx(cctx, out.data(), out.size(), data, size, level);
    return ZSTD_isError(n) ? size : qint64(n);
}

struct Figures
{
    qint64 blocks = 0; // unique blocks of the new version
    qint64 refs = 0;
    qint64 rawBytes = 0;
    qint64 installPacked = 0;
    qint64 updatePackedPaks = 0;
    qint64 updatePackedLoose = 0;
    qint64 updateRawAll = 0;
    qint64 largestPakBlocks = 0;
    qint64 largestPakPacked = 0;
};

Figures measure(const LargeGame::Version &oldV, const LargeGame::Version &newV, const Scheme &scheme, int level)
{
    Figures f;
    ZSTD_CCtx *cctx = ZSTD_createCCtx();
    QSet<Digest> old;
    for (const LargeGame::File &file : oldV) {
        const QByteArray bytes = fileBytes(file);
        for (const Cut &c : cutFile(bytes, scheme))
            old.insert(c.digest);
    }
    QSet<Digest> seen;
    for (const LargeGame::File &file : newV) {
        const QByteArray bytes = fileBytes(file);
        const bool pak = file.tableSeed != 0;
        const bool largest = file.path.contains(QLatin1String("pakchunk0"));
        for (const Cut &c : cutFile(bytes, scheme)) {
            ++f.refs;
            f.rawBytes += c.size;
            if (seen.contains(c.digest))
                continue;
            seen.insert(c.digest);
            ++f.blocks;
            const qint64 packed = packedSize(c.data, c.size, level, cctx);
            f.installPacked += packed;
            if (largest) {
                ++f.largestPakBlocks;
                f.largestPakPacked += packed;
            }
            if (!old.contains(c.digest)) {
                f.updateRawAll += c.size;
                (pak ? f.updatePackedPaks : f.updatePackedLoose) += packed;
            }
        }
    }
    ZSTD_freeCCtx(cctx);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qint64 mib = 1024;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--mib"));
    if (at > 0 && at + 1 < args.size())
        mib = args[at + 1].toLongLong();
    const qint64 total = mib << 20;

    const LargeGame::Version v1 = LargeGame::version(total, 0);
    const LargeGame::Version v2 = LargeGame::version(total, 1);
    qint64 v2Bytes = 0;
    for (const LargeGame::File &f : v2)
        v2Bytes += f.size();
    show(fmt("block cutting on a LargeGame of %.0f MiB (%.0f files), version 1 -> 2, zstd level 3 per block",
        double(v2Bytes) / 1048576.0, double(v2.size())));
    show("scheme            blocks   avg KiB  install MiB  update MiB (paks + loose)  update raw MiB  repair 1 byte KiB"
         "  index KiB");

    const std::vector<Scheme> schemes = {
        { "fixed 64 KiB", true, { 0, 64 * 1024, 0 } },
        { "fixed 256 KiB", true, { 0, 256 * 1024, 0 } },
        { "fixed 1 MiB", true, { 0, 1024 * 1024, 0 } },
        { "cdc 64 KiB", false, { 16 * 1024, 64 * 1024, 256 * 1024 } },
        { "cdc 128/32", false, { 32 * 1024, 128 * 1024, 512 * 1024 } },
        { "cdc 128/64", false, { 64 * 1024, 128 * 1024, 512 * 1024 } },
        { "cdc 256/64", false, { 64 * 1024, 256 * 1024, 1024 * 1024 } },
        { "cdc 256/128", false, { 128 * 1024, 256 * 1024, 1024 * 1024 } },
        { "cdc 1 MiB", false, { 256 * 1024, 1024 * 1024, 4096 * 1024 } },
    };
    for (const Scheme &s : schemes) {
        const Figures f = measure(v1, v2, s, 3);
        const double indexKiB = (double(f.blocks) * 52 + double(f.refs) * 12) / 1024.0;
        char line[512];
        std::snprintf(line, sizeof line, "%-15s %8lld %9.1f %12.1f %10.1f (%.1f + %.1f) %15.1f %18.1f %10.1f", s.name,
            (long long)f.blocks, double(f.rawBytes) / double(f.refs) / 1024.0, double(f.installPacked) / 1048576.0,
            double(f.updatePackedPaks + f.updatePackedLoose) / 1048576.0, double(f.updatePackedPaks) / 1048576.0,
            double(f.updatePackedLoose) / 1048576.0, double(f.updateRawAll) / 1048576.0,
            double(f.largestPakPacked) / double(qMax<qint64>(1, f.largestPakBlocks)) / 1024.0, indexKiB);
        show(line);
    }

    // zstd levels on the standard cut: size against compression speed.
    const CutParameters standard = CutParameters::standard();
    const QByteArray sample = fileBytes(v2[0]).left(256 << 20);
    const std::vector<Cut> cuts = cutFile(sample, Scheme{ "standard", false, standard });
    show("zstd level per block (standard cut, 256 MiB of the largest pak): level, packed/raw, compress MB/s per core, "
         "decompress MB/s");
    for (int level : { 1, 3, 6, 9, 12, 19 }) {
        ZSTD_CCtx *cctx = ZSTD_createCCtx();
        ZSTD_DCtx *dctx = ZSTD_createDCtx();
        std::vector<std::vector<char>> packed;
        const double c0 = cpuNow();
        qint64 out = 0;
        for (const Cut &c : cuts) {
            std::vector<char> buf(ZSTD_compressBound(c.size));
            const size_t n = ZSTD_compressCCtx(cctx, buf.data(), buf.size(), c.data, c.size, level);
            buf.resize(n);
            out += qint64(n);
            packed.push_back(std::move(buf));
        }
        const double c1 = cpuNow();
        std::vector<char> back(standard.maxSize);
        for (std::size_t i = 0; i < cuts.size(); ++i)
            ZSTD_decompressDCtx(dctx, back.data(), back.size(), packed[i].data(), packed[i].size());
        const double c2 = cpuNow();
        show(fmt("  level %2.0f  %.3f  %7.1f  %7.1f", level, double(out) / double(sample.size()),
            double(sample.size()) / (c1 - c0) / 1e6, double(sample.size()) / (c2 - c1) / 1e6));
        ZSTD_freeCCtx(cctx);
        ZSTD_freeDCtx(dctx);
    }

    // Cutting and hashing speed per core (processor time of this thread).
    for (bool accelerated : { false, true }) {
        Sha256::allowAcceleration(accelerated);
        const double t0 = cpuNow();
        const std::size_t n = cutFile(sample, Scheme{ "standard", false, standard }).size();
        const double t1 = cpuNow();
        unsigned char d[32];
        Sha256::hash(sample.constData(), std::size_t(sample.size()), d);
        const double t2 = cpuNow();
        const double cutHash = double(sample.size()) / (t1 - t0) / 1e9;
        const double hashOnly = double(sample.size()) / (t2 - t1) / 1e9;
        char line[256];
        std::snprintf(line, sizeof line, "cut + hash, SHA-256 %s: %.2f GB/s per core; hash alone %.2f GB/s; %zu blocks",
            Sha256::implementation(), cutHash, hashOnly, n);
        show(line);
        if (accelerated)
            BenchRow::row("block cut + SHA-256 per core (GB/s)", cutHash, 1.0, "target", "GB/s", ">=1");
    }
    return 0;
}
