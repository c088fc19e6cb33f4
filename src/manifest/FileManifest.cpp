#include "manifest/FileManifest.h"

#include <QVector>

namespace Morvaniel {

FileManifest parseFileManifest(const QString &text)
{
    FileManifest manifest;
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (const QStringRef &raw : lines) {
        const QString line = raw.toString().simplified();
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(QLatin1Char('|'));
        FileManifestEntry entry;
        entry.path = fields.value(0);
        entry.md5 = fields.value(1);
        bool ok = false;
        const quint64 size = fields.value(2).toULongLong(&ok, 10);
        entry.size = ok ? size : 0;
        manifest.insert(entry.path, entry);
    }
    return manifest;
}

QStringList fileManifestPaths(const FileManifest &manifest)
{
    return manifest.keys();
}

} // namespace Morvaniel
