#include "manifest/PatchManifest.h"

#include "manifest/ManifestLines.h"

#include <QHash>

namespace Morvaniel {

namespace {

const QString DelMarker = QStringLiteral("--del_file--");
const QString NewMarker = QStringLiteral("--new_file--");
const QString PatchMarker = QStringLiteral("--patch_file--");

} // namespace

PatchManifest parsePatchManifest(const QString &text)
{
    PatchManifest manifest;
    // Lower-cased delete path -> the path as the latest such delete line wrote it.
    QHash<QString, QString> deletedByLowerPath;
    QVector<QString> newLowerPaths;
    FileManifest *section = nullptr;
    for (const QString &line : ManifestLines::split(text)) {
        if (line == DelMarker) {
            section = &manifest.delFiles;
            continue;
        }
        if (line == NewMarker) {
            section = &manifest.newFiles;
            continue;
        }
        if (line == PatchMarker) {
            section = &manifest.patchFiles;
            continue;
        }
        if (!section)
            continue;
        FileManifestEntry entry = ManifestLines::parseEntry(line);
        if (section == &manifest.delFiles)
            deletedByLowerPath.insert(entry.path.toLower(), entry.path);
        else if (section == &manifest.newFiles)
            newLowerPaths.append(entry.path.toLower());
        const QString key = entry.path;
        section->insert(key, std::move(entry));
    }
    for (const QString &lower : qAsConst(newLowerPaths)) {
        const auto found = deletedByLowerPath.constFind(lower);
        if (found != deletedByLowerPath.constEnd())
            manifest.delFiles.remove(found.value());
    }
    return manifest;
}

} // namespace Morvaniel
