#pragma once

#include "VersionTree.h"
#include "blocks/BlockCutter.h"
#include "blocks/BlockIndex.h"

#include <QFile>
#include <QHash>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

struct ZSTD_CCtx_s;

namespace Morvaniel {
class Sha256;
}

namespace Publisher {

struct BlockStoreOptions
{
    Morvaniel::CutParameters cut = Morvaniel::CutParameters::standard();
    int level = 3; // zstd level of every block
    qint64 bundleSize = qint64(4) << 20; // bundles close before they would pass this
    int threads = 0; // 0: one per core
};

struct BlockStoreFigures
{
    qint64 blocks = 0; // distinct blocks stored
    qint64 bundles = 0;
    qint64 storedBytes = 0; // bundle bytes
    qint64 rawBytes = 0; // bytes of the stored blocks before compression
    qint64 indexBytes = 0;
    qint64 referencedBytes = 0; // file bytes of every version added
    double seconds = 0; // wall time the store took
    double processorSeconds = 0; // processor time of this process meanwhile (POSIX; wall time on Windows)
};

// Writes a channel's block store (docs/server-layout.md): every version's
// files cut into blocks, each distinct block compressed once into bundle
// files below <channelDir>/blocks/, and one index per version. Add the
// versions newest first, so that a fresh install of the newest reads its
// bundles from end to end. Same input, same bytes: the work runs on several
// threads, but blocks are placed in the order of the versions and files.
class BlockStoreWriter
{
public:
    BlockStoreWriter(const QString &channelDir, const BlockStoreOptions &options);
    ~BlockStoreWriter();
    BlockStoreWriter(const BlockStoreWriter &) = delete;
    BlockStoreWriter &operator=(const BlockStoreWriter &) = delete;

    // A version already on the server: its blocks are stored where its index
    // says and are never written again; its bundles and index stay untouched.
    // Call before addVersion.
    bool addPublished(const Morvaniel::BlockIndex &index, QString &error);
    bool addVersion(const VersionTree &tree, QString &error);
    // Closes the last bundle; then writes the index of every added version.
    bool finishBundles(QString &error);
    bool writeIndexes(QString &error);
    const BlockStoreFigures &figures() const { return m_figures; }
    // Bundles and indexes written, relative to the channel's folder, in order.
    const QStringList &written() const { return m_written; }

private:
    struct Stored
    {
        quint32 bundle = 0; // ordinal of the bundle while bundles are open
        qint64 offset = 0;
        quint32 size = 0;
        quint32 packedSize = 0;
    };
    struct PendingFile
    {
        Morvaniel::IndexFile file;
        QVector<Morvaniel::BlockDigest> blocks;
    };
    struct PendingVersion
    {
        QString version;
        QVector<PendingFile> files;
    };
    class Batch;

    bool addFile(const QString &path, PendingFile &pending, QString &error);
    bool commit(Batch &batch, PendingFile &pending, QString &error);
    bool appendToBundle(const QByteArray &packed, Stored &where, QString &error);
    bool closeBundle(QString &error);
    bool writeIndex(const PendingVersion &version, QString &error);

    QString m_blocksDir;
    BlockStoreOptions m_options;
    QHash<Morvaniel::BlockDigest, Stored> m_stored;
    QVector<PendingVersion> m_versions;
    QVector<Morvaniel::IndexBundle> m_bundles; // closed bundles by ordinal
    QFile m_open; // the bundle being filled
    std::unique_ptr<Morvaniel::Sha256> m_openDigest;
    qint64 m_openSize = 0;
    BlockStoreFigures m_figures;
    QStringList m_written;
    // One zstd context per thread number of the batches.
    std::vector<std::unique_ptr<ZSTD_CCtx_s, size_t (*)(ZSTD_CCtx_s *)>> m_packers;
};

} // namespace Publisher
