#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace Publisher {

// A game of realistic shape and any size, for benchmarks and the block
// store's measurements: pak files of assets (noise-like textures and sounds,
// compressible meshes and text), a few large movies and many small loose
// files. From one version to the next, as real game updates do, some assets
// are replaced by ones of another size, inserted, deleted and moved inside
// their pak (everything behind shifts), a few regions are rewritten in
// place, the pak's table at its end changes, and some small files change,
// come and go. Everything follows from the version index and the size: the
// same arguments always give the same bytes.
namespace LargeGame {

// A region of an asset rewritten in place by a later version.
struct Edit
{
    quint32 offset = 0;
    quint32 length = 0;
    quint64 seed = 0;
};

struct Asset
{
    quint64 seed = 0;
    quint32 size = 0;
    bool compressible = false;
    QVector<Edit> edits;
};

struct File
{
    QString path;
    QVector<Asset> assets; // laid out one after the other, each behind a 32-byte header
    quint64 tableSeed = 0; // a pak's table at its end (48 bytes an asset); 0: none
    qint64 size() const;
};

using Version = QVector<File>;

// Version index 0, 1, ... of a game of about totalBytes.
Version version(qint64 totalBytes, int index);

// The bytes of a file, handed to sink in pieces of at most 4 MiB.
void produce(const File &file, const std::function<void(const char *data, qint64 length)> &sink);

// Writes versionCount version folders ("1.0.0.1", ...) of a game of about
// totalBytes below root. Returns the version names, or an empty list with error set.
QStringList generate(const QString &root, int versionCount, qint64 totalBytes, QString &error);

} // namespace LargeGame

} // namespace Publisher
