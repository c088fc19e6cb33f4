#include "Retention.h"

#include "blocks/BlockIndex.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace Publisher {

bool planRetention(const QString &outputDir, const QString &channel, const QVector<GuideLine> &guide,
    const QStringList &versions, int keep, RetentionPlan &plan, QString &error)
{
    plan = RetentionPlan();
    const QStringList kept = versions.mid(qMax(0, versions.size() - keep));
    for (const GuideLine &line : guide)
        if (kept.contains(line.toVersion))
            plan.guide << line;
    const QString channelDir = outputDir + QLatin1Char('/') + channel;
    auto remove = [&](const QString &path) {
        plan.removed << QDir(outputDir).relativeFilePath(path);
        plan.bytes += QFileInfo(path).size();
    };
    for (const QString &version : versions) {
        if (kept.contains(version))
            continue;
        QDirIterator it(channelDir + QLatin1Char('/') + version, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
            QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString &f : qAsConst(files))
            remove(f);
    }
    if (!QFileInfo(channelDir + QStringLiteral("/blocks")).isDir())
        return true;
    QSet<QString> needed;
    for (const QString &version : versions) {
        const QString index = channelDir + QLatin1Char('/') + Morvaniel::BlockIndex::indexPath(version);
        if (!kept.contains(version)) {
            if (QFileInfo::exists(index))
                remove(index);
            continue;
        }
        Morvaniel::BlockIndex parsed;
        if (!Morvaniel::BlockIndex::parse(QFileUtils::ReadBytes(index), parsed, error)) {
            error = QStringLiteral("the block index %1 cannot be read: %2").arg(index, error);
            return false;
        }
        for (const Morvaniel::IndexBundle &b : qAsConst(parsed.bundles))
            needed.insert(Morvaniel::BlockIndex::bundlePath(b.digest).section(QLatin1Char('/'), -1));
    }
    QStringList bundles
        = QDir(channelDir + QStringLiteral("/blocks")).entryList({ QStringLiteral("*.bundle") }, QDir::Files);
    bundles.sort();
    for (const QString &name : qAsConst(bundles))
        if (!needed.contains(name))
            remove(channelDir + QStringLiteral("/blocks/") + name);
    return true;
}

} // namespace Publisher
