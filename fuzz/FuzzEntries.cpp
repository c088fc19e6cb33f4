#include "FuzzEntries.h"

#include "blocks/BlockIndex.h"
#include "blocks/RangeReplyParser.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "manifest/FileManifest.h"
#include "manifest/GuideManifest.h"
#include "manifest/ManifestPathCheck.h"
#include "manifest/PatchManifest.h"
#include "manifest/RepairManifest.h"
#include "planning/PackageFiles.h"
#include "planning/RepairPlanner.h"
#include "planning/ShortestUpdatePath.h"
#include "planning/SolveFullPackManifest.h"
#include "planning/SolveGuideManifest.h"
#include "planning/SolveLauncherGuideManifest.h"
#include "planning/SolveRemoteInfo.h"
#include "settings/SettingKeys.h"
#include "verify/VerifyCallbackInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <limits>
#include <memory>

using namespace Morvaniel;

namespace FuzzEntries {

namespace {

std::unique_ptr<QTemporaryDir> g_scratch;

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QString sentinelPath()
{
    return g_scratch->filePath(QStringLiteral("sentinel"));
}

QString installPath()
{
    return g_scratch->filePath(QStringLiteral("install"));
}

// Where the planner must put every download; SaveSetting derives the same
// folder from InstallPath, so a saved stage does not move it.
QString cachePath()
{
    return QDir(installPath()).filePath(QStringLiteral("MorvanielCache"));
}

// A path inside the cache folder names one plain file directly in it.
QString checkInsideCache(const QString &localPath, const QString &what)
{
    const QString cache = QDir::cleanPath(cachePath());
    const QString cleaned = QDir::cleanPath(localPath);
    if (!cleaned.startsWith(cache + QLatin1Char('/')))
        return QStringLiteral("%1: %2 lies outside the cache folder").arg(what, localPath);
    const QString name = cleaned.mid(cache.size() + 1);
    if (!IsSafePackageFileName(name))
        return QStringLiteral("%1: %2 is no plain file in the cache folder").arg(what, localPath);
    if (cleaned != localPath)
        return QStringLiteral("%1: %2 is not a clean path").arg(what, localPath);
    return {};
}

QString checkDownloads(const GameUpdateContext &ctx, const QString &what)
{
    for (const DownloadFile &file : ctx.downloadList) {
        const QString error = checkInsideCache(file.localPath, what);
        if (!error.isEmpty())
            return error;
        if (file.size < 0)
            return QStringLiteral("%1: negative size %2 for %3").arg(what).arg(file.size).arg(file.localPath);
    }
    if (ctx.totalDownloadSize < 0)
        return QStringLiteral("%1: negative total %2").arg(what).arg(ctx.totalDownloadSize);
    return {};
}

QString checkScratchIntact()
{
    if (!QFile::exists(sentinelPath()))
        return QStringLiteral("the planner deleted a file outside the install folder");
    return {};
}

QString lineAt(const QList<QByteArray> &lines, int i)
{
    return QString::fromUtf8(lines.value(i)).trimmed();
}

} // namespace

void setUp()
{
    if (g_scratch)
        return;
    qInstallMessageHandler(dropMessage);
    g_scratch = std::make_unique<QTemporaryDir>();
    QFile sentinel(sentinelPath());
    if (!sentinel.open(QIODevice::WriteOnly))
        qFatal("cannot create the fuzz scratch folder");
    Global::Var::Host = QStringLiteral("http://127.0.0.1:8080/res");
    Global::Var::HostAndChannel = QStringLiteral("http://127.0.0.1:8080/res/ch");
}

QString scratchRoot()
{
    return g_scratch ? g_scratch->path() : QString();
}

QString fileManifest(const QByteArray &input)
{
    const FileManifest m = parseFileManifest(QString::fromUtf8(input));
    for (auto it = m.cbegin(); it != m.cend(); ++it) {
        if (it.key() != it->path)
            return QStringLiteral("file manifest: key %1 differs from its path %2").arg(it.key(), it->path);
        if (it->path.contains(QLatin1Char('\n')) || it->md5.contains(QLatin1Char('|')))
            return QStringLiteral("file manifest: a field runs over its separator: %1").arg(it->path);
    }
    if (fileManifestPaths(m).size() != m.size())
        return QStringLiteral("file manifest: path list and entries differ");
    return {};
}

QString guideManifest(const QByteArray &input)
{
    const GuideManifest g = parseGuideManifest(QString::fromUtf8(input));
    if (g.lastVersion.contains(QLatin1Char('\n')))
        return QStringLiteral("guide manifest: the last version spans lines");
    QSet<QPair<QString, QString>> pairs;
    for (const GuideEdge &edge : g.edges) {
        if (edge.isPatch != (edge.fromVersion != edge.toVersion))
            return QStringLiteral("guide manifest: %1->%2 has the wrong kind").arg(edge.fromVersion, edge.toVersion);
        const QPair<QString, QString> pair(edge.fromVersion, edge.toVersion);
        if (pairs.contains(pair))
            return QStringLiteral("guide manifest: %1->%2 appears twice").arg(edge.fromVersion, edge.toVersion);
        pairs.insert(pair);
        if (edge.files.isEmpty())
            return QStringLiteral("guide manifest: an edge without a package");
        quint64 sum = 0;
        for (const GuidePackage &p : edge.files)
            sum = sum > std::numeric_limits<quint64>::max() - p.size ? std::numeric_limits<quint64>::max()
                                                                     : sum + p.size;
        if (sum != edge.totalSize)
            return QStringLiteral("guide manifest: %1->%2 total %3, packages sum to %4")
                .arg(edge.fromVersion, edge.toVersion)
                .arg(edge.totalSize)
                .arg(sum);
    }
    return {};
}

QString patchManifest(const QByteArray &input)
{
    const PatchManifest m = parsePatchManifest(QString::fromUtf8(input));
    QSet<QString> fresh;
    for (auto it = m.newFiles.cbegin(); it != m.newFiles.cend(); ++it)
        fresh.insert(it.key().toLower());
    for (auto it = m.delFiles.cbegin(); it != m.delFiles.cend(); ++it) {
        if (fresh.contains(it.key().toLower()))
            return QStringLiteral("patch manifest: %1 is both new and deleted").arg(it.key());
    }
    return {};
}

QString repairManifest(const QByteArray &input)
{
    const RepairManifest m = parseRepairManifest(QString::fromUtf8(input));
    for (auto it = m.cbegin(); it != m.cend(); ++it) {
        if (it.key().contains(QLatin1Char('|')) || it.key().contains(QLatin1Char(':')))
            return QStringLiteral("repair manifest: file %1 keeps a separator").arg(it.key());
        if (it.value().contains(QLatin1Char(':')))
            return QStringLiteral("repair manifest: group %1 keeps a separator").arg(it.value());
    }

    // Every group the server names is offered as a full pack, every file is
    // reported bad: the plan may only ever fetch plain files into the cache.
    GameUpdateContext ctx;
    ctx.setting.InstallPath = installPath();
    ctx.setting.CachePath = cachePath();
    ctx.newestInfo.version = versionFromString(QStringLiteral("1.0.0.2"));
    QSet<QString> groups;
    for (const QString &group : m)
        groups.insert(group);
    for (const QString &group : qAsConst(groups)) {
        // As the guide planner records a full pack: the file name is the path's last section.
        PackageInfo info;
        info.path = group;
        info.url = Global::Var::Host + QLatin1Char('/') + group;
        info.fileName = PackageFileNameOf(group);
        info.size = 1;
        ctx.newestInfo.fullPacks.append(info);
        ctx.versionInfos[QStringLiteral("1.0.0.1")].fullPacks.append(info);
    }
    const QString text = QString::fromUtf8(input);
    SolveRepairManifest(text, ctx);
    SolvePartRepairManifest(text, ctx, QStringLiteral("1.0.0.1"));
    VerifyCallbackInfo info;
    info.errorFiles = m.keys().toVector();
    GetRepairPartDownloadVec(ctx, info, QStringLiteral("1.0.0.1"));
    QString error = checkDownloads(ctx, QStringLiteral("repair of an older version"));
    if (!error.isEmpty())
        return error;
    GetRepairDownloadVec(ctx, info);
    error = checkDownloads(ctx, QStringLiteral("repair"));
    if (!error.isEmpty())
        return error;
    if (!info.errorFiles.isEmpty())
        return QStringLiteral("repair: the bad files were not taken");
    return {};
}

QString remoteInfo(const QByteArray &input)
{
    GameUpdateContext ctx;
    const int before = ctx.remoteInfo.carouselTime;
    SolveRemoteInfo(QString::fromUtf8(input), ctx);
    if (ctx.remoteInfo.carouselTime == 0)
        return QStringLiteral("remote info: carousel time set to 0 (before %1)").arg(before);
    return {};
}

QString guideSolver(const QByteArray &input)
{
    // Lines 1 to 5: installed version, transition version, target version,
    // stage ("P" the patch stage, anything else the initial stage), and the
    // version handed to GetCurrentShortestDownloadFile. The rest is the manifest.
    const QList<QByteArray> lines = input.split('\n');
    QByteArray manifest;
    for (int i = 5; i < lines.size(); ++i) {
        manifest += lines.at(i);
        if (i + 1 < lines.size())
            manifest += '\n';
    }

    GameUpdateContext ctx;
    ctx.setting.InstallPath = installPath();
    ctx.setting.CachePath = cachePath();
    ctx.setting.GamePath = QDir(installPath()).filePath(QStringLiteral("Game"));
    ctx.setting.CurrentGameVersion = lineAt(lines, 0);
    ctx.setting.TransitionGameVersion = lineAt(lines, 1);
    ctx.setting.TargetGameVersion = lineAt(lines, 2);
    ctx.setting.CurrentStage = lineAt(lines, 3) == QLatin1String("P") ? PATCH_STAGE : INIT_STAGE;

    const QString text = QString::fromUtf8(manifest);
    SolveGuideManifest(text, ctx);
    // Every saved setting posts an update request to the settings object; no
    // event loop runs here to take them, so they would pile up, about 1 KiB
    // per saved stage, until the run hits its memory limit.
    QCoreApplication::sendPostedEvents();
    QString error = checkScratchIntact();
    if (error.isEmpty())
        error = checkDownloads(ctx, QStringLiteral("guide plan"));
    if (!error.isEmpty())
        return error;
    if (ctx.planResult != 0 && ctx.planResult != 6 && ctx.planResult != 7 && ctx.planResult != 8)
        return QStringLiteral("guide plan: unknown result %1").arg(ctx.planResult);
    if (ctx.newestFullPackSize < 0)
        return QStringLiteral("guide plan: negative full-pack size");
    const QVector<UpdateStep> &path = ctx.newestInfo.updatePath;
    for (int i = 0; i < path.size(); ++i) {
        if (!(path[i].fromVersion < path[i].toVersion))
            return QStringLiteral("guide plan: a step that does not climb");
        if (i > 0 && !(path[i - 1].toVersion == path[i].fromVersion))
            return QStringLiteral("guide plan: a step that does not start where the last one ended");
    }
    if (!path.isEmpty() && !(path.last().toVersion == ctx.newestInfo.version))
        return QStringLiteral("guide plan: the path ends short of the newest version");

    GetCurrentShortestDownloadFile(ctx, lineAt(lines, 4));
    error = checkDownloads(ctx, QStringLiteral("next step"));
    if (!error.isEmpty())
        return error;

    // The same manifest as the launcher's guide and as a full-pack file list.
    SolveLauncherGuideManifest(text, ctx);
    if (ctx.launcherInfo.fullPackSize < 0)
        return QStringLiteral("launcher plan: negative size");
    SolveFullPackManifest(text, ctx);
    if (ctx.newestInfo.fullPackFileSize < 0)
        return QStringLiteral("full-pack list: negative size");
    return {};
}

namespace {

QString checkParsedIndex(const BlockIndex &index, const QString &what)
{
    for (const IndexFile &f : index.files) {
        if (!IsSafeManifestPath(f.path))
            return QStringLiteral("%1: accepted the path %2").arg(what, f.path);
        qint64 end = 0;
        for (quint32 k = 0; k < f.refCount; ++k) {
            const IndexRef &ref = index.refs.at(int(f.firstRef + k));
            if (ref.offset != end)
                return QStringLiteral("%1: %2 has a gap or an overlap").arg(what, f.path);
            end += index.blocks.at(int(ref.block)).size;
        }
        if (end != f.size)
            return QStringLiteral("%1: %2 is not laid out to its size").arg(what, f.path);
    }
    for (const IndexBlock &b : index.blocks)
        if (b.bundleOffset + b.packedSize > index.bundles.at(int(b.bundle)).size)
            return QStringLiteral("%1: a frame reaches past its bundle").arg(what);
    const QByteArray again = index.encodeRaw();
    BlockIndex back;
    QString error;
    if (!BlockIndex::parseRaw(again, back, error) || back.encodeRaw() != again)
        return QStringLiteral("%1: an accepted index does not read back: %2").arg(what, error);
    return {};
}

} // namespace

QString blockIndex(const QByteArray &input)
{
    BlockIndex index;
    QString error;
    if (BlockIndex::parseRaw(input, index, error)) {
        const QString broken = checkParsedIndex(index, QStringLiteral("raw"));
        if (!broken.isEmpty())
            return broken;
    } else if (!index.files.isEmpty() || !index.blocks.isEmpty() || error.isEmpty()) {
        return QStringLiteral("raw: a refusal left a partial index or no reason");
    }
    if (BlockIndex::parse(input, index, error))
        return checkParsedIndex(index, QStringLiteral("framed"));
    return {};
}

QString rangeAnswer(const QByteArray &input)
{
    if (input.size() < 3)
        return {};
    static const int statuses[] = { 200, 206, 206, 404 };
    const int status = statuses[quint8(input[0]) % 4];
    const qint64 bundleSize = 1 + (quint8(input[1]) | quint8(input[2]) << 8);
    const int nl = input.indexOf('\n', 3);
    const QByteArray header = nl < 0 ? input.mid(3) : input.mid(3, nl - 3);
    const QByteArray body = nl < 0 ? QByteArray() : input.mid(nl + 1);
    const bool multipart = quint8(input[0]) % 4 == 2;
    RangeReplyParser parser;
    QString error;
    const qint64 limit = 4096;
    if (!parser.begin(status, multipart ? "multipart/byteranges; boundary=" + header : QByteArray(),
            multipart ? QByteArray() : header, -1, bundleSize, limit, error))
        return {};
    qint64 handed = 0;
    QString broken;
    for (int at = 0, step = 1; at < body.size(); at += step, step = 1 + (step * 7) % 13) {
        const bool ok = parser.feed(
            body.constData() + at, qMin(step, body.size() - at),
            [&](qint64 offset, const char *, qint64 length) {
                handed += length;
                if (offset < 0 || length <= 0 || offset + length > bundleSize)
                    broken = QStringLiteral("a run outside the bundle: %1+%2 of %3")
                                 .arg(offset)
                                 .arg(length)
                                 .arg(bundleSize);
            },
            error);
        if (!broken.isEmpty())
            return broken;
        if (!ok)
            break;
    }
    if (handed > parser.consumed() || parser.consumed() > qMax(limit, bundleSize))
        return QStringLiteral("more handed on or taken than allowed");
    return {};
}

} // namespace FuzzEntries
