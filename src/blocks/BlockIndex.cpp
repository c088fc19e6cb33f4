#include "blocks/BlockIndex.h"

#include <QtEndian>

#include <algorithm>
#include <zstd.h>

namespace Morvaniel {

namespace {

const char Magic[8] = { 'M', 'V', 'B', 'L', 'K', 'I', 'X', '\1' };
constexpr quint32 DigestSha256 = 1;
constexpr int HeaderSize = 56;
constexpr int BundleRecord = 40;
constexpr int BlockRecord = 52;
constexpr int FileRecord = 40;
constexpr int RefRecord = 12;
// Fixed: the same index always gives the same bytes.
constexpr int CompressionLevel = 9;

class Writer
{
public:
    explicit Writer(QByteArray &out)
        : m_out(out)
    {
    }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        m_out.append(b, 4);
    }
    void u64(quint64 v)
    {
        char b[8];
        qToLittleEndian(v, b);
        m_out.append(b, 8);
    }
    void raw(const void *data, int length) { m_out.append(static_cast<const char *>(data), length); }

private:
    QByteArray &m_out;
};

// Reads fixed-size fields; the caller has checked that they are there.
class Reader
{
public:
    explicit Reader(const char *p)
        : m_p(p)
    {
    }
    quint32 u32()
    {
        const quint32 v = qFromLittleEndian<quint32>(m_p);
        m_p += 4;
        return v;
    }
    quint64 u64()
    {
        const quint64 v = qFromLittleEndian<quint64>(m_p);
        m_p += 8;
        return v;
    }
    const char *take(int n)
    {
        const char *p = m_p;
        m_p += n;
        return p;
    }

private:
    const char *m_p;
};

bool refuse(QString &error, const QString &why)
{
    error = QStringLiteral("block index refused: %1").arg(why);
    return false;
}

} // namespace

QString BlockIndex::indexPath(const QString &version)
{
    return QStringLiteral("blocks/%1.index").arg(version);
}

QString BlockIndex::bundlePath(const BlockDigest &digest)
{
    return QStringLiteral("blocks/%1.bundle").arg(digest.hex());
}

QByteArray BlockIndex::encodeRaw() const
{
    // Strings: the version, then every path, as UTF-8.
    QByteArray strings = version.toUtf8();
    const quint32 versionLength = quint32(strings.size());
    QVector<QPair<quint32, quint32>> pathRanges;
    for (const IndexFile &f : files) {
        const QByteArray p = f.path.toUtf8();
        pathRanges.append(qMakePair(quint32(strings.size()), quint32(p.size())));
        strings += p;
    }
    QByteArray out;
    out.reserve(HeaderSize + strings.size() + bundles.size() * BundleRecord + blocks.size() * BlockRecord
        + files.size() * FileRecord + refs.size() * RefRecord);
    Writer w(out);
    w.raw(Magic, 8);
    for (quint32 v :
        { Format, DigestSha256, cut.minSize, cut.avgSize, cut.maxSize, quint32(strings.size()), quint32(bundles.size()),
            quint32(blocks.size()), quint32(files.size()), quint32(refs.size()), versionLength, quint32(0) })
        w.u32(v);
    out += strings;
    for (const IndexBundle &b : bundles) {
        w.raw(b.digest.bytes.data(), 32);
        w.u64(quint64(b.size));
    }
    for (const IndexBlock &b : blocks) {
        w.raw(b.digest.bytes.data(), 32);
        w.u32(b.size);
        w.u32(b.packedSize);
        w.u32(b.bundle);
        w.u64(quint64(b.bundleOffset));
    }
    for (int i = 0; i < files.size(); ++i) {
        const IndexFile &f = files[i];
        w.u32(pathRanges[i].first);
        w.u32(pathRanges[i].second);
        w.u64(quint64(f.size));
        const QByteArray md5 = f.md5.leftJustified(16, '\0', true);
        w.raw(md5.constData(), 16);
        w.u32(f.firstRef);
        w.u32(f.refCount);
    }
    for (const IndexRef &r : refs) {
        w.u64(quint64(r.offset));
        w.u32(r.block);
    }
    return out;
}

QByteArray BlockIndex::encode() const
{
    const QByteArray raw = encodeRaw();
    QByteArray out(int(ZSTD_compressBound(size_t(raw.size()))), Qt::Uninitialized);
    const size_t n
        = ZSTD_compress(out.data(), size_t(out.size()), raw.constData(), size_t(raw.size()), CompressionLevel);
    if (ZSTD_isError(n))
        return QByteArray();
    out.truncate(int(n));
    return out;
}

bool BlockIndex::parse(const QByteArray &bytes, BlockIndex &out, QString &error)
{
    out = BlockIndex();
    if (bytes.size() > MaxIndexBytes)
        return refuse(error, QStringLiteral("%1 bytes, more than %2").arg(bytes.size()).arg(MaxIndexBytes));
    // One frame that declares its size, and nothing after it.
    const unsigned long long declared = ZSTD_getFrameContentSize(bytes.constData(), size_t(bytes.size()));
    if (declared == ZSTD_CONTENTSIZE_ERROR || declared == ZSTD_CONTENTSIZE_UNKNOWN)
        return refuse(error, QStringLiteral("no zstd frame of known size"));
    if (declared > quint64(MaxRawBytes))
        return refuse(error, QStringLiteral("it unpacks to %1 bytes, more than %2").arg(declared).arg(MaxRawBytes));
    if (ZSTD_findFrameCompressedSize(bytes.constData(), size_t(bytes.size())) != size_t(bytes.size()))
        return refuse(error, QStringLiteral("bytes after its frame, or a frame cut short"));
    QByteArray raw(int(declared), Qt::Uninitialized);
    const size_t n = ZSTD_decompress(raw.data(), size_t(raw.size()), bytes.constData(), size_t(bytes.size()));
    if (ZSTD_isError(n) || n != declared)
        return refuse(error, QStringLiteral("its frame does not unpack"));
    return parseRaw(raw, out, error);
}

bool BlockIndex::parseRaw(const QByteArray &raw, BlockIndex &out, QString &error)
{
    out = BlockIndex();
    if (raw.size() < HeaderSize || !std::equal(Magic, Magic + 8, raw.constData()))
        return refuse(error, QStringLiteral("no block index header"));
    Reader r(raw.constData() + 8);
    const quint32 format = r.u32();
    const quint32 digestKind = r.u32();
    CutParameters cut;
    cut.minSize = r.u32();
    cut.avgSize = r.u32();
    cut.maxSize = r.u32();
    const quint32 stringBytes = r.u32();
    const quint32 bundleCount = r.u32();
    const quint32 blockCount = r.u32();
    const quint32 fileCount = r.u32();
    const quint32 refCount = r.u32();
    const quint32 versionLength = r.u32();
    r.u32(); // reserved
    if (format != Format)
        return refuse(error, QStringLiteral("format %1, this program reads %2").arg(format).arg(Format));
    if (digestKind != DigestSha256)
        return refuse(error, QStringLiteral("unknown digest kind %1").arg(digestKind));
    for (quint32 count : { bundleCount, blockCount, fileCount, refCount })
        if (count > MaxCount)
            return refuse(error, QStringLiteral("%1 entries in one table, more than %2").arg(count).arg(MaxCount));
    const qint64 expected = qint64(HeaderSize) + stringBytes + qint64(bundleCount) * BundleRecord
        + qint64(blockCount) * BlockRecord + qint64(fileCount) * FileRecord + qint64(refCount) * RefRecord;
    if (expected != raw.size())
        return refuse(error, QStringLiteral("its tables need %1 bytes, it has %2").arg(expected).arg(raw.size()));
    if (versionLength > stringBytes)
        return refuse(error, QStringLiteral("its version lies outside its strings"));
    const char *strings = r.take(int(stringBytes));

    BlockIndex index;
    index.cut = cut;
    index.version = QString::fromUtf8(strings, int(versionLength));
    index.bundles.resize(int(bundleCount));
    for (IndexBundle &b : index.bundles) {
        b.digest = BlockDigest::fromRaw(r.take(32));
        b.size = qint64(qMin<quint64>(r.u64(), quint64(MaxBundleSize) + 1));
    }
    index.blocks.resize(int(blockCount));
    for (IndexBlock &b : index.blocks) {
        b.digest = BlockDigest::fromRaw(r.take(32));
        b.size = r.u32();
        b.packedSize = r.u32();
        b.bundle = r.u32();
        b.bundleOffset = qint64(qMin<quint64>(r.u64(), quint64(MaxBundleSize) + 1));
    }
    index.files.resize(int(fileCount));
    for (IndexFile &f : index.files) {
        const quint32 start = r.u32();
        const quint32 length = r.u32();
        if (quint64(start) + length > stringBytes || start < versionLength)
            return refuse(error, QStringLiteral("a path lies outside its strings"));
        if (length > quint32(MaxPathBytes))
            return refuse(error, QStringLiteral("a path of %1 bytes").arg(length));
        const QByteArray utf8(strings + start, int(length));
        f.path = QString::fromUtf8(utf8);
        // Invalid UTF-8 would come back as another text; two such paths could meet.
        if (f.path.toUtf8() != utf8)
            return refuse(error, QStringLiteral("a path that is not UTF-8"));
        f.size = qint64(qMin<quint64>(r.u64(), quint64(MaxFileSize) + 1));
        f.md5 = QByteArray(r.take(16), 16);
        f.firstRef = r.u32();
        f.refCount = r.u32();
    }
    index.refs.resize(int(refCount));
    for (IndexRef &ref : index.refs) {
        ref.offset = qint64(qMin<quint64>(r.u64(), quint64(MaxFileSize) + 1));
        ref.block = r.u32();
    }
    if (!index.check(error))
        return false;
    out = std::move(index);
    return true;
}

int BlockIndex::findFile(const QString &path) const
{
    const auto it = std::lower_bound(
        files.cbegin(), files.cend(), path, [](const IndexFile &f, const QString &p) { return f.path < p; });
    return it != files.cend() && it->path == path ? int(it - files.cbegin()) : -1;
}

qint64 BlockIndex::totalBytes() const
{
    qint64 total = 0;
    for (const IndexFile &f : files)
        total += f.size;
    return total;
}

} // namespace Morvaniel
