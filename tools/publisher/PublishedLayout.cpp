#include "PublishedLayout.h"

#include "PublishRun.h"
#include "ReleaseSigner.h"
#include "core/Global.h"
#include "core/Version.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>

using Morvaniel::versionFromString;

namespace Publisher {

namespace {

// An archive path of the guide: inside the channel's folder, no way out of it.
bool isChannelPath(const QString &path, const QString &channel)
{
    if (!path.startsWith(channel + QLatin1Char('/')) || path.contains(QLatin1Char('\\')))
        return false;
    const QStringList segments = path.split(QLatin1Char('/'));
    return std::none_of(segments.begin(), segments.end(),
        [](const QString &s) { return s.isEmpty() || s == QLatin1String(".") || s == QLatin1String(".."); });
}

bool parseGuide(
    const QString &outputDir, const QString &channel, const QString &text, PublishedLayout &layout, QString &error)
{
    static const QRegularExpression lineRe(
        QStringLiteral("^([0-9.]+)->([0-9.]+)\\|([^|]+)\\|([0-9a-f]{32})\\|(\\d{1,15})$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    int at = 0;
    if (lines.value(at++) != QLatin1String("--download_version--")) {
        error = QStringLiteral("the guide manifest does not begin with --download_version--");
        return false;
    }
    for (; at < lines.size() && lines[at] != QLatin1String("--last_version--"); ++at) {
        const QRegularExpressionMatch m = lineRe.match(lines[at]);
        GuideLine line;
        if (m.hasMatch())
            line = GuideLine{ m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5).toLongLong() };
        if (!m.hasMatch() || !isVersionName(line.fromVersion) || !isVersionName(line.toVersion)
            || !isChannelPath(line.path, channel)) {
            error = QStringLiteral("line %1 of the guide manifest is not one the publisher writes: %2")
                        .arg(at + 1)
                        .arg(lines[at]);
            return false;
        }
        if (QFileInfo(outputDir + QLatin1Char('/') + line.path).size() != line.size) {
            error = QStringLiteral("%1 is missing or not of the size the guide manifest lists").arg(line.path);
            return false;
        }
        layout.guide << line;
        if (line.fromVersion == line.toVersion && !layout.versions.contains(line.toVersion))
            layout.versions << line.toVersion;
    }
    layout.lastVersion = lines.value(at + 1);
    if (at >= lines.size() || !layout.versions.contains(layout.lastVersion)
        || !lines.mid(at + 2).join(QString()).isEmpty()) {
        error = QStringLiteral("the guide manifest lacks its --last_version-- or names a version without a full pack");
        return false;
    }
    std::sort(layout.versions.begin(), layout.versions.end(),
        [](const QString &a, const QString &b) { return versionFromString(a) < versionFromString(b); });
    if (layout.versions.last() != layout.lastVersion) {
        error = QStringLiteral("the guide manifest's last version %1 is not its newest").arg(layout.lastVersion);
        return false;
    }
    return true;
}

} // namespace

bool readPublishedLayout(const QString &outputDir, const QString &channel, PublishedLayout &layout, QString &error)
{
    layout = PublishedLayout();
    const QString channelDir = outputDir + QLatin1Char('/') + channel;
    const QString guidePath = channelDir + QLatin1Char('/') + Global::Var::GuideManifestName;
    if (!QFileInfo::exists(guidePath)) {
        error = QStringLiteral("no published layout at %1 (no %2); publish a folder of versions first")
                    .arg(outputDir, guidePath);
        return false;
    }
    if (!parseGuide(outputDir, channel, QString::fromUtf8(QFileUtils::ReadBytes(guidePath)), layout, error)
        || !readPublishedSerial(channelDir + QStringLiteral("/release.json"), layout.serial, error))
        return false;
    layout.hasBlocks = QFileInfo(channelDir + QStringLiteral("/blocks")).isDir();
    for (int i = 0; layout.hasBlocks && i < layout.versions.size(); ++i) {
        const QString path = channelDir + QLatin1Char('/') + Morvaniel::BlockIndex::indexPath(layout.versions[i]);
        Morvaniel::BlockIndex index;
        QString why;
        if (!Morvaniel::BlockIndex::parse(QFileUtils::ReadBytes(path), index, why)) {
            error = QStringLiteral("the block index %1 cannot be read: %2").arg(path, why);
            return false;
        }
        layout.indexes << index;
    }
    return true;
}

bool unpackFullPack(const QString &sevenZip, const QString &outputDir, const PublishedLayout &layout,
    const QString &version, const QString &folder, QString &error)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (const GuideLine &line : layout.guide) {
        if (line.fromVersion != version || line.toVersion != version)
            continue;
        const QString archive = outputDir + QLatin1Char('/') + line.path;
        if (QFileUtils::GetFileMD5(archive) != line.md5) {
            error = QStringLiteral("%1 does not have the MD5 the guide manifest lists").arg(line.path);
            return false;
        }
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(sevenZip, { QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o") + folder, archive });
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            error = QStringLiteral("7-Zip could not unpack %1: %2")
                        .arg(line.path, QString::fromLocal8Bit(p.readAll()).trimmed().right(400));
            return false;
        }
    }
    return true;
}

bool matchesFileManifest(const QString &outputDir, const QString &channel, const VersionTree &tree, QString &error)
{
    const QString path
        = QStringLiteral("%1/%2/%3/%4").arg(outputDir, channel, tree.version, Global::Var::FullPackManifestName);
    const QStringList published = QString::fromUtf8(QFileUtils::ReadBytes(path)).split(QLatin1Char('\n'));
    const QStringList actual = fileManifestText(tree.files).split(QLatin1Char('\n'));
    if (published == actual)
        return true;
    int i = 0;
    while (i < published.size() && i < actual.size() && published[i] == actual[i])
        ++i;
    error = QStringLiteral("the tree of %1 at %2 is not the published one: its file manifest lists \"%3\", the tree "
                           "has \"%4\"")
                .arg(tree.version, tree.root, published.value(i), actual.value(i));
    return false;
}

} // namespace Publisher
