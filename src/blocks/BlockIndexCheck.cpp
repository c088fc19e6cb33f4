// The rules every block index keeps; BlockIndex::parse applies them to what
// the server sent before anyone acts on it.
#include "blocks/BlockIndex.h"

#include "manifest/ManifestPathCheck.h"

#include <QSet>

#include <algorithm>
#include <zstd.h>

namespace Morvaniel {

namespace {

bool refuse(QString &error, const QString &why)
{
    error = QStringLiteral("block index refused: %1").arg(why);
    return false;
}

// Stricter than the manifests' rule: one spelling per file, so that two
// entries can be compared as text, and names Windows keeps as they are.
bool isCanonicalPath(const QString &path)
{
    if (!IsSafeManifestPath(path) || path.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    for (const QStringRef &segment : path.splitRef(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
        if (segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')))
            return false;
    }
    return true;
}

bool isVersionText(const QString &version)
{
    if (version.isEmpty() || version.size() > 64)
        return false;
    for (const QChar c : version)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('.') && c != QLatin1Char('-')
            && c != QLatin1Char('_'))
            return false;
    return true;
}

} // namespace

bool BlockIndex::check(QString &error) const
{
    if (!isVersionText(version))
        return refuse(error, QStringLiteral("its version \"%1\" is no version").arg(version));
    if (!cut.isValid())
        return refuse(error,
            QStringLiteral("its cut sizes %1/%2/%3 are unusable").arg(cut.minSize).arg(cut.avgSize).arg(cut.maxSize));
    for (const QVector<int>::size_type count : { bundles.size(), blocks.size(), files.size(), refs.size() })
        if (quint64(count) > MaxCount)
            return refuse(error, QStringLiteral("more than %1 entries in one table").arg(MaxCount));

    QSet<BlockDigest> seen;
    for (const IndexBundle &b : bundles) {
        if (b.size < 1 || b.size > MaxBundleSize)
            return refuse(error, QStringLiteral("bundle %1 has %2 bytes").arg(b.digest.hex()).arg(b.size));
        if (seen.contains(b.digest))
            return refuse(error, QStringLiteral("bundle %1 is listed twice").arg(b.digest.hex()));
        seen.insert(b.digest);
    }

    seen.clear();
    QVector<int> byPlace(blocks.size());
    for (int i = 0; i < blocks.size(); ++i) {
        const IndexBlock &b = blocks[i];
        byPlace[i] = i;
        if (b.size < 1 || b.size > cut.maxSize || b.size > MaxBlockSize)
            return refuse(error, QStringLiteral("block %1 has %2 bytes").arg(b.digest.hex()).arg(b.size));
        if (b.packedSize < 1 || b.packedSize > ZSTD_compressBound(b.size))
            return refuse(
                error, QStringLiteral("block %1 is packed into %2 bytes").arg(b.digest.hex()).arg(b.packedSize));
        if (b.bundle >= quint32(bundles.size()))
            return refuse(error, QStringLiteral("block %1 lies in no listed bundle").arg(b.digest.hex()));
        if (b.bundleOffset < 0 || b.bundleOffset > bundles[int(b.bundle)].size - b.packedSize)
            return refuse(error, QStringLiteral("block %1 reaches past the end of its bundle").arg(b.digest.hex()));
        if (seen.contains(b.digest))
            return refuse(error, QStringLiteral("block %1 is listed twice").arg(b.digest.hex()));
        seen.insert(b.digest);
    }
    // No two blocks share bytes of a bundle.
    std::sort(byPlace.begin(), byPlace.end(), [this](int a, int b) {
        return std::make_pair(blocks[a].bundle, blocks[a].bundleOffset)
            < std::make_pair(blocks[b].bundle, blocks[b].bundleOffset);
    });
    for (int i = 1; i < byPlace.size(); ++i) {
        const IndexBlock &prev = blocks[byPlace[i - 1]];
        const IndexBlock &cur = blocks[byPlace[i]];
        if (prev.bundle == cur.bundle && prev.bundleOffset + prev.packedSize > cur.bundleOffset)
            return refuse(error,
                QStringLiteral("blocks %1 and %2 overlap in their bundle").arg(prev.digest.hex(), cur.digest.hex()));
    }

    QSet<QString> folded;
    quint64 nextRef = 0;
    for (int i = 0; i < files.size(); ++i) {
        const IndexFile &f = files[i];
        if (!isCanonicalPath(f.path) || f.path.toUtf8().size() > MaxPathBytes)
            return refuse(error, QStringLiteral("it names %1, which is no path inside the game folder").arg(f.path));
        if (i > 0 && !(files[i - 1].path < f.path))
            return refuse(error,
                files[i - 1].path == f.path ? QStringLiteral("it lists %1 twice").arg(f.path)
                                            : QStringLiteral("its files are out of order at %1").arg(f.path));
        const QString key = f.path.toCaseFolded();
        if (folded.contains(key))
            return refuse(error, QStringLiteral("it lists %1 twice in different letter case").arg(f.path));
        folded.insert(key);
        if (f.size < 0 || f.size > MaxFileSize)
            return refuse(error, QStringLiteral("%1 has %2 bytes").arg(f.path).arg(f.size));
        if (f.md5.size() != 16)
            return refuse(error, QStringLiteral("%1 has no MD5").arg(f.path));
        if (f.firstRef != nextRef || quint64(f.refCount) > quint64(refs.size()) - nextRef)
            return refuse(error, QStringLiteral("the blocks of %1 are not the next ones listed").arg(f.path));
        qint64 offset = 0;
        for (quint32 k = 0; k < f.refCount; ++k) {
            const IndexRef &ref = refs[int(f.firstRef + k)];
            if (ref.block >= quint32(blocks.size()))
                return refuse(error, QStringLiteral("%1 names a block that is not listed").arg(f.path));
            if (ref.offset != offset)
                return refuse(error,
                    ref.offset < offset
                        ? QStringLiteral("blocks of %1 overlap at offset %2").arg(f.path).arg(ref.offset)
                        : QStringLiteral("blocks of %1 leave a gap at offset %2").arg(f.path).arg(offset));
            offset += blocks[int(ref.block)].size;
            if (offset > f.size)
                break;
        }
        if (offset != f.size)
            return refuse(
                error, QStringLiteral("the blocks of %1 make %2 bytes, it has %3").arg(f.path).arg(offset).arg(f.size));
        nextRef += f.refCount;
    }
    if (nextRef != quint64(refs.size()))
        return refuse(error, QStringLiteral("%1 block places belong to no file").arg(quint64(refs.size()) - nextRef));
    // A file cannot also be a folder of another.
    for (const IndexFile &f : files) {
        const QString key = f.path.toCaseFolded();
        for (int slash = key.indexOf(QLatin1Char('/')); slash > 0; slash = key.indexOf(QLatin1Char('/'), slash + 1))
            if (folded.contains(key.left(slash)))
                return refuse(error, QStringLiteral("%1 would lie inside the file %2").arg(f.path, key.left(slash)));
    }
    return true;
}

} // namespace Morvaniel
