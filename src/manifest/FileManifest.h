#pragma once

#include "core/MorvanielGlobal.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace Morvaniel {

// One line of a file manifest: a file relative to the folder the manifest describes.
struct FileManifestEntry
{
    QString path; // exactly as written; not checked here, callers refuse unsafe paths
    QString md5;
    quint64 size = 0;
};

// Keyed by path; QMap orders by UTF-16 code units, which is the processing order.
using FileManifest = QMap<QString, FileManifestEntry>;

// "path|md5|size" per line. Never fails: blank lines are skipped, missing
// fields are empty, a size that is no number is 0, a later line for the same
// path replaces the earlier one.
MORVANIEL_EXPORT FileManifest parseFileManifest(const QString &text);

// The paths of the map in key order.
MORVANIEL_EXPORT QStringList fileManifestPaths(const FileManifest &manifest);

} // namespace Morvaniel
