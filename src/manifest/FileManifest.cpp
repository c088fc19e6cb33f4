#include "manifest/FileManifest.h"

#include "manifest/ManifestLines.h"

namespace Morvaniel {

FileManifest parseFileManifest(const QString &text)
{
    FileManifest manifest;
    for (const QString &line : ManifestLines::split(text)) {
        FileManifestEntry entry = ManifestLines::parseEntry(line);
        const QString key = entry.path;
        manifest.insert(key, std::move(entry));
    }
    return manifest;
}

QStringList fileManifestPaths(const FileManifest &manifest)
{
    QStringList paths;
    paths.reserve(manifest.size());
    for (const FileManifestEntry &entry : manifest)
        paths.append(entry.path);
    return paths;
}

} // namespace Morvaniel
