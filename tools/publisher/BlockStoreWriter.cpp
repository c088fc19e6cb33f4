#include "BlockStoreWriter.h"

#include "FileWriter.h"
#include "util/Sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>
#include <zstd.h>

using Morvaniel::BlockDigest;
using Morvaniel::BlockIndex;
using Morvaniel::IndexBlock;
using Morvaniel::IndexBundle;
using Morvaniel::IndexRef;
using Morvaniel::Sha256;
using Morvaniel::BlockCutter::nextCut;

namespace Publisher {

namespace {

// How much of a file is cut, hashed and compressed at once.
constexpr qint64 BatchBytes = qint64(64) << 20;

// Runs fn(i, t) for i in [0, n) on up to threads threads; t numbers the thread.
template <typename Fn> void parallelFor(int n, int threads, const Fn &fn)
{
    threads = std::max(1, std::min(threads, n));
    if (threads == 1) {
        for (int i = 0; i < n; ++i)
            fn(i, 0);
        return;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int i = t; i < n; i += threads)
                fn(i, t);
        });
    for (std::thread &th : pool)
        th.join();
}

} // namespace

// One stretch of a file cut into blocks: hashed together, then the new ones
// compressed together.
class BlockStoreWriter::Batch
{
public:
    QByteArray data;
    struct Piece
    {
        int offset = 0;
        quint32 size = 0;
        BlockDigest digest;
        bool store = false; // first occurrence: compress and place it
        QByteArray packed;
    };
    std::vector<Piece> pieces;
};

BlockStoreWriter::BlockStoreWriter(const QString &channelDir, const BlockStoreOptions &options)
    : m_blocksDir(channelDir + QStringLiteral("/blocks"))
    , m_options(options)
{
    if (m_options.threads <= 0)
        m_options.threads = qMax(1, QThread::idealThreadCount());
}

BlockStoreWriter::~BlockStoreWriter()
{
    if (m_open.isOpen())
        m_open.remove();
}

bool BlockStoreWriter::addPublished(const BlockIndex &index, QString &error)
{
    const Morvaniel::CutParameters &c = index.cut;
    if (c.minSize != m_options.cut.minSize || c.avgSize != m_options.cut.avgSize
        || c.maxSize != m_options.cut.maxSize) {
        error = QStringLiteral("the published index of %1 was cut with other block sizes").arg(index.version);
        return false;
    }
    QVector<quint32> ordinal;
    for (const IndexBundle &b : index.bundles) {
        int at = 0;
        while (at < m_bundles.size() && m_bundles[at].digest != b.digest)
            ++at;
        if (at == m_bundles.size())
            m_bundles << b;
        ordinal << quint32(at);
    }
    for (const IndexBlock &b : index.blocks)
        m_stored.insert(b.digest, Stored{ ordinal[int(b.bundle)], b.bundleOffset, b.size, b.packedSize });
    return true;
}

bool BlockStoreWriter::addVersion(const VersionTree &tree, QString &error)
{
    if (!QDir().mkpath(m_blocksDir)) {
        error = QStringLiteral("cannot create %1").arg(m_blocksDir);
        return false;
    }
    PendingVersion version;
    version.version = tree.version;
    for (const TreeFile &f : tree.files) {
        PendingFile pending;
        pending.file.path = f.path;
        pending.file.size = f.size;
        pending.file.md5 = QByteArray::fromHex(f.md5.toLatin1());
        if (!addFile(tree.root + QLatin1Char('/') + f.path, pending, error))
            return false;
        m_figures.referencedBytes += f.size;
        version.files << pending;
    }
    m_versions << version;
    return true;
}

bool BlockStoreWriter::addFile(const QString &path, PendingFile &pending, QString &error)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
        return false;
    }
    const qint64 fileSize = in.size();
    if (fileSize != pending.file.size) {
        error = QStringLiteral("%1 changed while it was published").arg(path);
        return false;
    }
    const qint64 maxBlock = m_options.cut.maxSize;
    QByteArray carry; // the cut-off tail of the previous stretch
    qint64 read = 0;
    while (read < fileSize || !carry.isEmpty()) {
        Batch batch;
        batch.data = carry;
        const qint64 want = qMin(BatchBytes, fileSize - read);
        if (want > 0) {
            const int before = batch.data.size();
            batch.data.resize(before + int(want));
            if (in.read(batch.data.data() + before, want) != want) {
                error = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
                return false;
            }
            read += want;
        }
        const bool last = read == fileSize;
        // Cut while a whole largest block fits, or to the end at the file's end.
        const unsigned char *p = reinterpret_cast<const unsigned char *>(batch.data.constData());
        int at = 0;
        while (at < batch.data.size() && (last || batch.data.size() - at >= maxBlock)) {
            const quint32 n = quint32(nextCut(p + at, std::size_t(batch.data.size() - at), m_options.cut));
            Batch::Piece piece;
            piece.offset = at;
            piece.size = n;
            batch.pieces.push_back(piece);
            at += int(n);
        }
        carry = batch.data.mid(at);
        if (!commit(batch, pending, error))
            return false;
    }
    return true;
}

bool BlockStoreWriter::commit(Batch &batch, PendingFile &pending, QString &error)
{
    const int threads = m_options.threads;
    const char *base = batch.data.constData();
    parallelFor(int(batch.pieces.size()), threads, [&](int i, int) {
        Batch::Piece &piece = batch.pieces[std::size_t(i)];
        piece.digest = BlockDigest::of(base + piece.offset, piece.size);
    });
    // In order: the first occurrence of a digest is the one that is stored.
    QSet<BlockDigest> claimed;
    for (Batch::Piece &piece : batch.pieces) {
        piece.store = !m_stored.contains(piece.digest) && !claimed.contains(piece.digest);
        if (piece.store)
            claimed.insert(piece.digest);
    }
    const int level = m_options.level;
    while (int(m_packers.size()) < threads)
        m_packers.emplace_back(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    parallelFor(int(batch.pieces.size()), threads, [&](int i, int t) {
        Batch::Piece &piece = batch.pieces[std::size_t(i)];
        if (!piece.store)
            return;
        piece.packed.resize(int(ZSTD_compressBound(piece.size)));
        const size_t n = ZSTD_compressCCtx(m_packers[std::size_t(t)].get(), piece.packed.data(),
            std::size_t(piece.packed.size()), base + piece.offset, piece.size, level);
        piece.packed.resize(ZSTD_isError(n) ? 0 : int(n));
    });
    for (Batch::Piece &piece : batch.pieces) {
        pending.blocks << piece.digest;
        if (!piece.store)
            continue;
        if (piece.packed.isEmpty()) {
            error = QStringLiteral("zstd could not compress a block");
            return false;
        }
        Stored where;
        where.size = piece.size;
        if (!appendToBundle(piece.packed, where, error))
            return false;
        m_stored.insert(piece.digest, where);
        ++m_figures.blocks;
        m_figures.rawBytes += piece.size;
        piece.packed = QByteArray();
    }
    return true;
}

bool BlockStoreWriter::appendToBundle(const QByteArray &packed, Stored &where, QString &error)
{
    if (m_open.isOpen() && m_openSize > 0 && m_openSize + packed.size() > m_options.bundleSize && !closeBundle(error))
        return false;
    if (!m_open.isOpen()) {
        m_open.setFileName(m_blocksDir + QStringLiteral("/.bundle-%1.part").arg(m_bundles.size()));
        if (!m_open.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            error = QStringLiteral("cannot write %1: %2").arg(m_open.fileName(), m_open.errorString());
            return false;
        }
        m_openDigest = std::make_unique<Sha256>();
        m_openSize = 0;
    }
    if (m_open.write(packed) != packed.size()) {
        error = QStringLiteral("cannot write %1: %2").arg(m_open.fileName(), m_open.errorString());
        return false;
    }
    m_openDigest->addData(packed.constData(), std::size_t(packed.size()));
    where.bundle = quint32(m_bundles.size());
    where.offset = m_openSize;
    where.packedSize = quint32(packed.size());
    m_openSize += packed.size();
    return true;
}

bool BlockStoreWriter::closeBundle(QString &error)
{
    if (!m_open.isOpen())
        return true;
    IndexBundle bundle;
    m_openDigest->result(bundle.digest.bytes.data());
    bundle.size = m_openSize;
    const QString target
        = m_blocksDir + QLatin1Char('/') + BlockIndex::bundlePath(bundle.digest).section(QLatin1Char('/'), -1);
    if (!m_open.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(m_open.fileName(), m_open.errorString());
        return false;
    }
    m_open.close();
    if (!QFile::rename(m_open.fileName(), target)) {
        error = QStringLiteral("cannot move %1 to %2").arg(m_open.fileName(), target);
        return false;
    }
    m_bundles << bundle;
    m_written << QStringLiteral("blocks/") + QFileInfo(target).fileName();
    m_figures.storedBytes += bundle.size;
    ++m_figures.bundles;
    return true;
}

bool BlockStoreWriter::finishBundles(QString &error)
{
    return closeBundle(error);
}

bool BlockStoreWriter::writeIndexes(QString &error)
{
    for (const PendingVersion &v : qAsConst(m_versions))
        if (!writeIndex(v, error))
            return false;
    return true;
}

bool BlockStoreWriter::writeIndex(const PendingVersion &version, QString &error)
{
    BlockIndex index;
    index.version = version.version;
    index.cut = m_options.cut;
    QHash<BlockDigest, quint32> blockNumber;
    QHash<quint32, quint32> bundleNumber; // ordinal -> place in this index
    for (const PendingFile &pf : version.files) {
        Morvaniel::IndexFile f = pf.file;
        f.firstRef = quint32(index.refs.size());
        f.refCount = quint32(pf.blocks.size());
        qint64 offset = 0;
        for (const BlockDigest &d : pf.blocks) {
            auto it = blockNumber.constFind(d);
            if (it == blockNumber.constEnd()) {
                const Stored &s = m_stored[d];
                auto b = bundleNumber.constFind(s.bundle);
                if (b == bundleNumber.constEnd()) {
                    b = bundleNumber.insert(s.bundle, quint32(index.bundles.size()));
                    index.bundles << m_bundles[int(s.bundle)];
                }
                index.blocks << IndexBlock{ d, s.size, s.packedSize, b.value(), s.offset };
                it = blockNumber.insert(d, quint32(index.blocks.size() - 1));
            }
            index.refs << IndexRef{ offset, it.value() };
            offset += index.blocks[int(it.value())].size;
        }
        index.files << f;
    }
    QString why;
    if (!index.check(why)) {
        error = QStringLiteral("version %1: %2").arg(version.version, why);
        return false;
    }
    const QByteArray bytes = index.encode();
    m_figures.indexBytes += bytes.size();
    const QString name = BlockIndex::indexPath(version.version).section(QLatin1Char('/'), -1);
    m_written << QStringLiteral("blocks/") + name;
    return writeFileAtomically(m_blocksDir + QLatin1Char('/') + name, bytes, error);
}

} // namespace Publisher
