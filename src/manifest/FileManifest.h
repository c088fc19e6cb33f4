#pragma once

#include "MorvanielGlobal.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace Morvaniel {

// One line of a file manifest: a file relative to the manifest's root.
struct FileManifestEntry
{
    QString path;
    QString md5;
    quint64 size = 0;
};

// Keyed by path; iteration follows plain UTF-16 order, so "B" comes before "a".
using FileManifest = QMap<QString, FileManifestEntry>;

// Reads "path|md5|size" lines. Never fails: a malformed line becomes an entry
// with empty or zero fields, and the caller decides what that means.
FileManifest parseFileManifest(const QString &text);

// The paths of the entries, in key order.
QStringList fileManifestPaths(const FileManifest &manifest);

} // namespace Morvaniel
