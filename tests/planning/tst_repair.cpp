#include "core/GameUpdateContext.h"
#include "planning/RepairPlanner.h"
#include "verify/VerifyCallbackInfo.h"

#include <QtTest>

using namespace Morvaniel;

namespace {

PackageInfo pack(const QString &fileName, qint64 size)
{
    PackageInfo p;
    p.fileName = fileName;
    p.path = QStringLiteral("full/") + fileName;
    p.url = QStringLiteral("http://127.0.0.1:8080/full/") + fileName;
    p.md5 = QStringLiteral("md5-") + fileName;
    p.size = size;
    return p;
}

QStringList downloads(const GameUpdateContext &ctx)
{
    QStringList names;
    for (const DownloadFile &f : ctx.downloadList)
        names << f.fileName;
    names.sort();
    return names;
}

const QString Newest = QStringLiteral("1.0.0.3");
const QString Older = QStringLiteral("1.0.0.1");
const QString RepairText = QStringLiteral("cdn/v3/a.7z:Data/x.pak|Data/y.pak\r\n"
                                          "cdn/v3/b.7z:Bin/game.exe\n"
                                          "cdn/v3/missing.7z:Data/gone.pak\n");

void prepare(GameUpdateContext &ctx)
{
    ctx.newestInfo.version = versionFromString(Newest);
    ctx.newestInfo.fullPacks = { pack("a.7z", 10), pack("b.7z", 20), pack("c.7z", 30) };
    ctx.versionInfos[Older].fullPacks = { pack("a.7z", 1), pack("b.7z", 2) };
    ctx.setting.CachePath = QStringLiteral("/install/MorvanielCache");
    ctx.downloadList.append(DownloadFile{ QStringLiteral("stale.7z"), {}, 1, {}, {} });
}

} // namespace

class tst_Repair : public QObject
{
    Q_OBJECT

private slots:
    void downloadList_data();
    void downloadList();
    void partVersionLeavesErrorFiles();
    void newestVersionTextTakesNewestPath();
    void secondManifestAddsToFirst();
    void unsafeArchiveNameIsLeftOut();
};

void tst_Repair::downloadList_data()
{
    QTest::addColumn<QStringList>("errorFiles");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("three files, two archives")
        << QStringList{ "Data/x.pak", "Bin/game.exe", "Data/y.pak" } << QStringList{ "a.7z", "b.7z" };
    QTest::newRow("file missing from the map")
        << QStringList{ "Data/x.pak", "Data/unknown.pak", "Bin/game.exe" } << QStringList{ "a.7z", "b.7z" };
    QTest::newRow("archive not offered") << QStringList{ "Data/gone.pak", "Data/y.pak" } << QStringList{ "a.7z" };
    QTest::newRow("path case matters") << QStringList{ "data/x.pak" } << QStringList{};
    QTest::newRow("nothing bad") << QStringList{} << QStringList{};
}

void tst_Repair::downloadList()
{
    QFETCH(QStringList, errorFiles);
    GameUpdateContext ctx;
    prepare(ctx);
    SolveRepairManifest(RepairText, ctx);
    VerifyCallbackInfo info;
    info.errorFiles = errorFiles.toVector();

    GetRepairDownloadVec(ctx, info);

    QTEST(downloads(ctx), "expected");
    QVERIFY(info.errorFiles.isEmpty());
    for (const DownloadFile &f : qAsConst(ctx.downloadList)) {
        const PackageInfo p = pack(f.fileName, f.fileName == QLatin1String("a.7z") ? 10 : 20);
        QCOMPARE(f.localPath, "/install/MorvanielCache/" + f.fileName);
        QCOMPARE(f.url, p.url);
        QCOMPARE(f.md5, p.md5);
        QCOMPARE(f.size, p.size);
    }
}

void tst_Repair::partVersionLeavesErrorFiles()
{
    GameUpdateContext ctx;
    prepare(ctx);
    SolvePartRepairManifest(QStringLiteral("old/a.7z:Data/x.pak\nold/b.7z:Bin/game.exe\n"), ctx, Older);
    QVERIFY(ctx.newestInfo.repairMap.isEmpty());
    VerifyCallbackInfo info;
    info.errorFiles = { "Data/x.pak", "Bin/game.exe", "Data/unknown.pak" };

    GetRepairPartDownloadVec(ctx, info, Older);

    QCOMPARE(downloads(ctx), QStringList({ "a.7z", "b.7z" }));
    QCOMPARE(info.errorFiles.size(), 3);
    QCOMPARE(ctx.downloadList.first().size + ctx.downloadList.last().size, qint64(3)); // the old version's packs

    // A version the context has never heard of gets an empty entry and plans nothing.
    GetRepairPartDownloadVec(ctx, info, QStringLiteral("0.9.0.0"));
    QVERIFY(ctx.downloadList.isEmpty());
    QVERIFY(ctx.versionInfos.contains(QStringLiteral("0.9.0.0")));
}

void tst_Repair::newestVersionTextTakesNewestPath()
{
    GameUpdateContext ctx;
    prepare(ctx);
    SolvePartRepairManifest(RepairText, ctx, Newest);
    QCOMPARE(ctx.newestInfo.repairMap.value(QStringLiteral("Bin/game.exe")), QStringLiteral("cdn/v3/b.7z"));
    QVERIFY(!ctx.versionInfos.contains(Newest));
    VerifyCallbackInfo info;
    info.errorFiles = { "Bin/game.exe" };
    GetRepairPartDownloadVec(ctx, info, Newest);
    QCOMPARE(downloads(ctx), QStringList({ "b.7z" }));
    QCOMPARE(ctx.downloadList.first().size, qint64(20));
    QVERIFY(info.errorFiles.isEmpty());
}

void tst_Repair::secondManifestAddsToFirst()
{
    GameUpdateContext ctx;
    prepare(ctx);
    SolveRepairManifest(RepairText, ctx);
    SolveRepairManifest(QStringLiteral("cdn/v3/c.7z:Data/x.pak\n"), ctx);
    QCOMPARE(ctx.newestInfo.repairMap.value(QStringLiteral("Data/x.pak")), QStringLiteral("cdn/v3/c.7z"));
    QCOMPARE(ctx.newestInfo.repairMap.value(QStringLiteral("Data/y.pak")), QStringLiteral("cdn/v3/a.7z"));
    SolveRepairManifest(QString(), ctx);
    QCOMPARE(ctx.newestInfo.repairMap.size(), 4);
}

void tst_Repair::unsafeArchiveNameIsLeftOut()
{
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.newestInfo.fullPacks.append(pack(QStringLiteral(".."), 5));
    SolveRepairManifest(QStringLiteral("cdn/..:Data/x.pak\ncdn/b.7z:Bin/game.exe\n"), ctx);
    VerifyCallbackInfo info;
    info.errorFiles = { "Data/x.pak", "Bin/game.exe" };
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("left out of the download list")));
    GetRepairDownloadVec(ctx, info);
    QCOMPARE(downloads(ctx), QStringList({ "b.7z" }));
}

QTEST_GUILESS_MAIN(tst_Repair)
#include "tst_repair.moc"
