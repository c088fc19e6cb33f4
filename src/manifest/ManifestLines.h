#pragma once

#include <QString>
#include <QVector>

namespace Morvaniel {

struct FileManifestEntry;

// Line handling that every manifest format shares.
namespace ManifestLines {

// Splits at line feeds and simplifies each piece (outer white space removed,
// inner runs made one blank); pieces that end up empty are dropped.
QVector<QString> split(const QString &text);

// A decimal unsigned 64-bit number; anything else, overflow included, is 0.
quint64 parseSize(const QString &field);

// Adds b to a, sticking at the largest value instead of wrapping round: a
// wrapped total would make a huge package look small to the planners.
quint64 addSaturated(quint64 a, quint64 b);

// One "path|md5|size" line; missing fields are empty, extra fields ignored.
FileManifestEntry parseEntry(const QString &line);

} // namespace ManifestLines
} // namespace Morvaniel
