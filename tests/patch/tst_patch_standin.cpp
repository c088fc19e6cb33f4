// The merge stage against a scripted stand-in for the patch tool that lies in
// this test's own application folder: attempts, exit codes, progress lines.

#include "../support/TestSupport.h"
#include "core/GameUpdateContext.h"
#include "patch/MergeThread.h"
#include "patch/Patcher.h"
#include "patch/PatcherCallbackInfo.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Morvaniel;
using namespace TestSupport;

namespace {

// Environment of the stand-in, reset after every test.
class StandIn
{
public:
    StandIn(const QString &log, int exitCode, const QByteArray &stdoutText)
    {
        qputenv("HPATCHZ_STANDIN_LOG", QFile::encodeName(log));
        qputenv("HPATCHZ_STANDIN_EXIT", QByteArray::number(exitCode));
        qputenv("HPATCHZ_STANDIN_STDOUT", stdoutText);
    }
    ~StandIn()
    {
        qunsetenv("HPATCHZ_STANDIN_LOG");
        qunsetenv("HPATCHZ_STANDIN_EXIT");
        qunsetenv("HPATCHZ_STANDIN_STDOUT");
    }
};

struct Layout
{
    QString target, patchDir, temp, log;
};

Layout makeLayout(const QString &root, const QString &patchSection)
{
    Layout l{ root + QStringLiteral("/game"), root + QStringLiteral("/patch"), root + QStringLiteral("/temp"),
        root + QStringLiteral("/tool.log") };
    writeFile(l.target + QStringLiteral("/x/a.pak"), "a");
    writeFile(l.target + QStringLiteral("/b.pak"), "b");
    writeFile(l.target + QStringLiteral("/d.txt"), "to delete");
    writeFile(l.patchDir + QStringLiteral("/n.txt"), "new");
    writeFile(l.patchDir + QStringLiteral("/manifest.txt"),
        ("--new_file--\nn.txt|m|3\nmissing.txt|m|1\n--del_file--\nd.txt|m|9\n--patch_file--\n" + patchSection)
            .toUtf8());
    return l;
}

QStringList logLines(const QString &log)
{
    return QString::fromUtf8(readFile(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class tst_PatchStandIn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exitCodes_data();
    void exitCodes();
    void progressLines_data();
    void progressLines();
    void toolStillRunningMeansFileInUse();
    void reportsBelongToTheirOwnRun_data();
    void reportsBelongToTheirOwnRun();
};

void tst_PatchStandIn::initTestCase()
{
    QVERIFY2(QFileInfo(programPath(QStringLiteral("hpatchz"))).isExecutable(),
        "the stand-in hpatchz is missing from the test folder");
    MergeThread::SetToolTimeoutMs(60000);
}

void tst_PatchStandIn::exitCodes_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("toolRuns");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("needCheck");
    QTest::addColumn<bool>("filesChanged");
    QTest::newRow("0: both patches once") << 0 << 2 << QString() << false << true;
    QTest::newRow("1: three attempts each, run goes on") << 1 << 6 << QString() << true << true;
    QTest::newRow("22: out of memory ends the run")
        << 22 << 3 << QStringLiteral("运行内存不足，请清理后重试。") << true << false;
    QTest::newRow("24: disk full ends the run")
        << 24 << 3 << QStringLiteral("磁盘空间不足，请清理后重试。") << true << false;
    // Without a tool that starts, nothing is patched, added or deleted.
    const QString tool = programPath(QStringLiteral("hpatchz"));
    QTest::newRow("tool not executable: nothing changes")
        << -1 << 0 << QStringLiteral("hpatchz could not be started: %1 (not executable)").arg(tool) << false << false;
    QTest::newRow("tool missing: nothing changes")
        << -2 << 0 << QStringLiteral("hpatchz could not be started: %1 (not found)").arg(tool) << false << false;
}

void tst_PatchStandIn::exitCodes()
{
    QFETCH(int, exitCode);
    QFETCH(int, toolRuns);
    QFETCH(QString, error);
    QFETCH(bool, needCheck);
    QFETCH(bool, filesChanged);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Layout l = makeLayout(dir.path(), QStringLiteral("x/a.pak.patch|m|100\nb.pak.patch|m|300\n"));
    StandIn standIn(l.log, qMax(exitCode, 0), QByteArray());
    const QString tool = programPath(QStringLiteral("hpatchz"));
#ifdef Q_OS_WIN
    if (exitCode == -1)
        QSKIP("a program here is one by its name, not by permission bits");
#endif
    const QFile::Permissions mode = QFile::permissions(tool);
    const QString away = tool + QStringLiteral(".away");
    if (exitCode == -1)
        QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner));
    if (exitCode == -2)
        QVERIFY(QFile::rename(tool, away));

    MergeThread thread;
    QSignalSpy finished(&thread, &MergeThread::MergeFinished);
    thread.SetPaths(l.patchDir + QStringLiteral("/manifest.txt"), l.target, l.temp);
    thread.start();
    const bool ended = finished.wait(60000);
    if (exitCode == -2)
        QFile::rename(away, tool);
    QFile::setPermissions(tool, mode);
    QVERIFY(ended);
    QVERIFY(thread.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toString(), error);
    QCOMPARE(finished.at(0).at(1).toBool(), needCheck);

    const QStringList lines = logLines(l.log);
    QCOMPARE(lines.size(), toolRuns);
    if (toolRuns > 0)
        QCOMPARE(lines.first(),
            QStringLiteral("%1/b.pak %2/b.pak.patch %1/b.pak -f -s-1m -C-old-new-diff").arg(l.target, l.patchDir));
    if (toolRuns == 6)
        QCOMPARE(lines.last(),
            QStringLiteral("%1/x/a.pak %2/x/a.pak.patch %1/x/a.pak -f -s-1m -C-old-new-diff")
                .arg(l.target, l.patchDir));
    QCOMPARE(QFileInfo::exists(l.target + QStringLiteral("/n.txt")), filesChanged);
    QCOMPARE(QFileInfo::exists(l.target + QStringLiteral("/d.txt")), !filesChanged);
    // A new file whose source is missing is no error.
    QVERIFY(!QFileInfo::exists(l.target + QStringLiteral("/missing.txt")));
}

void tst_PatchStandIn::progressLines_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("reported"); // the percentage the line sets, -1 for none
    QTest::newRow("57") << QByteArray("progress:(57)") << 57;
    QTest::newRow("250 is capped") << QByteArray("progress:(250)") << 100;
    QTest::newRow("below 0 counts as 0") << QByteArray("progress:(-5)") << 0;
    QTest::newRow("no integer") << QByteArray("progress:(abc)") << -1;
    QTest::newRow("no marker") << QByteArray("working 57") << -1;
}

// Weights are the patch sizes: each of the two patches weighs 100 of 200.
void tst_PatchStandIn::progressLines()
{
    QFETCH(QByteArray, output);
    QFETCH(int, reported);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Layout l = makeLayout(dir.path(), QStringLiteral("b.pak.patch|m|100\nx/a.pak.patch|m|100\n"));
    StandIn standIn(l.log, 0, output);

    MergeThread thread;
    QSignalSpy progress(&thread, &MergeThread::MergeProgress);
    QSignalSpy finished(&thread, &MergeThread::MergeFinished);
    thread.SetPaths(l.patchDir + QStringLiteral("/manifest.txt"), l.target, l.temp);
    thread.start();
    QVERIFY(finished.wait(60000));
    QVERIFY(thread.wait(10000));
    QList<qulonglong> seen;
    for (const QList<QVariant> &args : qAsConst(progress)) {
        if (args.at(2).toInt() == MergeStep::Patching) {
            QCOMPARE(args.at(1).toULongLong(), qulonglong(200));
            seen.append(args.at(0).toULongLong());
        }
    }
    // Each patch's progress line comes before its completion.
    const QList<qulonglong> expected = reported < 0
        ? QList<qulonglong>{ 100, 200 }
        : QList<qulonglong>{ qulonglong(reported), 100, 100 + qulonglong(reported), 200 };
    QCOMPARE(seen, expected);
}

// A tool that outlives its wait is killed; the file counts as in use, the
// tool's unfinished output beside it is removed and the run ends without
// adding or deleting anything.
void tst_PatchStandIn::toolStillRunningMeansFileInUse()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Layout l = makeLayout(dir.path(), QStringLiteral("x/a.pak.patch|m|100\n"));
    StandIn standIn(l.log, 0, QByteArray());
    qputenv("HPATCHZ_STANDIN_SLEEP", "60");
    MergeThread::SetToolTimeoutMs(1500);
    MergeThread thread;
    QSignalSpy finished(&thread, &MergeThread::MergeFinished);
    thread.SetPaths(l.patchDir + QStringLiteral("/manifest.txt"), l.target, l.temp);
    thread.start();
    const bool ended = finished.wait(30000);
    MergeThread::SetToolTimeoutMs(60000);
    qunsetenv("HPATCHZ_STANDIN_SLEEP");
    QVERIFY(ended);
    QVERIFY(thread.wait(10000));
    QCOMPARE(finished.at(0).at(0).toString(),
        QStringLiteral("文件%1被占用中，无法修改或删除，请解除占用或者删除后再进行重试")
            .arg(l.target + QStringLiteral("/x/a.pak")));
    QCOMPARE(logLines(l.log).size(), 1);
    QCOMPARE(QDir(l.target + QStringLiteral("/x")).entryList(QDir::Files), QStringList{ QStringLiteral("a.pak") });
    QVERIFY(!QFileInfo::exists(l.target + QStringLiteral("/n.txt")));
    QVERIFY(QFileInfo::exists(l.target + QStringLiteral("/d.txt")));
}

void tst_PatchStandIn::reportsBelongToTheirOwnRun_data()
{
    QTest::addColumn<bool>("fromCallback");
    QTest::addColumn<QStringList>("errors");
    const QString diskFull = QStringLiteral("磁盘空间不足，请清理后重试。");
    // The second start comes after the failed run ended but before its report
    // was delivered: it is refused, and the failure is reported as one.
    QTest::newRow("a start before the report is refused") << false << QStringList{ diskFull };
    QTest::newRow("a start from the report runs on its own") << true << QStringList{ diskFull, QString() };
}

void tst_PatchStandIn::reportsBelongToTheirOwnRun()
{
    QFETCH(bool, fromCallback);
    QFETCH(QStringList, errors);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Layout l = makeLayout(dir.path(), QStringLiteral("b.pak.patch|m|100\n"));
    StandIn standIn(l.log, 24, QByteArray());
    GameUpdateContext ctx;
    ctx.bGameUpdate = true;
    ctx.patchDir = l.patchDir;
    ctx.mergeTargetPath = l.target;
    ctx.mergeTempPath = l.temp;

    Patcher *patcher = Patcher::GetInstance();
    QStringList reported;
    patcher->RegistCallbackFunc([&](PatcherCallbackInfo &info) {
        if (!info.bFinished && !info.bError)
            return;
        reported << info.errorString;
        if (fromCallback && reported.size() == 1) {
            qputenv("HPATCHZ_STANDIN_EXIT", "0");
            patcher->StartApplyPatch(ctx);
        }
    });
    patcher->StartApplyPatch(ctx);
    if (!fromCallback) {
        // Three attempts of the tool, then the thread ends; this thread stays
        // busy meanwhile, so the run's report waits in its queue.
        for (int i = 0; i < 600 && logLines(l.log).size() < 3; ++i)
            QThread::msleep(50);
        QThread::msleep(500);
        qputenv("HPATCHZ_STANDIN_EXIT", "0");
        patcher->StartApplyPatch(ctx);
    }
    QTRY_COMPARE_WITH_TIMEOUT(reported.size(), errors.size(), 60000);
    QTest::qWait(500);
    patcher->RegistCallbackFunc(nullptr);
    QCOMPARE(reported, errors);
}

QTEST_GUILESS_MAIN(tst_PatchStandIn)
#include "tst_patch_standin.moc"
