#include "manifest/FileManifest.h"

#include <QVector>

namespace Morvaniel {

FileManifestEntry parseFileManifestLine(const QString &line)
{
    const QVector<QStringRef> fields = line.splitRef(QLatin1Char('|'));
    FileManifestEntry entry;
    entry.path = fields.value(0).toString();
    entry.md5 = fields.value(1).toString();
    bool ok = false;
    const quint64 size = fields.value(2).toULongLong(&ok);
    entry.size = ok ? size : 0;
    return entry;
}

FileManifest parseFileManifest(const QString &text)
{
    FileManifest manifest;
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (const QStringRef &raw : lines) {
        const QString line = raw.toString().simplified();
        if (line.isEmpty())
            continue;
        FileManifestEntry entry = parseFileManifestLine(line);
        const QString key = entry.path;
        manifest.insert(key, std::move(entry));
    }
    return manifest;
}

QStringList fileManifestPaths(const FileManifest &manifest)
{
    return manifest.keys();
}

} // namespace Morvaniel
