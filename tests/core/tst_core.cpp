#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "core/Version.h"
#include "planning/SolveRemoteInfo.h"

#include "../support/DataRows.h"

#include <QFile>
#include <QtTest>

using namespace Morvaniel;
using TestSupport::textRow;

class StandInComponent : public ICoreComponent
{
public:
    void Setup(EComponentType) override { }
};

class tst_Core : public QObject
{
    Q_OBJECT

private slots:
    void versionParsing_data();
    void versionParsing();
    void versionOrder_data();
    void versionOrder();
    void registrationKeepsTheFirst();
    void remoteInfo();
    void remoteInfoCarouselTime_data();
    void remoteInfoCarouselTime();
    void hostExampleIsCompiled();
};

void tst_Core::versionParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    textRow("three parts", "1.2.3", "1.2.3.0");
    textRow("four parts", "1.2.3.4", "1.2.3.4");
    textRow("five parts", "1.2.3.4.5", "1.2.3.4");
    textRow("non-numeric", "a.b.c.d", "0.0.0.0");
    textRow("empty", "", "0.0.0.0");
    textRow("leading zeros", "01.002.3.04", "1.2.3.4");
    textRow("mixed", "2.x.7", "2.0.7.0");
}

void tst_Core::versionParsing()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    Version v;
    v.major = 99; // every part is overwritten
    GetVersionByString(text, v);
    QCOMPARE(v.toString(), expected);
    QCOMPARE(versionToString(v), expected);
}

void tst_Core::versionOrder_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");
    textRow("build", "1.2.3.4", "1.2.3.5");
    textRow("minor beats build", "1.2.3.4", "1.3.0.0");
    textRow("major beats all", "1.255.65535.2147483647", "2.0.0.0");
    textRow("patch beats build", "0.0.1.2147483647", "0.0.2.0");
    textRow("build uses 32 bits", "0.0.0.65536", "0.0.0.2147483647");
    textRow("high major", "127.0.0.0", "128.0.0.0");
}

void tst_Core::versionOrder()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    const Version a = versionFromString(lower);
    const Version b = versionFromString(higher);
    QVERIFY2(a.key() < b.key(), qPrintable(QStringLiteral("%1 < %2").arg(lower, higher)));
    QVERIFY(a < b);
    QVERIFY(!(b < a));
    QVERIFY(a != b);
    QCOMPARE(versionFromString(lower), a);
}

// A second registration under a used value keeps the first component.
void tst_Core::registrationKeepsTheFirst()
{
    auto core = GetCoreSystemInstance();
    auto original = core->GetComponent(EComponentType::Serialize);
    QVERIFY(original);
    core->RegistComponent(EComponentType::Serialize, std::make_shared<StandInComponent>());
    QCOMPARE(core->GetComponent(EComponentType::Serialize).get(), original.get());
}

void tst_Core::remoteInfo()
{
    GameUpdateContext ctx;
    const QString full = QStringLiteral(R"({
        "activity": [{"title": "A1", "time": "12-01", "link": "l1"}, {"title": "A2", "time": 5, "link": "l2"}],
        "announcement": [{"title": "N1"}], "infomation": [{"title": "I1"}, {"title": "I2"}, {"title": "I3"}],
        "extra": "not an array", "activity_name": "act", "bg": {"url": "u", "md5": "m"},
        "carousel": [{"url": "c1", "link": "k1", "md5": "5"}], "reparing": true, "reparing_tip": "tip",
        "qq_url": 7, "infoswitch": true, "bmovie": true, "carousel_time": 3000})");
    SolveRemoteInfo(full, ctx);
    const RemoteInfo &r = ctx.remoteInfo;
    QCOMPARE(r.activity.size(), 2);
    QCOMPARE(r.activity[0].title, QStringLiteral("A1"));
    QCOMPARE(r.activity[0].time, QStringLiteral("12-01"));
    QVERIFY(r.activity[1].time.isEmpty()); // a number is not a string
    QCOMPARE(r.infomation.size(), 3);
    QVERIFY(r.extra.isEmpty());
    QCOMPARE(r.activityName, QStringLiteral("act"));
    QCOMPARE(r.bgUrl, QStringLiteral("u"));
    QCOMPARE(r.bgMd5, QStringLiteral("m"));
    QCOMPARE(r.carousel.size(), 1);
    QCOMPARE(r.carousel[0].link, QStringLiteral("k1"));
    QVERIFY(r.reparing);
    QVERIFY(r.qqUrl.isEmpty());
    QVERIFY(r.infoSwitch);
    QVERIFY(r.bMovie);
    QCOMPARE(r.carouselTime, 3000);

    // A second document with shorter lists leaves only its own items.
    SolveRemoteInfo(QStringLiteral(R"({"activity": [{"title": "B1"}], "bg": "flat",
        "infomation": [], "reparing": "yes"})"),
        ctx);
    QCOMPARE(r.activity.size(), 1);
    QCOMPARE(r.activity[0].title, QStringLiteral("B1"));
    QVERIFY(r.announcement.isEmpty());
    QVERIFY(r.infomation.isEmpty());
    QVERIFY(r.carousel.isEmpty());
    QVERIFY(r.bgUrl.isEmpty());
    QVERIFY(!r.reparing);
    QVERIFY(r.reparingTip.isEmpty());
    QVERIFY(!r.bMovie);
    QCOMPARE(r.carouselTime, 3000);

    // A broken document clears everything but carouselTime.
    SolveRemoteInfo(QStringLiteral("{\"activity\": [ {\"title\": "), ctx);
    QVERIFY(r.activity.isEmpty());
    QVERIFY(r.activityName.isEmpty());
    QCOMPARE(r.carouselTime, 3000);
    SolveRemoteInfo(QStringLiteral("[1, 2, 3]"), ctx);
    QVERIFY(r.activity.isEmpty());
}

void tst_Core::remoteInfoCarouselTime_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero keeps") << R"({"carousel_time": 0})" << 2000;
    QTest::newRow("missing keeps") << R"({})" << 2000;
    QTest::newRow("string keeps") << R"({"carousel_time": "4000"})" << 2000;
    QTest::newRow("value replaces") << R"({"carousel_time": 4000})" << 4000;
    QTest::newRow("negative replaces") << R"({"carousel_time": -1})" << -1;
}

void tst_Core::remoteInfoCarouselTime()
{
    QFETCH(QString, json);
    QFETCH(int, expected);
    GameUpdateContext ctx;
    SolveRemoteInfo(json, ctx);
    QCOMPARE(ctx.remoteInfo.carouselTime, expected);
}

// docs/host-contract.md shows host_example.cpp; this keeps the two the same,
// and the file itself is compiled into this test.
void tst_Core::hostExampleIsCompiled()
{
    QFile readme(QStringLiteral(CONTRACT_DOC_PATH));
    QFile example(QStringLiteral(EXAMPLE_PATH));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QVERIFY(example.open(QIODevice::ReadOnly));
    const QByteArray code = example.readAll();
    QVERIFY2(readme.readAll().contains(code), "docs/host-contract.md must quote tests/core/host_example.cpp verbatim");
}

QTEST_GUILESS_MAIN(tst_Core)
#include "tst_core.moc"
