#pragma once

#include "ManifestText.h"
#include "VersionTree.h"
#include "blocks/BlockIndex.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace Publisher {

// What a channel's published layout holds, read back before it grows or shrinks.
struct PublishedLayout
{
    QVector<GuideLine> guide; // as the guide manifest lists it
    QString lastVersion;
    QStringList versions; // every version with a full pack, oldest first
    qint64 serial = -1; // of release.json; -1 when the channel is not signed
    bool hasBlocks = false;
    QVector<Morvaniel::BlockIndex> indexes; // one per version when hasBlocks
};

// Reads <outputDir>/<channel>: the guide manifest (every archive it names must
// lie inside the channel's folder and have its listed size), the signed
// release's serial and the block store's indexes. False with error set on
// anything a publication could not have written.
bool readPublishedLayout(const QString &outputDir, const QString &channel, PublishedLayout &layout, QString &error);

// Unpacks the full pack of a published version into folder with 7-Zip, after
// checking each archive's MD5 and size against the guide.
bool unpackFullPack(const QString &sevenZip, const QString &outputDir, const PublishedLayout &layout,
    const QString &version, const QString &folder, QString &error);

// True when tree is exactly what <outputDir>/<channel>/<version>/manifest.txt lists.
bool matchesFileManifest(const QString &outputDir, const QString &channel, const VersionTree &tree, QString &error);

} // namespace Publisher
