#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "manifest/GuideManifest.h"
#include "planning/PatchGraph.h"
#include "planning/ShortestUpdatePath.h"
#include "planning/SolveFullPackManifest.h"
#include "planning/SolveGuideManifest.h"
#include "planning/SolveLauncherGuideManifest.h"
#include "settings/SettingKeys.h"

#include "../support/DataRows.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Morvaniel;
using TestSupport::row;

namespace {

// Version n stands for 1.0.0.n, so that test rows stay short.
QString v(int n)
{
    return QStringLiteral("1.0.0.%1").arg(n);
}

// A guide manifest from "from>to:size" patch steps (one package each, path
// "p/<from>-<to>.7z"), full packs "n:size" (packages "f/<n>-<i>.7z") and the newest version.
QString guideText(const QStringList &patches, const QStringList &fulls, int newest)
{
    QString text = QStringLiteral("--download_version--\n");
    for (const QString &step : patches) {
        const int from = step.section('>', 0, 0).toInt();
        const int to = step.section('>', 1).section(':', 0, 0).toInt();
        const QString size = step.section(':', 1);
        text += QStringLiteral("%1->%2|p/%3-%4.7z|md5-%3-%4|%5\n").arg(v(from), v(to)).arg(from).arg(to).arg(size);
    }
    for (const QString &pack : fulls) {
        const int version = pack.section(':', 0, 0).toInt();
        const QStringList sizes = pack.section(':', 1).split(',');
        for (int i = 0; i < sizes.size(); ++i)
            text += QStringLiteral("%1->%1|f/%2-%3.7z|md5-f%2-%3|%4\n")
                        .arg(v(version))
                        .arg(version)
                        .arg(i)
                        .arg(sizes[i]);
    }
    text += QStringLiteral("--last_version--\n%1\n").arg(v(newest));
    return text;
}

QString pathText(const QVector<UpdateStep> &steps)
{
    QStringList parts;
    for (const UpdateStep &s : steps)
        parts << QStringLiteral("%1>%2").arg(s.fromVersion.build).arg(s.toVersion.build);
    return parts.join(QLatin1Char(','));
}

// A log line exactly as written, whatever quoting the message stream adds around it.
void expectLog(const QString &line)
{
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression(QStringLiteral("^\"?%1\"? ?$").arg(QRegularExpression::escape(line))));
}

QString downloadsText(const QVector<DownloadFile> &list)
{
    QStringList names;
    for (const DownloadFile &f : list)
        names << f.fileName;
    return names.join(QLatin1Char(','));
}

} // namespace

class tst_Planning : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void planResults_data();
    void planResults();
    void currentVersionLeavesDownloadsAlone();
    void updateStage_data();
    void updateStage();
    void restartDeletesCacheAndGameFolders();
    void fullPackManifestUrl();
    void shortestPath_data();
    void shortestPath();
    void startOnlyAsFullPack();
    void stepWithoutPackageIsNoPath();
    void stepsThroughChainToNewest();
    void searchMatchesBruteForce();
    void launcherAddresses();
    void launcherWithoutFullPack();
    void fullPackFiles();

private:
    void prepare(GameUpdateContext &ctx);
    QTemporaryDir m_install;
};

void tst_Planning::init()
{
    Global::Var::Host = QStringLiteral("http://127.0.0.1:8080");
    Global::Var::HostAndChannel = QStringLiteral("http://127.0.0.1:8080/ch");
}

void tst_Planning::prepare(GameUpdateContext &ctx)
{
    QVERIFY(m_install.isValid());
    ctx.setting.InstallPath = m_install.path();
    ctx.setting.CachePath = m_install.filePath(QStringLiteral("MorvanielCache"));
    ctx.setting.GamePath = m_install.filePath(QStringLiteral("Game"));
}

void tst_Planning::planResults_data()
{
    QTest::addColumn<QString>("manifest");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("planResult");
    QTest::addColumn<QString>("downloads");
    QTest::addColumn<qint64>("totalDownloadSize");
    QTest::addColumn<QString>("nextVersion");

    const QString chain = guideText({ "1>2:10", "2>3:20", "1>3:50" }, { "3:40,60" }, 3);
    row("nothing installed: full packs, 0", chain, QString(), 0, "3-0.7z,3-1.7z", qint64(100), "");
    row("patch chain: first step, 0", chain, v(1), 0, "1-2.7z", qint64(30), v(2));
    row("installed version in another spelling", chain, QStringLiteral("1.0.0.01"), 0, "1-2.7z", qint64(30), v(2));
    row("installed newer: 6", chain, QStringLiteral("2.0.0.0"), 6, "", qint64(0), "");
    row("no newest full pack: 7", guideText({ "1>2:10" }, { "1:40" }, 2), v(1), 7, "", qint64(0), "");
    row("empty manifest: 7", QString(), v(1), 7, "", qint64(0), "");
    row("chain as large as full pack: 8", guideText({ "1>2:50", "2>3:50" }, { "3:40,60" }, 3), v(1), 8, "3-0.7z,3-1.7z",
        qint64(100), "");
    row("no chain: 8", guideText({ "1>2:5", "3>4:5" }, { "4:100" }, 4), v(1), 8, "4-0.7z", qint64(100), "");
    // Versions compare by value: no full re-download of what is installed.
    row("installed is the newest in another spelling: current, 0", guideText({ "1>3:5" }, { "3:100" }, 3),
        QStringLiteral("1.0.0.03"), 0, "", qint64(0), "");
}

void tst_Planning::planResults()
{
    QFETCH(QString, manifest);
    QFETCH(QString, current);
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = current;
    ctx.planResult = 99;

    SolveGuideManifest(manifest, ctx);

    QTEST(ctx.planResult, "planResult");
    QTEST(downloadsText(ctx.downloadList), "downloads");
    QTEST(ctx.totalDownloadSize, "totalDownloadSize");
    QTEST(ctx.nextVersion, "nextVersion");
    for (const DownloadFile &f : qAsConst(ctx.downloadList)) {
        QCOMPARE(f.localPath, QDir(ctx.setting.CachePath).filePath(f.fileName));
        QVERIFY2(f.url.startsWith(Global::Var::Host + QStringLiteral("/")), qPrintable(f.url));
        QVERIFY(f.md5.startsWith(QStringLiteral("md5-")));
    }
}

void tst_Planning::currentVersionLeavesDownloadsAlone()
{
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = v(3);
    ctx.downloadList.append(DownloadFile{ QStringLiteral("keep.7z"), {}, 1, {}, {} });
    ctx.totalDownloadSize = 7;
    SolveGuideManifest(guideText({ "1>3:5", "1>2:5" }, { "3:40", "2:30" }, 3), ctx);
    QCOMPARE(ctx.planResult, 0);
    QCOMPARE(downloadsText(ctx.downloadList), QStringLiteral("keep.7z"));
    QCOMPARE(ctx.totalDownloadSize, qint64(7));
    QCOMPARE(ctx.newestFullPackSize, qint64(40));
    QCOMPARE(ctx.newestInfo.version.build, 3);
    QCOMPARE(ctx.newestInfo.fullPacks.size(), 1);
    QCOMPARE(ctx.newestInfo.fullPacks[0].url, QStringLiteral("http://127.0.0.1:8080/f/3-0.7z"));
    QCOMPARE(ctx.versionInfos.value(v(2)).fullPacks.size(), 1);
    QCOMPARE(ctx.versionInfos.value(v(2)).fullPacks[0].fileName, QStringLiteral("2-0.7z"));
}

void tst_Planning::updateStage_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("nextVersion");
    QTest::addColumn<QString>("downloads");
    QTest::addColumn<QString>("stageAfter");

    // An update towards 3 stopped during its step 1 -> 2; the server's newest is now 4.
    row("patch stage continues from the transition version", v(3), PATCH_STAGE, "2>3,3>4", v(2), "stale.7z",
        PATCH_STAGE);
    row("other stage starts over from the installed version", v(3), QStringLiteral("UNKNOWN"), "1>2,2>3,3>4", v(2),
        "1-2.7z", INIT_STAGE);
    row("goal unchanged: no transition", v(4), PATCH_STAGE, "1>2,2>3,3>4", v(2), "1-2.7z", PATCH_STAGE);
    row("goal unchanged in another spelling: no transition", QStringLiteral("1.0.0.04"), PATCH_STAGE, "1>2,2>3,3>4",
        v(2), "1-2.7z", PATCH_STAGE);
}

void tst_Planning::updateStage()
{
    QFETCH(QString, target);
    QFETCH(QString, stage);
    QFETCH(QString, stageAfter);
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = v(1);
    ctx.setting.TransitionGameVersion = v(2);
    ctx.setting.TargetGameVersion = target;
    ctx.setting.CurrentStage = stage;
    ctx.downloadList.append(DownloadFile{ QStringLiteral("stale.7z"), {}, 1, {}, {} });
    const QString ini = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    QFile::remove(ini);

    SolveGuideManifest(guideText({ "1>2:10", "2>3:10", "3>4:10", "1>4:100" }, { "4:500" }, 4), ctx);

    QCOMPARE(ctx.planResult, 0);
    QTEST(pathText(ctx.newestInfo.updatePath), "path");
    QTEST(ctx.nextVersion, "nextVersion");
    QTEST(downloadsText(ctx.downloadList), "downloads");
    QCOMPARE(ctx.totalDownloadSize, qint64(10) * ctx.newestInfo.updatePath.size());
    QCOMPARE(ctx.setting.CurrentStage, stageAfter);
    // Only a stage moved back to its start is saved.
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value(KEY_CURRENT_STAGE).toString(),
        stageAfter == stage ? QString() : stageAfter);
}

void tst_Planning::restartDeletesCacheAndGameFolders()
{
    GameUpdateContext ctx;
    prepare(ctx);
    QVERIFY(QDir().mkpath(ctx.setting.CachePath) && QDir().mkpath(ctx.setting.GamePath + QStringLiteral("/Data")));
    QFile stale(ctx.setting.GamePath + QStringLiteral("/Data/half.pak"));
    QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("x") == 1);
    stale.close();
    ctx.setting.CurrentGameVersion = v(1);
    ctx.setting.TransitionGameVersion = v(2);
    ctx.setting.TargetGameVersion = v(3);
    ctx.setting.CurrentStage = PATCH_STAGE;

    // The goal moved from 3 to 4 and no chain reaches 4: the half-done install goes.
    SolveGuideManifest(guideText({ "1>2:10" }, { "4:500" }, 4), ctx);

    QCOMPARE(ctx.planResult, 8);
    QVERIFY(!QFileInfo::exists(m_install.filePath(QStringLiteral("MorvanielCache"))));
    QVERIFY(!QFileInfo::exists(m_install.filePath(QStringLiteral("Game"))));
    QVERIFY(QFileInfo::exists(m_install.path()));
    QCOMPARE(ctx.setting.CurrentStage, INIT_STAGE);
    QCOMPARE(downloadsText(ctx.downloadList), QStringLiteral("4-0.7z"));
    const QSettings ini(QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value(KEY_CURRENT_STAGE).toString(), INIT_STAGE);
    QCOMPARE(ini.value(KEY_TARGET_GAME_VERSION).toString(), v(3));
}

void tst_Planning::fullPackManifestUrl()
{
    GameUpdateContext ctx;
    prepare(ctx);
    Global::Var::HostAndChannel.clear();
    SolveGuideManifest(guideText({}, { "2:1" }, 2), ctx);
    QCOMPARE(ctx.newestInfo.fullPackManifestUrl, "/" + v(2) + "/" + Global::Var::FullPackManifestName);
    Global::Var::HostAndChannel = QStringLiteral("http://h/ch/");
    SolveGuideManifest(guideText({}, { "2:1" }, 2), ctx);
    QCOMPARE(ctx.newestInfo.fullPackManifestUrl, "http://h/ch/" + v(2) + "/" + Global::Var::FullPackManifestName);
}

void tst_Planning::shortestPath_data()
{
    QTest::addColumn<QStringList>("patches");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("size");

    row("split beats a dearer direct step", QStringList{ "1>2:10", "2>3:10", "1>3:30" }, 1, 3, "1>2,2>3", qint64(20));
    row("direct step kept on equal totals", QStringList{ "1>2:10", "2>3:10", "1>3:20" }, 1, 3, "1>3", qint64(20));
    row("lowest split wins a tie", QStringList{ "1>2:5", "2>4:5", "1>3:5", "3>4:5" }, 1, 4, "1>2,2>4", qint64(10));
    row("lowest split wins, listed last", QStringList{ "1>3:5", "3>4:5", "1>2:5", "2>4:5" }, 1, 4, "1>2,2>4",
        qint64(10));
    row("gap means no path", QStringList{ "1>2:5", "3>4:5" }, 1, 4, "", qint64(0));
    row("downward step never used", QStringList{ "1>4:5", "4>2:1", "2>3:1", "1>3:100" }, 1, 3, "1>3", qint64(100));
    row("downward only", QStringList{ "3>1:5" }, 1, 3, "", qint64(0));
    row("nodes above the target unused", QStringList{ "1>5:1", "5>3:1", "1>2:9", "2>3:9" }, 1, 3, "1>2,2>3",
        qint64(18));
    row("repeated pair: last line wins", QStringList{ "1>2:5", "1>2:50", "2>3:5", "1>3:30" }, 1, 3, "1>3", qint64(30));
    row("start not a node", QStringList{ "2>3:5" }, 1, 3, "", qint64(0));
    row("target not a node", QStringList{ "1>2:5" }, 1, 3, "", qint64(0));
    row("start equals target", QStringList{ "1>3:5" }, 3, 3, "", qint64(0));
    row("long chain", QStringList{ "1>2:1", "2>3:1", "3>4:1", "4>5:1", "1>5:5" }, 1, 5, "1>2,2>3,3>4,4>5", qint64(4));
}

void tst_Planning::shortestPath()
{
    QFETCH(QStringList, patches);
    QFETCH(int, start);
    QFETCH(int, target);
    QFETCH(QString, path);
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = v(start);
    ctx.newestInfo.updatePath.append(UpdateStep());
    bool found = false;
    qint64 size = 0;
    FindShortestUpdatePath(parseGuideManifest(guideText(patches, {}, target)), ctx, false, found, size);
    QCOMPARE(found, !path.isEmpty());
    QTEST(size, "size");
    if (found) {
        QCOMPARE(pathText(ctx.newestInfo.updatePath), path);
        const UpdateStep &first = ctx.newestInfo.updatePath.first();
        QCOMPARE(first.packages.size(), 1);
        const QString name = QStringLiteral("%1-%2.7z").arg(first.fromVersion.build).arg(first.toVersion.build);
        QCOMPARE(first.packages[0].fileName, name);
        QCOMPARE(first.packages[0].url, "http://127.0.0.1:8080/p/" + name);
        QVERIFY(first.packages[0].path.isEmpty());
    } else {
        QCOMPARE(ctx.newestInfo.updatePath.size(), 1); // left as it was
    }
}

void tst_Planning::startOnlyAsFullPack()
{
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = v(1);
    expectLog("[StdUtil]:StartVersion  " + v(1) + " is not match in the server ");
    bool found = true;
    qint64 size = 5;
    FindShortestUpdatePath(parseGuideManifest(guideText({ "2>3:5" }, { "1:5" }, 3)), ctx, false, found, size);
    QVERIFY(!found);
    QCOMPARE(size, qint64(0));
}

void tst_Planning::stepWithoutPackageIsNoPath()
{
    GuideManifest g = parseGuideManifest(guideText({ "1>2:5", "2>3:5", "1>3:50" }, {}, 3));
    g.edges[1].files.clear(); // 2 -> 3 offers nothing to download
    GameUpdateContext ctx;
    ctx.setting.CurrentGameVersion = v(1);
    bool found = true;
    qint64 size = 0;
    FindShortestUpdatePath(g, ctx, false, found, size);
    QVERIFY(!found);
    QCOMPARE(size, qint64(0));
    QVERIFY(ctx.newestInfo.updatePath.isEmpty());
}

void tst_Planning::stepsThroughChainToNewest()
{
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = v(1);
    SolveGuideManifest(guideText({ "1>2:1", "2>3:1", "3>4:1", "1>4:10" }, { "4:100" }, 4), ctx);
    QCOMPARE(ctx.planResult, 0);
    QCOMPARE(ctx.totalDownloadSize, qint64(3));

    // The host applies each step and asks for the next until the newest version.
    QStringList seen;
    QString installed = v(1);
    for (int round = 0; round < 10 && installed != v(4); ++round) {
        GetCurrentShortestDownloadFile(ctx, installed);
        QCOMPARE(ctx.downloadList.size(), 1);
        seen << ctx.downloadList[0].fileName;
        QCOMPARE(ctx.downloadList[0].localPath, ctx.setting.CachePath + "/" + ctx.downloadList[0].fileName);
        QCOMPARE(ctx.downloadList[0].md5, "md5-" + ctx.downloadList[0].fileName.chopped(3));
        QCOMPARE(ctx.downloadList[0].size, qint64(1));
        installed = ctx.nextVersion;
    }
    QCOMPARE(seen, QStringList({ "1-2.7z", "2-3.7z", "3-4.7z" }));
    QCOMPARE(installed, v(4));

    // No version, or one the chain does not know: the first step again.
    for (const QString &unknown : { QString(), v(9) }) {
        GetCurrentShortestDownloadFile(ctx, unknown);
        QCOMPARE(downloadsText(ctx.downloadList), QStringLiteral("1-2.7z"));
        QCOMPARE(ctx.nextVersion, v(2));
    }
}

namespace {

struct Step
{
    int from;
    int to;
    qint64 weight;
};

// All climbing paths, cheapest first; on equal totals reaching the target
// directly beats any further node, and a lower next node beats a higher one.
struct BruteForce
{
    const QVector<Step> &steps;
    int target;
    qint64 bestTotal = -1;
    QVector<int> best;

    static bool before(const QVector<int> &a, const QVector<int> &b, int target)
    {
        for (int i = 0; i < qMin(a.size(), b.size()); ++i) {
            if (a[i] == b[i])
                continue;
            if (a[i] == target || b[i] == target)
                return a[i] == target;
            return a[i] < b[i];
        }
        return a.size() < b.size();
    }

    void walk(QVector<int> &path, qint64 total)
    {
        const int at = path.last();
        if (at == target) {
            if (bestTotal < 0 || total < bestTotal || (total == bestTotal && before(path, best, target))) {
                bestTotal = total;
                best = path;
            }
            return;
        }
        // The last step given for a pair is the one that counts.
        QMap<int, qint64> next;
        for (const Step &s : steps) {
            if (s.from == at && s.to > at && s.to <= target)
                next[s.to] = s.weight;
        }
        for (auto it = next.cbegin(); it != next.cend(); ++it) {
            path.append(it.key());
            walk(path, total + it.value());
            path.removeLast();
        }
    }
};

} // namespace

void tst_Planning::searchMatchesBruteForce()
{
    QRandomGenerator rng(4242);
    int withPath = 0;
    for (int round = 0; round < 5000; ++round) {
        const int n = 2 + rng.bounded(6);
        QVector<Step> steps;
        const int count = rng.bounded(n * n);
        for (int i = 0; i < count; ++i) {
            // Few distinct weights make ties common; some steps run downward.
            steps.append({ rng.bounded(n), rng.bounded(n), qint64(rng.bounded(5)) });
        }
        int s = rng.bounded(n);
        int t = rng.bounded(n);
        if (s > t && rng.bounded(5) != 0)
            std::swap(s, t); // mostly climbing requests, some backwards ones

        PatchGraph graph(n);
        for (const Step &st : steps)
            graph.setArc(st.from, st.to, quint64(st.weight), 0);
        quint64 total = 0;
        QVector<int> nodes;
        const bool found = ComputeShortestPaths(s, t, graph, total, nodes);

        BruteForce reference{ steps, t, -1, {} };
        QVector<int> path{ s };
        if (s < t)
            reference.walk(path, 0);

        const QByteArray where = QStringLiteral("round %1, n %2, %3 -> %4").arg(round).arg(n).arg(s).arg(t).toUtf8();
        QVERIFY2(found == !reference.best.isEmpty(), where.constData());
        if (!found)
            continue;
        ++withPath;
        QVERIFY2(qint64(total) == reference.bestTotal, where.constData());
        QVERIFY2(nodes == reference.best, where.constData());
    }
    qInfo("%d of the random graphs had a path", withPath);
    QVERIFY(withPath > 1000);
}

void tst_Planning::launcherAddresses()
{
    GameUpdateContext ctx;
    ctx.launcherInfo.baseUrl = QStringLiteral("http://127.0.0.1:9/launcher");
    ctx.launcherInfo.currentVersion = v(1);
    expectLog("[stdUtil]:newestManifestUrl is http://127.0.0.1:9/launcher/1.0.0.3/manifest.txt, size is 300, "
              "CurrentManifestUrl is http://127.0.0.1:9/launcher/1.0.0.1/manifest.txt");
    SolveLauncherGuideManifest(guideText({ "1>3:5", "3>4:7" }, { "3:100,200" }, 3), ctx);
    QCOMPARE(ctx.launcherInfo.newestVersion, v(3));
    QCOMPARE(ctx.launcherInfo.newestManifestUrl, QStringLiteral("http://127.0.0.1:9/launcher/1.0.0.3/manifest.txt"));
    QCOMPARE(ctx.launcherInfo.currentManifestUrl, QStringLiteral("http://127.0.0.1:9/launcher/1.0.0.1/manifest.txt"));
    QCOMPARE(ctx.launcherInfo.fullPackUrl, QStringLiteral("http://127.0.0.1:9/launcher/1.0.0.3/full_1.0.0.3.7z"));
    // Every step leaving the newest version counts, patch or not; the last one listed wins.
    QCOMPARE(ctx.launcherInfo.fullPackSize, qint64(300));
}

void tst_Planning::launcherWithoutFullPack()
{
    GameUpdateContext ctx;
    ctx.launcherInfo.baseUrl = QStringLiteral("http://b");
    ctx.launcherInfo.currentVersion = v(1);
    SolveLauncherGuideManifest(guideText({}, { "3:100" }, 3), ctx);
    QCOMPARE(ctx.launcherInfo.fullPackSize, qint64(100));
    SolveLauncherGuideManifest(guideText({ "1>4:5" }, {}, 4), ctx);
    QCOMPARE(ctx.launcherInfo.newestVersion, v(4));
    QCOMPARE(ctx.launcherInfo.fullPackSize, qint64(0));
    QCOMPARE(ctx.launcherInfo.fullPackUrl, QStringLiteral("http://b/1.0.0.3/full_1.0.0.3.7z"));
}

void tst_Planning::fullPackFiles()
{
    GameUpdateContext ctx;
    // Before the guide manifest is solved the newest version reads 0.0.0.0.
    SolveFullPackManifest(QStringLiteral("x|m|1\n"), ctx);
    QCOMPARE(ctx.versionInfos.value(QStringLiteral("0.0.0.0")).fullPackFiles.size(), 1);

    ctx.newestInfo.version = versionFromString(v(3));
    SolveFullPackManifest(QStringLiteral("old|m|100\n"), ctx);
    const QString text = QStringLiteral("data/b.pak|mb|2\nData/Z.pak|mz|3\ndata/a.pak|ma|4\nBin/game.exe|me|5\n");
    SolveFullPackManifest(text, ctx);

    QStringList order;
    for (const PackFileInfo &f : qAsConst(ctx.newestInfo.fullPackFiles))
        order << f.path + QLatin1Char('=') + f.md5 + QLatin1Char('=') + QString::number(f.size);
    QCOMPARE(order, QStringList({ "Bin/game.exe=me=5", "Data/Z.pak=mz=3", "data/a.pak=ma=4", "data/b.pak=mb=2" }));
    QCOMPARE(ctx.newestInfo.fullPackFileSize, qint64(14));
    QCOMPARE(ctx.newestInfo.fullPackManifest, text);
    const VersionPackInfo entry = ctx.versionInfos.value(v(3));
    QCOMPARE(entry.fullPackManifest, text);
    QCOMPARE(entry.fullPackFiles.size(), 4);
    QCOMPARE(entry.fullPackFiles[1].path, QStringLiteral("Data/Z.pak"));
}

QTEST_GUILESS_MAIN(tst_Planning)
#include "tst_planning.moc"
