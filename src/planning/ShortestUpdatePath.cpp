#include "planning/ShortestUpdatePath.h"

#include "core/GameUpdateContext.h"
#include "core/Version.h"
#include "manifest/GuideManifest.h"
#include "manifest/ManifestPathCheck.h"
#include "planning/PackageFiles.h"
#include "planning/PatchGraph.h"
#include "util/Logger.h"

#include <algorithm>
#include <vector>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("StdUtil");

quint64 addCapped(quint64 a, quint64 b)
{
    // Stays below NoPath so that a huge but real total is never taken for "no path".
    const quint64 cap = PatchGraph::NoPath - 1;
    return a > cap - b ? cap : a + b;
}

bool keyLess(const Version &a, const Version &b)
{
    return a.key() < b.key();
}

// Index of v in the sorted node list, or -1.
int indexOf(const std::vector<Version> &nodes, const Version &v)
{
    const auto at = std::lower_bound(nodes.begin(), nodes.end(), v, keyLess);
    if (at == nodes.end() || at->key() != v.key())
        return -1;
    return static_cast<int>(at - nodes.begin());
}

void notFound(bool &found, qint64 &pathSize, const QString &message)
{
    found = false;
    pathSize = 0;
    Logger::LogInfo(Tag, message);
}

} // namespace

bool ComputeShortestPaths(int start, int target, const PatchGraph &graph, quint64 &total, QVector<int> &nodes)
{
    nodes.clear();
    total = 0;
    if (start < 0 || target >= graph.nodeCount() || start >= target)
        return false;

    // Steps only climb, so every node of a path from start to target lies between
    // them: nothing outside [start, target] is allocated or visited.
    const int span = target - start + 1;
    std::vector<quint64> toTarget(static_cast<size_t>(span), PatchGraph::NoPath);
    auto dist = [&](int node) -> quint64 & { return toTarget[static_cast<size_t>(node - start)]; };
    dist(target) = 0;
    for (int v = target - 1; v >= start; --v) {
        quint64 best = PatchGraph::NoPath;
        for (const PatchGraph::Arc &a : graph.arcsFrom(v)) {
            if (a.to > target || dist(a.to) == PatchGraph::NoPath)
                continue;
            best = qMin(best, addCapped(a.weight, dist(a.to)));
        }
        dist(v) = best;
    }
    if (dist(start) == PatchGraph::NoPath)
        return false;

    // Walk forward. The direct step wins whenever it is as cheap as any split;
    // otherwise the split with the lowest node wins, and the lowest node on any
    // best path is always reached from the current one by a single step.
    nodes.append(start);
    int at = start;
    while (at != target) {
        const quint64 best = dist(at);
        int next = -1;
        const PatchGraph::Arc *direct = graph.arc(at, target);
        if (direct && direct->weight <= best) {
            next = target;
        } else {
            for (const PatchGraph::Arc &a : graph.arcsFrom(at)) {
                if (a.to >= target || dist(a.to) == PatchGraph::NoPath)
                    continue;
                if (addCapped(a.weight, dist(a.to)) == best && (next < 0 || a.to < next))
                    next = a.to;
            }
        }
        if (next < 0) {
            nodes.clear();
            return false;
        }
        nodes.append(next);
        at = next;
    }
    total = dist(start);
    return true;
}

void FindShortestUpdatePath(
    const GuideManifest &g, GameUpdateContext &ctx, bool transition, bool &found, qint64 &pathSize)
{
    const QString startText = transition ? ctx.setting.TransitionGameVersion : ctx.setting.CurrentGameVersion;
    const QString targetText = g.lastVersion;
    Logger::LogInfo(Tag, QStringLiteral("show all patch infomation!"));

    std::vector<Version> versions;
    for (const GuideEdge &edge : g.edges) {
        if (!edge.isPatch)
            continue;
        versions.push_back(versionFromString(edge.fromVersion));
        versions.push_back(versionFromString(edge.toVersion));
    }
    std::sort(versions.begin(), versions.end(), keyLess);
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    Logger::LogInfo(Tag, QStringLiteral("show Discretization"));
    for (size_t i = 0; i < versions.size(); ++i)
        Logger::LogInfo(
            Tag, QStringLiteral("%1: the index is %2").arg(versionToString(versions[i]), QString::number(i)));

    const int target = indexOf(versions, versionFromString(targetText));
    if (target < 0) {
        notFound(found, pathSize, QStringLiteral("Targetversion  %1 is not match ").arg(targetText));
        return;
    }
    const int start = indexOf(versions, versionFromString(startText));
    if (start < 0) {
        notFound(found, pathSize, QStringLiteral("StartVersion  %1 is not match in the server ").arg(startText));
        return;
    }

    PatchGraph graph(static_cast<int>(versions.size()));
    for (int k = 0; k < g.edges.size(); ++k) {
        const GuideEdge &edge = g.edges[k];
        if (!edge.isPatch)
            continue;
        const int a = indexOf(versions, versionFromString(edge.fromVersion));
        const int b = indexOf(versions, versionFromString(edge.toVersion));
        if (a >= start && b <= target)
            graph.setArc(a, b, edge.totalSize, k);
    }

    Logger::LogInfo(QStringLiteral("StdUtil update"), QStringLiteral("》》》》》》》》》》》》》》》》》》"));
    quint64 total = 0;
    QVector<int> nodes;
    bool usable = ComputeShortestPaths(start, target, graph, total, nodes);
    // A step whose package cannot be downloaded breaks the chain: planning it
    // would record a version that was never installed.
    for (int i = 1; usable && i < nodes.size(); ++i) {
        const QVector<GuidePackage> &files = g.edges[graph.arc(nodes[i - 1], nodes[i])->tag].files;
        usable = !files.isEmpty() && IsSafePackageFileName(PackageFileNameOf(files.first().path));
    }
    if (!usable) {
        notFound(found, pathSize, QStringLiteral("not find the shortestPath "));
        return;
    }

    ctx.newestInfo.updatePath.clear();
    Logger::LogInfo(Tag, QStringLiteral("show the shortest update path from %1 to %2").arg(startText, targetText));
    found = true;
    pathSize = PackageFiles::toByteCount(total);
    for (int i = 1; i < nodes.size(); ++i) {
        const GuideEdge &edge = g.edges[graph.arc(nodes[i - 1], nodes[i])->tag];
        PackageInfo package = PackageFiles::packageFrom(edge.files.first());
        package.path.clear();
        UpdateStep step;
        step.packages.append(package);
        step.fromVersion = versions[static_cast<size_t>(nodes[i - 1])];
        step.toVersion = versions[static_cast<size_t>(nodes[i])];
        ctx.newestInfo.updatePath.append(step);
    }
}

void GetCurrentShortestDownloadFile(GameUpdateContext &ctx, QString version)
{
    for (const UpdateStep &step : qAsConst(ctx.newestInfo.updatePath)) {
        if (!version.isEmpty() && versionToString(step.fromVersion) != version)
            continue;
        ctx.downloadList.clear();
        if (!step.packages.isEmpty())
            PackageFiles::appendDownload(ctx.downloadList, step.packages.first(), ctx.setting.CachePath);
        ctx.nextVersion = versionToString(step.toVersion);
        return;
    }
}

} // namespace Morvaniel
