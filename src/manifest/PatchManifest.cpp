#include "manifest/PatchManifest.h"

#include <QHash>
#include <QVector>

namespace Morvaniel {

PatchManifest parsePatchManifest(const QString &text)
{
    PatchManifest result;
    FileManifest ignored;
    FileManifest *section = &ignored;
    QHash<QString, QString> deletedByLower;
    QStringList newLower;
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (const QStringRef &raw : lines) {
        const QString line = raw.toString().simplified();
        if (line.isEmpty())
            continue;
        if (line == QLatin1String("--del_file--")) {
            section = &result.delFiles;
            continue;
        }
        if (line == QLatin1String("--new_file--")) {
            section = &result.newFiles;
            continue;
        }
        if (line == QLatin1String("--patch_file--")) {
            section = &result.patchFiles;
            continue;
        }
        FileManifestEntry entry = parseFileManifestLine(line);
        if (section == &result.delFiles)
            deletedByLower.insert(entry.path.toLower(), entry.path);
        else if (section == &result.newFiles)
            newLower.append(entry.path.toLower());
        const QString key = entry.path;
        section->insert(key, std::move(entry));
    }
    // A file both deleted and brought new keeps its new copy.
    for (const QString &lower : qAsConst(newLower)) {
        const auto it = deletedByLower.constFind(lower);
        if (it != deletedByLower.constEnd())
            result.delFiles.remove(it.value());
    }
    return result;
}

} // namespace Morvaniel
