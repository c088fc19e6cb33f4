#pragma once

#include "MorvanielGlobal.h"
#include "blocks/BlockCutter.h"
#include "blocks/BlockDigest.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Morvaniel {

// A bundle file of the block store: compressed blocks one after the other,
// named by the SHA-256 of its bytes.
struct IndexBundle
{
    BlockDigest digest;
    qint64 size = 0;
};

// One distinct block: its digest and size before compression, and where its
// zstd frame lies in which bundle.
struct IndexBlock
{
    BlockDigest digest;
    quint32 size = 0;
    quint32 packedSize = 0;
    quint32 bundle = 0;
    qint64 bundleOffset = 0;
};

// One place of a block in a file.
struct IndexRef
{
    qint64 offset = 0;
    quint32 block = 0;
};

// A file of the version: refs[firstRef, firstRef + refCount) lay it out from
// offset 0 to its size, in order, without gap or overlap.
struct IndexFile
{
    QString path; // relative to the game folder, "/"-separated
    qint64 size = 0;
    QByteArray md5; // 16 raw bytes, as the file manifest has it in hex
    quint32 firstRef = 0;
    quint32 refCount = 0;
};

// The block index of one published version: every file as blocks, every
// block once with its place in a bundle. <channel>/blocks/<version>.index on
// the server, a zstd frame around the binary layout docs/server-layout.md
// describes. parse() refuses anything that breaks a rule (sizes that
// disagree, gaps, overlaps, paths outside the game folder, repeated files,
// limits) before a caller can act on it.
class MORVANIEL_EXPORT BlockIndex
{
public:
    static constexpr quint32 Format = 1;
    // Limits a parsed index stays within.
    static constexpr qint64 MaxIndexBytes = qint64(64) << 20; // as fetched
    static constexpr qint64 MaxRawBytes = qint64(256) << 20; // decompressed
    static constexpr quint32 MaxCount = 1u << 24; // files, blocks, bundles, refs each
    static constexpr quint32 MaxBlockSize = 1u << 26;
    static constexpr qint64 MaxBundleSize = qint64(1) << 32;
    static constexpr qint64 MaxFileSize = qint64(1) << 50;
    static constexpr int MaxPathBytes = 4096;

    QString version;
    CutParameters cut;
    QVector<IndexBundle> bundles;
    QVector<IndexBlock> blocks;
    QVector<IndexFile> files; // sorted by path, as the manifests are
    QVector<IndexRef> refs;

    // Paths below the channel's folder.
    static QString indexPath(const QString &version);
    static QString bundlePath(const BlockDigest &digest);

    QByteArray encode() const; // zstd frame, as published
    QByteArray encodeRaw() const;
    // Both check every rule; on failure out is left empty and error says why.
    static bool parse(const QByteArray &bytes, BlockIndex &out, QString &error);
    static bool parseRaw(const QByteArray &raw, BlockIndex &out, QString &error);
    // The rules alone, for an index built in memory.
    bool check(QString &error) const;

    int findFile(const QString &path) const; // -1 when absent
    qint64 totalBytes() const;
};

} // namespace Morvaniel
