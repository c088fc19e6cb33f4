#include "manifest/RepairManifest.h"

#include "manifest/ManifestLines.h"

namespace Morvaniel {

RepairManifest parseRepairManifest(const QString &text)
{
    RepairManifest manifest;
    for (const QString &line : ManifestLines::split(text)) {
        const int colon = line.indexOf(QLatin1Char(':'));
        const QString group = colon < 0 ? line : line.left(colon);
        QString files;
        if (colon >= 0) {
            const int second = line.indexOf(QLatin1Char(':'), colon + 1);
            files = second < 0 ? line.mid(colon + 1) : line.mid(colon + 1, second - colon - 1);
        }
        const QStringList pieces = files.split(QLatin1Char('|'));
        for (const QString &file : pieces)
            manifest.insert(file, group);
    }
    return manifest;
}

} // namespace Morvaniel
