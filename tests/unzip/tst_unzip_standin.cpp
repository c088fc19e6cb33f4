#include "core/GameUpdateContext.h"
#include "core/UnZipComponent.h"
#include "unzip/ArchiverOutput.h"
#include "unzip/UnZipCallbackInfo.h"
#include "unzip/UnZipper.h"
#include "unzip/ZipThread.h"

#include "../support/TestSupport.h"
#include "UnZipReports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Morvaniel;
using namespace TestSupport;

namespace {

constexpr int FinishTimeoutMs = 60000;

} // namespace

// The extractor's handling of the archiver's output and exit codes, against a
// stand-in archiver whose "archives" are shell fragments (see standin-7z.sh).
class tst_UnZipStandIn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void percentFromOutput_data();
    void percentFromOutput();
    void exitCodes_data();
    void exitCodes();
    void argumentsAndProgress();
    void emptyListReportsLastCode();
    void missingArchiver();
    void protectedTargetIsNotEmptied_data();
    void protectedTargetIsNotEmptied();
    void destroyedDuringJob();
    void reportsBelongToTheirOwnJob_data();
    void reportsBelongToTheirOwnJob();

private:
    // An "archive" in the test folder with this shell fragment as content.
    QString archive(const QString &name, const QString &script);
    bool runJob(UnZipReports &r);

    QTemporaryDir m_dir;
    GameUpdateContext m_ctx;
};

void tst_UnZipStandIn::initTestCase()
{
    LogRecorder::install();
    QVERIFY2(QFileInfo(ZipThread::archiverPath()).isExecutable(), qPrintable(ZipThread::archiverPath()));
}

void tst_UnZipStandIn::cleanupTestCase()
{
    LogRecorder::uninstall();
}

void tst_UnZipStandIn::init()
{
    m_ctx = GameUpdateContext();
    m_ctx.unzipTargetDir = m_dir.filePath(QStringLiteral("target"));
    LogRecorder::clear();
}

QString tst_UnZipStandIn::archive(const QString &name, const QString &script)
{
    const QString path = m_dir.filePath(name);
    if (!writeFile(path, script.toUtf8()))
        return QString();
    return path;
}

bool tst_UnZipStandIn::runJob(UnZipReports &r)
{
    listenToUnZipper(r);
    UnZipper::GetInstance()->StartUnZip(m_ctx);
    [&] { QTRY_COMPARE_WITH_TIMEOUT(r.finals.size(), 1, FinishTimeoutMs); }();
    QCoreApplication::processEvents();
    return r.finals.size() == 1 && r.offThread == 0;
}

void tst_UnZipStandIn::percentFromOutput_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<int>("percent");
    QTest::newRow("blank and two digits") << " 45% - data/a.pak" << 45;
    QTest::newRow("one digit at the start") << "7% - a" << 7;
    QTest::newRow("three digits: last two") << "100% 3" << 0;
    QTest::newRow("backspaces before") << "\b\b\b\b  5%" << 5;
    QTest::newRow("first percent wins") << " 12% then 99%" << 12;
    QTest::newRow("no number before it") << "ab% done" << 0;
    QTest::newRow("percent first") << "% 10" << 0;
    QTest::newRow("no percent") << "Everything is Ok" << -1;
    QTest::newRow("empty") << "" << -1;
}

void tst_UnZipStandIn::percentFromOutput()
{
    QFETCH(QString, chunk);
    QFETCH(int, percent);
    QCOMPARE(archiverPercent(chunk), percent);
}

void tst_UnZipStandIn::exitCodes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("errStr");
    QTest::addColumn<bool>("secondRuns");

    QTest::newRow("0 is success") << "exit 0" << 0 << "" << true;
    QTest::newRow("1 warning") << "exit 1" << 1 << "" << false;
    QTest::newRow("2 fatal, text simplified")
        << "printf '  ERROR:  Data Error\\n\\n :  a.pak \\n' >&2; exit 2" << 2 << "ERROR: Data Error : a.pak" << false;
    // The report carries the error text of the last archive, the clean second one.
    QTest::newRow("2 with CRC Failed goes on")
        << "printf 'ERROR: CRC Failed : a.pak\\n' >&2; exit 2" << 0 << "" << true;
    QTest::newRow("crc in other case is a failure")
        << "printf 'crc failed\\n' >&2; exit 2" << 2 << "crc failed" << false;
    QTest::newRow("7 command line") << "exit 7" << 3 << "" << false;
    QTest::newRow("8 memory") << "exit 8" << 4 << "" << false;
    QTest::newRow("255 stopped") << "exit 255" << 5 << "" << false;
    QTest::newRow("undocumented code") << "exit 3" << 7 << "" << false;
    QTest::newRow("crash") << "kill -SEGV $$" << 7 << "" << false;
}

void tst_UnZipStandIn::exitCodes()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, errStr);
    QFETCH(bool, secondRuns);

    const QString marker = m_dir.filePath(QStringLiteral("second-ran"));
    QFile::remove(marker);
    m_ctx.unzipFiles = { archive(QStringLiteral("first.7z"), script),
        archive(QStringLiteral("second.7z"), QStringLiteral(": > '%1'; exit 0").arg(marker)) };

    UnZipReports r;
    QVERIFY(runJob(r));
    QCOMPARE(r.finals.first().code, code);
    QCOMPARE(r.finals.first().errStr, errStr);
    QCOMPARE(QFile::exists(marker), secondRuns);
}

void tst_UnZipStandIn::argumentsAndProgress()
{
    const QString argsLog = m_dir.filePath(QStringLiteral("args.log"));
    const QString release = m_dir.filePath(QStringLiteral("release"));
    const QString refusedMarker = m_dir.filePath(QStringLiteral("refused-ran"));
    QFile::remove(argsLog);
    qputenv("STANDIN_ARGS_LOG", QFile::encodeName(argsLog));
    QVERIFY(writeFile(m_ctx.unzipTargetDir + "/old.txt", "old"));
    m_ctx.updateMode = 1;
    const QString held
        = archive(QStringLiteral("held.7z"), QStringLiteral("printf ' 45%%'; hold '%1'; exit 0").arg(release));
    m_ctx.unzipFiles = { held };

    UnZipReports r;
    listenToUnZipper(r);
    UnZipper::GetInstance()->StartUnZip(m_ctx);
    QTRY_COMPARE_WITH_TIMEOUT(r.progress.size(), 1, FinishTimeoutMs);

    // A second job while the first is held: refused, the first job unchanged.
    GameUpdateContext other;
    other.unzipFiles = { archive(QStringLiteral("refused.7z"), QStringLiteral(": > '%1'").arg(refusedMarker)),
        archive(QStringLiteral("refused2.7z"), QStringLiteral("exit 0")) };
    other.unzipTargetDir = m_dir.filePath(QStringLiteral("other"));
    UnZipper::GetInstance()->StartUnZip(other);
    QCOMPARE(LogRecorder::count(QStringLiteral("StartUnZip refused")), 1);

    QVERIFY(writeFile(release, ""));
    QTRY_COMPARE_WITH_TIMEOUT(r.finals.size(), 1, FinishTimeoutMs);
    QCoreApplication::processEvents();
    qunsetenv("STANDIN_ARGS_LOG");

    QCOMPARE(r.finals.size(), 1);
    QCOMPARE(r.offThread, 0);
    QCOMPARE(r.progress.size(), 1);
    QCOMPARE(r.progress.first().percent, 45);
    QCOMPARE(r.progress.first().curCount, 0);
    QCOMPARE(r.progress.first().totalCount, 1);
    QCOMPARE(r.finals.first().code, 0);
    QCOMPARE(r.finals.first().percent, 45);
    QVERIFY(!QFile::exists(refusedMarker));
    QVERIFY2(QFile::exists(m_ctx.unzipTargetDir + "/old.txt"), "updateMode 1 keeps the target's content");

    QFile log(argsLog);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList args = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(args, (QStringList{ "x", "-bsp1", "-y", "-o" + m_ctx.unzipTargetDir, held }));
}

void tst_UnZipStandIn::emptyListReportsLastCode()
{
    m_ctx.unzipFiles = { archive(QStringLiteral("memory.7z"), QStringLiteral("exit 8")) };
    UnZipReports first;
    QVERIFY(runJob(first));
    QCOMPARE(first.finals.first().code, 4);

    QVERIFY(writeFile(m_ctx.unzipTargetDir + "/kept.txt", "kept"));
    m_ctx.unzipFiles.clear();
    m_ctx.updateMode = 0;
    UnZipReports empty;
    QVERIFY(runJob(empty));
    QCOMPARE(empty.finals.first().code, 4);
    QVERIFY(empty.progress.isEmpty());
    QVERIFY2(QFile::exists(m_ctx.unzipTargetDir + "/kept.txt"), "an empty job leaves the target alone");
}

void tst_UnZipStandIn::missingArchiver()
{
    const QString tool = ZipThread::archiverPath();
    const QString away = tool + QStringLiteral(".away");
    QVERIFY(QFile::rename(tool, away));
    m_ctx.unzipFiles = { archive(QStringLiteral("a.7z"), QStringLiteral("exit 0")),
        archive(QStringLiteral("b.7z"), QStringLiteral("exit 0")) };
    UnZipReports r;
    const bool finished = runJob(r);
    QVERIFY(QFile::rename(away, tool));
    QVERIFY(finished);
    QCOMPARE(r.finals.first().code, int(UnZipArchiverMissing));
    QVERIFY2(
        r.finals.first().errStr.contains(QStringLiteral("could not be started")), qPrintable(r.finals.first().errStr));
    QCOMPARE(LogRecorder::count(QStringLiteral("start unzip file")), 1);
}

void tst_UnZipStandIn::protectedTargetIsNotEmptied_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("climbs with ..") << m_dir.filePath(QStringLiteral("a/../kept"));
    QTest::newRow("the program's folder") << QCoreApplication::applicationDirPath();
}

// A fresh extraction empties its target first, but never a folder that holds
// more than a game: the program itself, or wherever ".." leads.
void tst_UnZipStandIn::protectedTargetIsNotEmptied()
{
    QFETCH(QString, target);
    const QString marker = QDir::cleanPath(target) + QStringLiteral("/marker.txt");
    QVERIFY(writeFile(marker, "kept"));
    m_ctx.unzipTargetDir = target;
    m_ctx.unzipFiles = { archive(QStringLiteral("ok.7z"), QStringLiteral("exit 0")) };
    UnZipReports r;
    const bool finished = runJob(r);
    const bool kept = QFile::exists(marker);
    QFile::remove(marker);
    QVERIFY(finished);
    QCOMPARE(r.finals.first().code, 0);
    QVERIFY(kept);
    QCOMPARE(LogRecorder::count(QStringLiteral("refusing to empty")), 1);
}

// Last: it destroys the singleton. The running archiver is stopped with it, no
// report follows, and the facade that pointed at it ignores further calls.
void tst_UnZipStandIn::destroyedDuringJob()
{
    const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
    const QString never = m_dir.filePath(QStringLiteral("never"));
    m_ctx.unzipFiles = { archive(
        QStringLiteral("endless.7z"), QStringLiteral("echo $$ > '%1'; hold '%2'; exit 0").arg(pidFile, never)) };
    UnZipComponent component;
    UnZipReports r;
    component.RegistCallbackFunc(
        [&r](UnZipCallbackInfo &info) { (info.bComplete ? r.finals : r.progress).append(info); });
    component.StartUnZip(m_ctx);
    QTRY_VERIFY_WITH_TIMEOUT(!readFile(pidFile).trimmed().isEmpty(), FinishTimeoutMs);
    const QString archiverProc = QStringLiteral("/proc/") + QString::fromLatin1(readFile(pidFile).trimmed());
    QVERIFY(QFileInfo::exists(archiverProc));

    delete UnZipper::GetInstance();
    QVERIFY2(!QFileInfo::exists(archiverProc), "the archiver must not outlive its job");
    QCoreApplication::processEvents();
    QVERIFY(r.finals.isEmpty());

    component.RegistCallbackFunc([&r](UnZipCallbackInfo &info) { r.finals.append(info); });
    component.StartUnZip(m_ctx);
    QCoreApplication::processEvents();
    QVERIFY(r.finals.isEmpty());
}

void tst_UnZipStandIn::reportsBelongToTheirOwnJob_data()
{
    QTest::addColumn<bool>("fromCallback");
    QTest::addColumn<QList<int>>("codes");
    // A second start after the corrupt archive's job ended, before its report
    // was delivered, is refused: the failure reaches the host.
    QTest::newRow("a start before the report is refused") << false << QList<int>{ 2 };
    QTest::newRow("a start from the report runs on its own") << true << QList<int>{ 2, 0 };
}

void tst_UnZipStandIn::reportsBelongToTheirOwnJob()
{
    QFETCH(bool, fromCallback);
    QFETCH(QList<int>, codes);
    const QString ended = m_dir.filePath(QStringLiteral("corrupt-ended"));
    QFile::remove(ended);
    const QString corrupt = archive(
        QStringLiteral("corrupt.7z"), QStringLiteral("printf 'ERROR: Data Error\\n' >&2; : > '%1'; exit 2").arg(ended));
    const QString good = archive(QStringLiteral("good.7z"), QStringLiteral("exit 0"));
    m_ctx.unzipFiles = { corrupt };

    UnZipper *unzipper = UnZipper::GetInstance();
    QList<int> reported;
    unzipper->RegistCallbackFunc([&](UnZipCallbackInfo &info) {
        if (!info.bComplete)
            return;
        reported << info.code;
        if (fromCallback && reported.size() == 1) {
            m_ctx.unzipFiles = { good };
            unzipper->StartUnZip(m_ctx);
        }
    });
    unzipper->StartUnZip(m_ctx);
    if (!fromCallback) {
        // The job ends while this thread is busy, so its report waits in the queue.
        for (int i = 0; i < 600 && !QFileInfo::exists(ended); ++i)
            QThread::msleep(50);
        QThread::msleep(500);
        m_ctx.unzipFiles = { good };
        unzipper->StartUnZip(m_ctx);
    }
    QTRY_COMPARE_WITH_TIMEOUT(reported.size(), codes.size(), FinishTimeoutMs);
    QTest::qWait(500);
    unzipper->RegistCallbackFunc(nullptr);
    QCOMPARE(reported, codes);
}

QTEST_GUILESS_MAIN(tst_UnZipStandIn)
#include "tst_unzip_standin.moc"
