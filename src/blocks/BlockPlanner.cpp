#include "blocks/BlockPlan.h"

#include "util/Platform.h"

#include <QSet>

#include <algorithm>

namespace Morvaniel {

namespace {

// Two names of one file on this system are one key.
QString keyOf(const QString &path)
{
    return QString::fromStdString(Platform::FileNameKey(path.toStdString()));
}

// What the folder holds at one place, by the word of an index.
struct Claim
{
    qint64 offset = 0;
    quint32 size = 0;
    BlockDigest digest;
};

struct ClaimedFile
{
    QString path;
    QHash<qint64, int> byOffset; // offset -> index into claims
    QVector<Claim> claims;
};

struct Region
{
    qint64 begin;
    qint64 end;
    bool operator<(const Region &o) const { return begin < o.begin; }
};

bool overlaps(QVector<Region> a, QVector<Region> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].end <= b[j].begin)
            ++i;
        else if (b[j].end <= a[i].begin)
            ++j;
        else
            return true;
    }
    return false;
}

class Planner
{
public:
    Planner(const BlockIndex &target, const BlockIndex *installed, const LocalFolderState &local,
        const PlanOptions &options)
        : t(target)
        , old(installed)
        , local(local)
        , options(options)
    {
    }

    BlockPlan run()
    {
        repair = !options.repairFiles.isEmpty();
        for (const IndexFile &f : t.files) {
            targetKeys.insert(keyOf(f.path));
            targetFolded.insert(f.path.toCaseFolded());
            for (int slash = f.path.indexOf(QLatin1Char('/')); slash > 0;
                 slash = f.path.indexOf(QLatin1Char('/'), slash + 1))
                targetFolders.insert(keyOf(f.path.left(slash)));
        }
        collectClaims();
        for (int i = 0; i < t.files.size(); ++i)
            if (!repair || options.repairFiles.contains(t.files[i].path))
                planFile(quint32(i));
        decideStaging();
        listObsolete();
        finishCost();
        return std::move(plan);
    }

private:
    void addClaims(const QString &path, const BlockIndex &index, const IndexFile &f, qint64 limit)
    {
        ClaimedFile &c = claimed[keyOf(path)];
        c.path = path;
        for (quint32 k = 0; k < f.refCount; ++k) {
            const IndexRef &ref = index.refs[int(f.firstRef + k)];
            const IndexBlock &b = index.blocks[int(ref.block)];
            if (ref.offset + b.size > limit)
                break;
            c.byOffset.insert(ref.offset, c.claims.size());
            c.claims.append(Claim{ ref.offset, b.size, b.digest });
            if (!sourceOf.contains(b.digest))
                sourceOf.insert(b.digest, qMakePair(keyOf(path), ref.offset));
        }
    }

    // A file whose place a target file or folder needs cannot serve as a source.
    bool inTheWay(const QString &path) const
    {
        const QString key = keyOf(path);
        if (targetFolders.contains(key))
            return true;
        for (int slash = path.indexOf(QLatin1Char('/')); slash > 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
            if (targetKeys.contains(keyOf(path.left(slash))))
                return true;
        return false;
    }

    void collectClaims()
    {
        if (repair) {
            // What the target says is where, for every file: intact files lend
            // their blocks, damaged ones keep what still matches.
            for (const IndexFile &f : t.files) {
                const qint64 size = local.sizeOf(f.path);
                const bool repaired = options.repairFiles.contains(f.path);
                if (size >= 0 && (repaired || size == f.size))
                    addClaims(f.path, t, f, repaired ? size : f.size);
            }
            return;
        }
        if (!old)
            return;
        for (const IndexFile &f : old->files) {
            const qint64 size = local.sizeOf(f.path);
            if (size < 0)
                continue;
            if (inTheWay(f.path)) {
                plan.inTheWay << f.path;
                continue;
            }
            if (size == f.size)
                addClaims(f.path, *old, f, f.size);
        }
    }

    void planFile(quint32 number)
    {
        const IndexFile &f = t.files[int(number)];
        PlanFile pf;
        pf.file = number;
        const qint64 size = local.sizeOf(f.path);
        pf.exists = size >= 0;
        const auto own = claimed.constFind(keyOf(f.path));
        bool allKept = true;
        for (quint32 k = 0; k < f.refCount; ++k) {
            const quint32 refNumber = f.firstRef + k;
            const IndexRef &ref = t.refs[int(refNumber)];
            const IndexBlock &b = t.blocks[int(ref.block)];
            PlanPiece piece;
            piece.ref = refNumber;
            if (own != claimed.constEnd()) {
                const auto at = own->byOffset.constFind(ref.offset);
                if (at != own->byOffset.constEnd() && own->claims[at.value()].digest == b.digest) {
                    piece.source = PieceSource::Keep;
                    pf.pieces.append(piece);
                    continue;
                }
            }
            allKept = false;
            const auto src = sourceOf.constFind(b.digest);
            if (src != sourceOf.constEnd()) {
                piece.source = PieceSource::Copy;
                piece.sourceFile = sourceNumber(src.value().first);
                piece.sourceOffset = src.value().second;
            } else {
                piece.source = PieceSource::Fetch;
            }
            pf.pieces.append(piece);
        }
        // An update leaves a file alone that is already what the target says.
        if (!repair && allKept && size == f.size)
            return;
        plan.files.append(pf);
    }

    quint32 sourceNumber(const QString &key)
    {
        const auto it = sourceNumbers.constFind(key);
        if (it != sourceNumbers.constEnd())
            return it.value();
        const quint32 n = quint32(plan.sources.size());
        plan.sources.append(claimed[key].path);
        sourceNumbers.insert(key, n);
        return n;
    }

    void decideStaging()
    {
        // Regions of the folder's files that Copy pieces read.
        QHash<QString, QVector<Region>> read;
        for (const PlanFile &pf : qAsConst(plan.files))
            for (const PlanPiece &p : pf.pieces)
                if (p.source == PieceSource::Copy)
                    read[keyOf(plan.sources[int(p.sourceFile)])].append(
                        Region{ p.sourceOffset, p.sourceOffset + t.blocks[int(t.refs[int(p.ref)].block)].size });
        for (PlanFile &pf : plan.files) {
            const IndexFile &f = t.files[int(pf.file)];
            const auto sources = read.constFind(keyOf(f.path));
            if (!pf.exists || sources == read.constEnd())
                continue;
            QVector<Region> written;
            for (const PlanPiece &p : qAsConst(pf.pieces))
                if (p.source != PieceSource::Keep) {
                    const IndexRef &ref = t.refs[int(p.ref)];
                    written.append(Region{ ref.offset, ref.offset + t.blocks[int(ref.block)].size });
                }
            const qint64 size = local.sizeOf(f.path);
            if (size > f.size)
                written.append(Region{ f.size, size });
            if (!overlaps(written, sources.value()))
                continue;
            // Built beside: what stays must be copied into the new file too.
            pf.staged = true;
            const quint32 self = sourceNumber(keyOf(f.path));
            for (PlanPiece &p : pf.pieces)
                if (p.source == PieceSource::Keep) {
                    p.source = PieceSource::Copy;
                    p.sourceFile = self;
                    p.sourceOffset = t.refs[int(p.ref)].offset;
                }
        }
        if (!options.checkInPlace && !repair)
            for (PlanFile &pf : plan.files)
                pf.pieces.erase(std::remove_if(pf.pieces.begin(), pf.pieces.end(),
                                    [](const PlanPiece &p) { return p.source == PieceSource::Keep; }),
                    pf.pieces.end());
        QSet<quint32> fetched;
        for (const PlanFile &pf : qAsConst(plan.files))
            for (const PlanPiece &p : pf.pieces)
                if (p.source == PieceSource::Fetch)
                    fetched.insert(t.refs[int(p.ref)].block);
        plan.fetchBlocks = QVector<quint32>(fetched.cbegin(), fetched.cend());
        std::sort(plan.fetchBlocks.begin(), plan.fetchBlocks.end(), [this](quint32 a, quint32 b) {
            return std::make_pair(t.blocks[int(a)].bundle, t.blocks[int(a)].bundleOffset)
                < std::make_pair(t.blocks[int(b)].bundle, t.blocks[int(b)].bundleOffset);
        });
    }

    void listObsolete()
    {
        if (repair || !old)
            return;
        for (const IndexFile &f : old->files) {
            if (local.sizeOf(f.path) < 0 || plan.inTheWay.contains(f.path) || t.findFile(f.path) >= 0)
                continue;
            if (targetKeys.contains(keyOf(f.path)) || targetFolded.contains(f.path.toCaseFolded()))
                plan.caseTwins << f.path;
            else
                plan.obsolete << f.path;
        }
    }

    void finishCost()
    {
        BlockCost &c = plan.cost;
        c.targetBytes = t.totalBytes();
        for (const PlanFile &pf : qAsConst(plan.files)) {
            const qint64 size = t.files[int(pf.file)].size;
            const qint64 present = qMax<qint64>(0, local.sizeOf(t.files[int(pf.file)].path));
            // A staged file stands beside the old one until the end; a file
            // written in place grows to its size (files are made whole at once).
            c.diskBytes += pf.staged ? size : qMax<qint64>(0, size - present);
            if (pf.staged)
                c.stagedBytes += size;
            for (const PlanPiece &p : pf.pieces) {
                const qint64 size = t.blocks[int(t.refs[int(p.ref)].block)].size;
                if (p.source == PieceSource::Keep)
                    c.checkBytes += size;
                else
                    c.writeBytes += size;
                if (p.source == PieceSource::Copy)
                    c.copyBytes += size;
            }
        }
        for (const BundleRequest &r : GroupBundleRequests(t, plan.fetchBlocks, options.shape)) {
            c.fetchBytes += r.bytes();
            ++c.requests;
        }
        c.fetchBlocks = plan.fetchBlocks.size();
        c.deleteFiles = plan.obsolete.size() + plan.inTheWay.size();
        c.patchChainBytes = options.patchChainBytes;
        c.preferBlocks = options.patchChainBytes < 0 || c.fetchBytes <= options.patchChainBytes;
    }

    const BlockIndex &t;
    const BlockIndex *old;
    const LocalFolderState &local;
    const PlanOptions &options;
    bool repair = false;
    BlockPlan plan;
    QSet<QString> targetKeys;
    QSet<QString> targetFolded; // where letter case does not tell files apart somewhere
    QSet<QString> targetFolders;
    QHash<QString, ClaimedFile> claimed; // by key
    QHash<BlockDigest, QPair<QString, qint64>> sourceOf; // first claim of a digest: key, offset
    QHash<QString, quint32> sourceNumbers; // key -> index into plan.sources
};

} // namespace

BlockPlan PlanBlocks(
    const BlockIndex &target, const BlockIndex *installed, const LocalFolderState &local, const PlanOptions &options)
{
    return Planner(target, installed, local, options).run();
}

QStringList PlannedPaths(const BlockIndex &target, const BlockIndex *installed)
{
    QStringList paths;
    for (const IndexFile &f : target.files)
        paths << f.path;
    if (installed)
        for (const IndexFile &f : installed->files)
            if (target.findFile(f.path) < 0)
                paths << f.path;
    return paths;
}

} // namespace Morvaniel
