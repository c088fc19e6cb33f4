#include "manifest/PatchManifest.h"

#include "manifest/ManifestLines.h"

#include <QSet>

namespace Morvaniel {

namespace {

const QString DelMarker = QStringLiteral("--del_file--");
const QString NewMarker = QStringLiteral("--new_file--");
const QString PatchMarker = QStringLiteral("--patch_file--");

} // namespace

PatchManifest parsePatchManifest(const QString &text)
{
    PatchManifest manifest;
    QSet<QString> newLowerPaths;
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
        if (section == &manifest.newFiles)
            newLowerPaths.insert(entry.path.toLower());
        const QString key = entry.path;
        section->insert(key, std::move(entry));
    }
    // New files are copied in before deletions run, and the game's file system
    // ignores letter case: every delete line naming a new file in any spelling
    // would remove the fresh copy, not only the last such line.
    for (auto it = manifest.delFiles.begin(); it != manifest.delFiles.end();) {
        if (newLowerPaths.contains(it.key().toLower()))
            it = manifest.delFiles.erase(it);
        else
            ++it;
    }
    return manifest;
}

} // namespace Morvaniel
