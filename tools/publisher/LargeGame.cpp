#include "LargeGame.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstring>

namespace Publisher {
namespace LargeGame {

namespace {

constexpr quint32 HeaderSize = 32;
constexpr quint32 TableEntrySize = 48;
constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

struct Stream
{
    quint64 state;
    quint64 next()
    {
        quint64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    quint64 below(quint64 n) { return n ? next() % n : 0; }
    // Log-uniform in [low, high]: many small assets, a few large ones.
    quint32 logSize(double low, double high)
    {
        const double u = double(next() >> 11) / double(1ull << 53);
        return quint32(std::exp(std::log(low) + u * (std::log(high) - std::log(low))));
    }
};

void fillNoise(char *out, qint64 length, quint64 seed)
{
    Stream s{ seed };
    qint64 i = 0;
    for (; i + 8 <= length; i += 8) {
        const quint64 v = s.next();
        std::memcpy(out + i, &v, 8);
    }
    if (i < length) {
        const quint64 v = s.next();
        std::memcpy(out + i, &v, size_t(length - i));
    }
}

// A megabyte of words that compressible assets quote from.
const QByteArray &dictionary()
{
    static const QByteArray words = [] {
        static const char *const parts[] = { "mesh", "lod", "texture", "material", "bone", "socket", "anim", "curve",
            "vertex", "normal", "tangent", "uv", "index", "shader", "param", "float", "vector", "color", "name", "path",
            "/Game/Maps/", "/Game/Characters/", "Blueprint", "Component", "Default__", "Actor", "Level" };
        QByteArray out;
        out.reserve(int(MiB));
        Stream s{ 77 };
        while (out.size() < MiB) {
            out += parts[s.below(sizeof parts / sizeof parts[0])];
            out += char('0' + s.below(10));
            out += s.below(4) == 0 ? '\n' : ' ';
        }
        out.truncate(int(MiB));
        return out;
    }();
    return words;
}

void fillStructured(char *out, qint64 length, quint64 seed)
{
    const QByteArray &dict = dictionary();
    Stream s{ seed };
    qint64 i = 0;
    while (i < length) {
        const qint64 run = qMin<qint64>(length - i, 32 + qint64(s.below(2016)));
        const qint64 from = qint64(s.below(quint64(dict.size() - run)));
        std::memcpy(out + i, dict.constData() + from, size_t(run));
        i += run;
        // A few bytes of numbers between the quotes, as in real data.
        const qint64 noise = qMin<qint64>(length - i, 8);
        if (noise > 0)
            fillNoise(out + i, noise, s.next());
        i += noise;
    }
}

void produceAsset(const Asset &a, QByteArray &buffer)
{
    buffer.resize(int(HeaderSize + a.size));
    char *p = buffer.data();
    std::memset(p, 0, HeaderSize);
    std::memcpy(p, "ASSET\0\0\0", 8);
    std::memcpy(p + 8, &a.seed, 8);
    std::memcpy(p + 16, &a.size, 4);
    if (a.compressible)
        fillStructured(p + HeaderSize, a.size, a.seed);
    else
        fillNoise(p + HeaderSize, a.size, a.seed);
    for (const Edit &e : a.edits) {
        if (e.offset >= a.size)
            continue;
        fillNoise(p + HeaderSize + e.offset, qMin<qint64>(e.length, a.size - e.offset), e.seed);
    }
}

Asset newAsset(Stream &s, double low, double high)
{
    Asset a;
    a.seed = s.next();
    a.size = s.logSize(low, high);
    a.compressible = s.below(10) < 4;
    return a;
}

File pak(const QString &path, qint64 bytes, Stream &s)
{
    File f;
    f.path = path;
    f.tableSeed = s.next();
    while (f.size() < bytes)
        f.assets << newAsset(s, 16 * KiB, 4 * MiB);
    return f;
}

void evolvePak(File &f, Stream &s)
{
    const int n = f.assets.size();
    const int replaced = qMax(1, n / 100);
    const int inserted = qMax(1, n / 200);
    const int deleted = qMax(1, n / 200);
    const int moved = qMax(1, n / 200);
    for (int i = 0; i < replaced; ++i) {
        Asset &a = f.assets[int(s.below(quint64(f.assets.size())))];
        const quint32 oldSize = a.size;
        a = newAsset(s, 16 * KiB, 4 * MiB);
        a.size = quint32(qMax<qint64>(4 * KiB, qint64(oldSize) / 2 + qint64(s.below(oldSize))));
    }
    for (int i = 0; i < inserted; ++i)
        f.assets.insert(int(s.below(quint64(f.assets.size() + 1))), newAsset(s, 16 * KiB, 4 * MiB));
    for (int i = 0; i < deleted && f.assets.size() > 1; ++i)
        f.assets.remove(int(s.below(quint64(f.assets.size()))));
    for (int i = 0; i < moved && f.assets.size() > 1; ++i) {
        const Asset a = f.assets.takeAt(int(s.below(quint64(f.assets.size()))));
        f.assets.insert(int(s.below(quint64(f.assets.size() + 1))), a);
    }
    // A few small rewrites in place: about one per 64 MiB.
    const qint64 edits = qMax<qint64>(1, f.size() / (64 * MiB));
    for (qint64 i = 0; i < edits; ++i) {
        Asset &a = f.assets[int(s.below(quint64(f.assets.size())))];
        Edit e;
        e.length = quint32(4 * KiB + qint64(s.below(28 * KiB)));
        e.offset = quint32(s.below(a.size));
        e.seed = s.next();
        a.edits << e;
    }
    f.tableSeed = s.next();
}

QString loosePath(int i)
{
    return QStringLiteral("PM/Content/Loose/%1/asset_%2.uasset")
        .arg(i % 64, 2, 10, QLatin1Char('0'))
        .arg(i, 6, 10, QLatin1Char('0'));
}

} // namespace

qint64 File::size() const
{
    qint64 total = tableSeed ? qint64(TableEntrySize) * assets.size() : 0;
    for (const Asset &a : assets)
        total += HeaderSize + a.size;
    return total;
}

Version version(qint64 totalBytes, int index)
{
    Stream s{ 0x6c617267ull ^ quint64(totalBytes) };
    Version v;
    const QString paks = QStringLiteral("PM/Content/Paks/");
    // Shares as in the game the issue measured: a 3 GiB game with a 2 GiB pak.
    v << pak(paks + QStringLiteral("pakchunk0-WindowsNoEditor.pak"), totalBytes * 65 / 100, s);
    v << pak(paks + QStringLiteral("pakchunk1-WindowsNoEditor.pak"), totalBytes * 10 / 100, s);
    for (int i = 2; i < 6; ++i)
        v << pak(paks + QStringLiteral("pakchunk%1-WindowsNoEditor.pak").arg(i), totalBytes * 25 / 1000, s);
    for (int i = 0; i < 2; ++i) {
        File movie;
        movie.path = QStringLiteral("PM/Content/Movies/movie_%1.mp4").arg(i);
        while (movie.size() < totalBytes * 25 / 1000)
            movie.assets << Asset{ s.next(), quint32(4 * MiB), false, {} };
        v << movie;
    }
    // Loose files, 48 KiB on average, a tenth of the game.
    int loose = 0;
    for (qint64 bytes = 0; bytes < totalBytes / 10; ++loose) {
        File f;
        f.path = loosePath(loose);
        f.assets << newAsset(s, 512, 256 * KiB);
        bytes += f.size();
        v << f;
    }
    for (int step = 1; step <= index; ++step) {
        Stream e{ s.next() ^ quint64(step) * 0x1000193ull };
        for (File &f : v)
            if (f.tableSeed)
                evolvePak(f, e);
        // Loose files: 5 % rewritten, 1 % deleted, 1 % added.
        for (int i = 0; i < v.size(); ++i)
            if (!v[i].tableSeed && v[i].path.contains(QLatin1String("/Loose/")) && e.below(100) < 5)
                v[i].assets[0] = newAsset(e, 512, 256 * KiB);
        for (int i = v.size() - 1; i >= 0; --i)
            if (v[i].path.contains(QLatin1String("/Loose/")) && e.below(100) < 1)
                v.remove(i);
        const int added = qMax(1, loose / 100);
        for (int i = 0; i < added; ++i) {
            File f;
            f.path = loosePath(loose++);
            f.assets << newAsset(e, 512, 256 * KiB);
            v << f;
        }
    }
    return v;
}

void produce(const File &file, const std::function<void(const char *, qint64)> &sink)
{
    QByteArray buffer;
    for (const Asset &a : file.assets) {
        produceAsset(a, buffer);
        sink(buffer.constData(), buffer.size());
    }
    if (!file.tableSeed)
        return;
    // The table names every asset with its place, so it changes whenever anything moves.
    QByteArray table;
    qint64 offset = 0;
    for (const Asset &a : file.assets) {
        char entry[TableEntrySize] = {};
        std::memcpy(entry, &a.seed, 8);
        std::memcpy(entry + 8, &offset, 8);
        std::memcpy(entry + 16, &a.size, 4);
        fillNoise(entry + 24, 24, a.seed ^ file.tableSeed);
        table.append(entry, TableEntrySize);
        offset += HeaderSize + a.size;
        if (table.size() >= 4 * MiB) {
            sink(table.constData(), table.size());
            table.clear();
        }
    }
    sink(table.constData(), table.size());
}

QStringList generate(const QString &root, int versionCount, qint64 totalBytes, QString &error)
{
    QStringList names;
    for (int index = 0; index < versionCount; ++index) {
        const QString name = QStringLiteral("1.0.0.%1").arg(index + 1);
        const QString dir = root + QLatin1Char('/') + name;
        if (QFileInfo::exists(dir)) {
            error = QStringLiteral("%1 already exists").arg(dir);
            return {};
        }
        for (const File &f : version(totalBytes, index)) {
            const QString path = dir + QLatin1Char('/') + f.path;
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile out(path);
            if (!out.open(QIODevice::WriteOnly)) {
                error = QStringLiteral("cannot write %1").arg(path);
                return {};
            }
            bool ok = true;
            produce(f, [&](const char *data, qint64 length) { ok = ok && out.write(data, length) == length; });
            if (!ok || !out.flush()) {
                error = QStringLiteral("cannot write %1").arg(path);
                return {};
            }
        }
        names << name;
    }
    return names;
}

} // namespace LargeGame
} // namespace Publisher
