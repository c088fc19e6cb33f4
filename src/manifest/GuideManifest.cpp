#include "manifest/GuideManifest.h"

#include "manifest/ManifestLines.h"

#include <QHash>
#include <QPair>

namespace Morvaniel {

namespace {

const QString DownloadMarker = QStringLiteral("--download_version--");
const QString LastVersionMarker = QStringLiteral("--last_version--");
const QString StepArrow = QStringLiteral("->");

struct PackageLine
{
    QString from;
    QString to;
    GuidePackage package;
};

PackageLine parsePackageLine(const QString &line)
{
    PackageLine result;
    const QVector<QStringRef> fields = line.splitRef(QLatin1Char('|'));
    const QStringRef step = fields.value(0);
    const int arrow = step.indexOf(StepArrow);
    if (arrow < 0) {
        result.from = step.toString();
    } else {
        result.from = step.left(arrow).toString();
        const QStringRef rest = step.mid(arrow + StepArrow.size());
        const int second = rest.indexOf(StepArrow);
        result.to = (second < 0 ? rest : rest.left(second)).toString();
    }
    result.package.path = fields.value(1).toString();
    result.package.md5 = fields.value(2).toString();
    result.package.size = ManifestLines::parseSize(fields.value(3).toString());
    return result;
}

} // namespace

GuideManifest parseGuideManifest(const QString &text)
{
    GuideManifest manifest;
    QHash<QPair<QString, QString>, int> edgeIndex;
    bool inVersionSection = false;
    for (const QString &line : ManifestLines::split(text)) {
        if (line == DownloadMarker) {
            inVersionSection = false;
            continue;
        }
        if (line == LastVersionMarker) {
            inVersionSection = true;
            continue;
        }
        if (inVersionSection) {
            manifest.lastVersion = line;
            continue;
        }
        PackageLine parsed = parsePackageLine(line);
        const QPair<QString, QString> pair(parsed.from, parsed.to);
        auto found = edgeIndex.constFind(pair);
        int index;
        if (found == edgeIndex.constEnd()) {
            GuideEdge edge;
            edge.fromVersion = parsed.from;
            edge.toVersion = parsed.to;
            edge.isPatch = parsed.from != parsed.to;
            index = manifest.edges.size();
            manifest.edges.append(std::move(edge));
            edgeIndex.insert(pair, index);
        } else {
            index = found.value();
        }
        GuideEdge &edge = manifest.edges[index];
        edge.totalSize = ManifestLines::addSaturated(edge.totalSize, parsed.package.size);
        edge.files.append(std::move(parsed.package));
    }
    return manifest;
}

} // namespace Morvaniel
