#include "tst_download.h"

#include "DownloadListChild.h"

#include "../support/TestSupport.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/Global.h"
#include "download/DownloaderManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <algorithm>

using namespace Morvaniel;
using HttpTest::HttpFaultRule;
using HttpTest::HttpServer;
using TestSupport::readFile;
using TestSupport::writeFile;

DownloadTimings tst_Download::shortTimings()
{
    DownloadTimings t;
    t.watchdogMs = 8000;
    t.restartMs = 150;
    t.contentTimeoutMs = 1000;
    t.contentRetryMs = 100;
    return t;
}

QByteArray tst_Download::content(int size, int seed)
{
    return HttpServer::generatedBytes(qint64(seed) << 32, size);
}

DownloadFile tst_Download::addEntry(const QString &name, const QByteArray &bytes, const QString &path)
{
    const QString serverPath = path.isEmpty() ? QStringLiteral("/files/") + name : path;
    m_server->addFile(serverPath, bytes);
    DownloadFile entry;
    entry.fileName = name;
    entry.localPath = m_cache + QLatin1Char('/') + name;
    entry.size = bytes.size();
    entry.url = m_server->url(serverPath);
    m_ctx->downloadList.append(entry);
    return entry;
}

bool tst_Download::waitFinal(int timeoutMs)
{
    if (!m_recorder->finals.isEmpty())
        return true;
    QSignalSpy spy(m_recorder.get(), &TestSupport::DownloadRecorder::finalReport);
    return spy.wait(timeoutMs);
}

void tst_Download::initTestCase()
{
    m_ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    QVERIFY(m_ctx);
    QVERIFY(GetDownloadComponent());
}

void tst_Download::init()
{
    DownloadTimings::SetForTests(shortTimings());
    m_server = std::make_unique<HttpServer>();
    QVERIFY(m_server->listen());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_cache = m_dir->filePath(QStringLiteral("Cache"));
    QVERIFY(QDir().mkpath(m_cache));
    m_recorder = std::make_unique<TestSupport::DownloadRecorder>();
    GetDownloadComponent()->RegistCallbackFunc(m_recorder->callback());
    m_ctx->downloadList.clear();
    m_ctx->bGameUpdate = false;
    m_ctx->setting.LimitSpeed = -1;
    m_ctx->newestInfo.version = Version();
}

void tst_Download::cleanup()
{
    // Leaves the manager idle whatever the test did, with no callback into
    // the recorder that is about to go.
    GetDownloadComponent()->PauseDownload(*m_ctx);
    GetDownloadComponent()->RegistCallbackFunc(nullptr);
    m_server.reset();
    m_recorder.reset();
    m_dir.reset();
    Global::Var::gameVersionPrefix.clear();
    Global::Var::bVerifyPeer = true;
}

void tst_Download::emptyListSucceedsAtOnce()
{
    GetDownloadComponent()->StartDownload(*m_ctx);
    QCOMPARE(m_recorder->finals.size(), 1);
    const DownloadCallbackInfo info = m_recorder->finals.first();
    QVERIFY(info.bFinished && !info.bError && info.totalSize == 0 && info.downloadedSize == 0);
    QCOMPARE(m_server->requestCount(), 0);
}

// Restarts are for failures after data has flowed in the process; in a fresh
// one, the first failure is the final report, without a restart.
void tst_Download::failureBeforeAnyDataIsNotRetried()
{
    const QByteArray body = content(5000, 1);
    m_server->addFile("/files/a.bin", body);
    HttpFaultRule cut;
    cut.resetAfter = 0;
    m_server->setRule("/files/a.bin", cut);

    const QByteArray out = runChild(
        { "0", "0", m_server->url("/files/a.bin"), m_cache + QStringLiteral("/a.bin"), QString::number(body.size()) });
    QVERIFY2(out.contains("code=2 "), out.constData());
    QVERIFY2(out.contains(QStringLiteral("error=下载失败，请检查网络 [code:").toUtf8()), out.constData());
    // Qt itself may resend once or twice on a connection that closed under it.
    QVERIFY2(m_server->requestCount() <= 3, qPrintable(QString::number(m_server->requestCount())));
}

void tst_Download::sevenEntriesRunFiveAtATime()
{
    QVector<QByteArray> bodies;
    // Each body takes about three seconds, so that the first five are surely
    // all running at once even on a slow, busy machine.
    HttpFaultRule slow;
    slow.bytesPerSecond = 8 * 1024;
    for (int i = 0; i < 7; ++i) {
        bodies.append(content(24 * 1024, 10 + i));
        addEntry(QStringLiteral("f%1.bin").arg(i), bodies.last());
        m_server->setRule(QStringLiteral("/files/f%1.bin").arg(i), slow);
    }
    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(30000));
    QTest::qWait(100);

    QCOMPARE(m_recorder->finals.size(), 1);
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(m_recorder->finals.first().downloadedSize, qint64(7 * 24 * 1024));
    QVERIFY(m_recorder->reports.last().bFinished); // nothing after the final report
    QCOMPARE(m_server->maxActiveResponses(), 5);

    const QList<HttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 7);
    QSet<QString> firstFive;
    for (int i = 0; i < 5; ++i)
        firstFive.insert(requests.at(i).path);
    QCOMPARE(firstFive,
        QSet<QString>({ "/files/f0.bin", "/files/f1.bin", "/files/f2.bin", "/files/f3.bin", "/files/f4.bin" }));
    QCOMPARE(requests.at(5).path, QStringLiteral("/files/f5.bin"));
    QCOMPARE(requests.at(6).path, QStringLiteral("/files/f6.bin"));
    for (int i = 0; i < 7; ++i)
        QCOMPARE(readFile(m_ctx->downloadList.at(i).localPath), bodies.at(i));
}

void tst_Download::resumeAsksForTheRest_data()
{
    QTest::addColumn<int>("onDisk");
    QTest::addColumn<bool>("redirected");
    QTest::newRow("complete file needs no request") << 20000 << false;
    QTest::newRow("partial file resumes from its end") << 1000 << false;
    QTest::newRow("a redirect keeps the range") << 1000 << true;
}

void tst_Download::resumeAsksForTheRest()
{
    QFETCH(int, onDisk);
    QFETCH(bool, redirected);
    const QByteArray body = content(20000, 3);
    m_server->addFile("/real/r.bin", body);
    const DownloadFile entry = addEntry("r.bin", body, redirected ? "/alias/r.bin" : "/real/r.bin");
    HttpFaultRule redirect;
    redirect.redirectTo = "/real/r.bin";
    m_server->setRule("/alias/r.bin", redirect);
    QVERIFY(writeFile(entry.localPath, body.left(onDisk)));

    GetDownloadComponent()->ResumeDownload(*m_ctx);
    QVERIFY(waitFinal(10000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(m_recorder->finals.first().downloadedSize, qint64(body.size()));
    QCOMPARE(m_ctx->downloadedAtStart, qint64(onDisk));
    QCOMPARE(readFile(entry.localPath), body);
    QCOMPARE(m_server->requestCount("/real/r.bin"), onDisk < body.size() ? 1 : 0);
    if (onDisk < body.size())
        QCOMPARE(m_server->requests().last().headers.value("range"), "bytes=" + QByteArray::number(onDisk) + '-');
}

void tst_Download::pauseThenStartOrResume_data()
{
    QTest::addColumn<bool>("resume");
    QTest::newRow("resume keeps the partial file") << true;
    QTest::newRow("start deletes the partial file") << false;
}

void tst_Download::pauseThenStartOrResume()
{
    QFETCH(bool, resume);
    const QByteArray body = content(200 * 1024, 5);
    const DownloadFile entry = addEntry("p.bin", body);
    HttpFaultRule slow;
    slow.bytesPerSecond = 100 * 1024;
    m_server->setRuleForPathRequest("/files/p.bin", 0, slow);

    GetDownloadComponent()->StartDownload(*m_ctx);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(entry.localPath).size() > 10 * 1024, 10000);
    // A second start during a run changes nothing.
    GetDownloadComponent()->StartDownload(*m_ctx);
    GetDownloadComponent()->PauseDownload(*m_ctx);
    const qint64 partial = QFileInfo(entry.localPath).size();
    QTest::qWait(200);
    QCOMPARE(QFileInfo(entry.localPath).size(), partial); // nothing is written while paused
    QVERIFY(partial < body.size());
    QCOMPARE(m_server->requestCount(), 1);
    QVERIFY(m_recorder->finals.isEmpty());

    if (resume)
        GetDownloadComponent()->ResumeDownload(*m_ctx);
    else
        GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(10000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(m_server->requestCount(), 2);
    const QByteArray range = m_server->requests().at(1).headers.value("range");
    QCOMPARE(range, resume ? "bytes=" + QByteArray::number(partial) + '-' : QByteArray("bytes=0-"));
    QCOMPARE(readFile(entry.localPath), body);
}

void tst_Download::failureAfterDataRestarts_data()
{
    QTest::addColumn<int>("cutAfter");
    QTest::addColumn<int>("failures");
    QTest::newRow("one failure") << 3000 << 1;
    // Every attempt brings 1000 new bytes, so the retry count never runs out.
    QTest::newRow("data between eight failures") << 1000 << 8;
}

void tst_Download::failureAfterDataRestarts()
{
    QFETCH(int, cutAfter);
    QFETCH(int, failures);
    const QByteArray body = content(cutAfter * failures + 5000, 6);
    const DownloadFile entry = addEntry("cut.bin", body);
    HttpFaultRule cut;
    cut.resetAfter = cutAfter;
    for (int i = 0; i < failures; ++i)
        m_server->setRuleForPathRequest("/files/cut.bin", i, cut);

    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(30000));
    QVERIFY2(m_recorder->finals.first().bFinished, qPrintable(m_recorder->finals.first().errorString));
    // Qt may resend a request on its own when a kept-alive connection closes
    // under it, so the server can see a range twice; it never sees one go back.
    const QList<HttpServer::Request> requests = m_server->requests();
    QVERIFY(requests.size() >= failures + 1);
    QVERIFY(requests.size() <= 2 * (failures + 1));
    qint64 previous = 0;
    for (const HttpServer::Request &r : requests) {
        const QByteArray range = r.headers.value("range");
        QVERIFY(range.startsWith("bytes=") && range.endsWith('-'));
        const qint64 start = range.mid(6, range.size() - 7).toLongLong();
        QVERIFY2(start >= previous && start % cutAfter == 0, range.constData());
        previous = start;
    }
    QCOMPARE(readFile(entry.localPath), body);
}

void tst_Download::fourFailuresWithoutDataGiveCode2()
{
    const QByteArray body = content(50000, 7);
    const DownloadFile entry = addEntry("x.bin", body);
    HttpFaultRule someData;
    someData.resetAfter = 2000;
    HttpFaultRule none;
    none.resetAfter = 0;
    m_server->setRule("/files/x.bin", none);
    m_server->setRuleForPathRequest("/files/x.bin", 0, someData);

    QElapsedTimer clock;
    clock.start();
    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(30000));
    QTest::qWait(400); // no further restart may follow the report
    QCOMPARE(m_recorder->finals.size(), 1);
    QVERIFY(m_recorder->finals.first().bError);
    QCOMPARE(int(m_recorder->finals.first().errorCode), 2);
    // One failure after data, then four restarts without data; the last of
    // them fails for good. (Qt may add resends of its own on closed connections.)
    QVERIFY(m_server->requestCount() >= 5);
    QVERIFY(m_server->requestCount() <= 10);
    QVERIFY(clock.elapsed() >= 4 * shortTimings().restartMs);
    QCOMPARE(readFile(entry.localPath), body.left(2000));
}

void tst_Download::resumeWhileARestartWaits_data()
{
    QTest::addColumn<bool>("pauseFirst");
    QTest::newRow("resume leaves the restart armed") << false;
    QTest::newRow("pause then resume continues at once") << true;
}

void tst_Download::resumeWhileARestartWaits()
{
    QFETCH(bool, pauseFirst);
    DownloadTimings timings = shortTimings();
    timings.restartMs = 1000; // a window wide enough to act in
    DownloadTimings::SetForTests(timings);
    const QByteArray body = content(40000, 19);
    const DownloadFile entry = addEntry("w.bin", body);
    HttpFaultRule cut;
    cut.resetAfter = 3000;
    m_server->setRuleForPathRequest("/files/w.bin", 0, cut);

    GetDownloadComponent()->StartDownload(*m_ctx);
    // The failed transfer is released while the run waits for its restart.
    QTRY_COMPARE_WITH_TIMEOUT(DownloaderManager::GetInstance()->GetCurrentDownloaderListSize(), 0, 10000);
    QVERIFY(m_recorder->finals.isEmpty());
    if (pauseFirst)
        GetDownloadComponent()->PauseDownload(*m_ctx);
    GetDownloadComponent()->ResumeDownload(*m_ctx);
    QVERIFY(waitFinal(20000));
    QVERIFY2(m_recorder->finals.first().bFinished, qPrintable(m_recorder->finals.first().errorString));
    QCOMPARE(readFile(entry.localPath), body);
    QTest::qWait(timings.restartMs + 200); // no armed restart may outlive the report
    QCOMPARE(m_recorder->finals.size(), 1);
}

QByteArray tst_Download::runChild(const QStringList &args)
{
    // The spy records the signal only with its argument types known; whether
    // an earlier case registered them must not matter.
    qRegisterMetaType<QProcess::ExitStatus>("QProcess::ExitStatus");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(DownloadListChild::kEnv, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForStarted(10000) || !finished.wait(60000))
        return QByteArray("child did not finish");
    return child.readAllStandardOutput();
}

// A full disk is made with RLIMIT_FSIZE, which only POSIX systems have.
#ifdef Q_OS_UNIX
#define SKIP_WITHOUT_FILE_SIZE_LIMIT()
#else
#define SKIP_WITHOUT_FILE_SIZE_LIMIT() QSKIP("a full disk is made with RLIMIT_FSIZE, which this system lacks")
#endif

void tst_Download::shortWriteGivesCode5()
{
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    const QByteArray body = content(512 * 1024, 9);
    m_server->addFile("/files/big.bin", body);
    const QString target = m_cache + QStringLiteral("/big.bin");

    const QByteArray out = runChild(
        { QString::number(64 * 1024), "0", m_server->url("/files/big.bin"), target, QString::number(body.size()) });
    QVERIFY2(out.contains("code=5"), out.constData());
    QVERIFY(QFileInfo(target).size() <= 64 * 1024);
    QCOMPARE(readFile(target), body.left(int(QFileInfo(target).size())));
}

void tst_Download::failureReportCountsTheBytesOnDisk()
{
    SKIP_WITHOUT_FILE_SIZE_LIMIT();
    // Under a limit the first file takes the whole budget while the second's
    // reply fills up; when the first hits the file-size limit, stopping the
    // run writes what the second's reply holds. The report must count it.
    QStringList args{ QString::number(64 * 1024), "256" };
    QVector<QByteArray> bodies;
    for (const QString name : { "one.bin", "two.bin" }) {
        bodies.append(content(512 * 1024, 20 + bodies.size()));
        m_server->addFile("/files/" + name, bodies.last());
        args << m_server->url("/files/" + name) << m_cache + '/' + name << QString::number(bodies.last().size());
    }
    const QByteArray out = runChild(args);
    QVERIFY2(out.contains("code=5"), out.constData());
    qint64 onDisk = 0;
    for (int i = 0; i < bodies.size(); ++i) {
        const QByteArray bytes = readFile(args.at(3 + 3 * i));
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(bytes, bodies.at(i).left(bytes.size()));
        onDisk += bytes.size();
    }
    QVERIFY2(out.contains("downloaded=" + QByteArray::number(onDisk) + '\n'),
        qPrintable(out.trimmed() + " on disk: " + QByteArray::number(onDisk)));
}

void tst_Download::speedLimit_data()
{
    QTest::addColumn<int>("limitKiB");
    QTest::addColumn<bool>("gameUpdate");
    QTest::addColumn<int>("minMs");
    // 1 MiB at 256 KiB/s: at most one second's worth may come early.
    QTest::newRow("256 KiB/s") << 256 << true << 2500;
    QTest::newRow("limit ignored outside a game update") << 256 << false << 0;
    QTest::newRow("zero means no limit") << 0 << true << 0;
    // Limits a user may type into config.ini whose byte counts pass 2^31.
    QTest::newRow("600000 KiB/s, reply buffer beyond 32 bits") << 600000 << true << 0;
    QTest::newRow("2200000 KiB/s, pump budget beyond 32 bits") << 2200000 << true << 0;
}

void tst_Download::speedLimit()
{
    QFETCH(int, limitKiB);
    QFETCH(bool, gameUpdate);
    QFETCH(int, minMs);
    const QByteArray body = content(1024 * 1024, 11);
    const DownloadFile entry = addEntry("s.bin", body);
    m_ctx->bGameUpdate = gameUpdate;
    m_ctx->setting.LimitSpeed = limitKiB;
    GetDownloadComponent()->SetSpeedLimit();

    QElapsedTimer clock;
    clock.start();
    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(30000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(m_recorder->finals.first().bFinished, qPrintable(m_recorder->finals.first().errorString));
    QCOMPARE(readFile(entry.localPath), body);
    QVERIFY2(elapsed >= minMs, qPrintable(QString::number(elapsed)));
    float lastProgress = 0.0f;
    for (const DownloadCallbackInfo &r : qAsConst(m_recorder->reports)) {
        QVERIFY(r.progress >= lastProgress && r.progress <= 1.0f);
        QVERIFY(r.downloadedSize <= r.totalSize);
        lastProgress = r.progress;
    }
    QCOMPARE(m_recorder->reports.last().progress, 1.0f);
    if (minMs > 0) {
        for (const DownloadCallbackInfo &r : qAsConst(m_recorder->reports))
            QVERIFY2(r.speed <= 2 * limitKiB * 1024, qPrintable(QString::number(r.speed)));
        // Ticks came while data flowed, and they estimated the time left.
        QVERIFY(std::any_of(m_recorder->reports.cbegin(), m_recorder->reports.cend(),
            [](const DownloadCallbackInfo &r) { return !r.bFinished && r.speed > 0 && r.remainTime > 0; }));
    } else {
        QVERIFY2(elapsed < 2500, qPrintable(QString::number(elapsed)));
    }
}

void tst_Download::versionPrefixIsInsertedIntoUrl()
{
    const QByteArray body = content(3000, 12);
    m_server->addFile("/v/1.2.3.4_cn/pkg.7z", body);
    addEntry("pkg.7z", body, "/v/1.2.3.4/pkg.7z");
    const QString originalUrl = m_ctx->downloadList.first().url;
    m_ctx->newestInfo.version = versionFromString("1.2.3.4");
    Global::Var::gameVersionPrefix = "_cn";

    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(10000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(m_server->requests().first().path, QStringLiteral("/v/1.2.3.4_cn/pkg.7z"));
    QCOMPARE(m_ctx->downloadList.first().url, originalUrl);
}

void tst_Download::startNeverEmptiesAClimbingRoot()
{
    // The root folder is the first entry's parent; with ".." in it, it is not
    // the cache folder it should be, and a fresh start must not empty it.
    const QString keep = m_dir->filePath("Keep");
    QVERIFY(writeFile(keep + "/sentinel.txt", "user data"));
    const QByteArray body = content(2000, 15);
    DownloadFile entry = addEntry("c.bin", body);
    entry.localPath = m_cache + "/../Keep/c.bin";
    m_ctx->downloadList = { entry };

    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(10000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(readFile(keep + "/sentinel.txt"), QByteArray("user data"));
    QCOMPARE(readFile(keep + "/c.bin"), body);
}

void tst_Download::entriesOfOneLocalFile_data()
{
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("fetchedOnce");
    QTest::newRow("the same package twice is fetched once") << "/files/same.bin"
                                                            << "aa" << false << true;
    QTest::newRow("one name from two server folders") << "/other/same.bin"
                                                      << "aa" << false << false;
    QTest::newRow("one url with two digests, resumed") << "/files/same.bin"
                                                       << "bb" << true << false;
}

void tst_Download::entriesOfOneLocalFile()
{
    QFETCH(QString, serverPath);
    QFETCH(QString, md5);
    QFETCH(bool, resume);
    QFETCH(bool, fetchedOnce);
    const QByteArray body = content(20000, 17);
    DownloadFile first = addEntry("same.bin", body);
    first.md5 = "aa";
    m_server->addFile("/other/same.bin", content(20000, 18));
    DownloadFile second = first;
    second.url = m_server->url(serverPath);
    second.md5 = md5;
    second.localPath = m_cache + "/sub/../same.bin";
    m_ctx->downloadList = { first, second };
    QVERIFY(writeFile(m_cache + "/keep.txt", "kept"));

    if (resume)
        GetDownloadComponent()->ResumeDownload(*m_ctx);
    else
        GetDownloadComponent()->StartDownload(*m_ctx);
    if (fetchedOnce) {
        QVERIFY(waitFinal(10000));
        QVERIFY2(m_recorder->finals.first().bFinished, qPrintable(m_recorder->finals.first().errorString));
        QCOMPARE(m_recorder->finals.first().totalSize, qint64(body.size()));
        QCOMPARE(m_recorder->finals.first().downloadedSize, qint64(body.size()));
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(readFile(first.localPath), body);
        return;
    }
    QCOMPARE(m_recorder->finals.size(), 1); // before anything was sent
    QTest::qWait(300);
    QCOMPARE(m_recorder->finals.size(), 1);
    QCOMPARE(int(m_recorder->finals.first().errorCode), 2);
    QCOMPARE(m_recorder->finals.first().errorString,
        QStringLiteral("下载列表中的文件%1对应不同的内容").arg(second.localPath));
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(readFile(m_cache + "/keep.txt"), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(first.localPath));
}

void tst_Download::stallGivesCode3WithTheRealWatchdog()
{
    DownloadTimings::SetForTests(DownloadTimings());
    QCOMPARE(DownloadTimings::Current().watchdogMs, 20000);
    const QByteArray body = content(50000, 13);
    const DownloadFile entry = addEntry("stall.bin", body);
    HttpFaultRule stall;
    stall.stallAfter = 1000;
    m_server->setRule("/files/stall.bin", stall);

    QElapsedTimer clock;
    clock.start();
    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(40000));
    QVERIFY(clock.elapsed() >= 19000);
    QCOMPARE(m_recorder->finals.size(), 1);
    QCOMPARE(int(m_recorder->finals.first().errorCode), 3);
    QCOMPARE(m_recorder->finals.first().errorString, QStringLiteral("网络请求超时，请检查网络问题"));
    QCOMPARE(m_server->requestCount(), 1); // a time-out is never retried
    QCOMPARE(readFile(entry.localPath), body.left(1000));
}

void tst_Download::logLinesKeepPercentSignsOfUrlAndPath()
{
    const QByteArray body = content(3000, 16);
    DownloadFile entry = addEntry("a.bin", body, "/esc/a%2Fb.bin");
    m_server->addFile("/esc/a/b.bin", body);
    entry.localPath = m_cache + "/a%1b.bin";
    m_ctx->downloadList = { entry };
    const auto expect = [](const QString &line) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(line)));
    };
    expect("[Downloader]:StartDownload m_downloadUrl is " + entry.url + ", file=" + entry.localPath + ", size=3000");
    expect("[Downloader]:download url is " + entry.url + ", received bytes=0");
    expect("[DownloadManager]:download url is " + entry.url + ", received bytes=0");

    GetDownloadComponent()->StartDownload(*m_ctx);
    QVERIFY(waitFinal(10000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(readFile(entry.localPath), body);
}

void tst_Download::generatedFilesResumeByteExact()
{
    // The benchmark and end-to-end runs use generated files; a resume must see
    // exactly the bytes generatedBytes() promises.
    const qint64 size = 3 * 1024 * 1024 + 17;
    m_server->addGeneratedFile("/gen.bin", size);
    DownloadFile entry;
    entry.fileName = "gen.bin";
    entry.localPath = m_cache + "/gen.bin";
    entry.size = size;
    entry.url = m_server->url("/gen.bin");
    m_ctx->downloadList = { entry };
    QVERIFY(writeFile(entry.localPath, HttpServer::generatedBytes(0, 300001)));

    GetDownloadComponent()->ResumeDownload(*m_ctx);
    QVERIFY(waitFinal(20000));
    QVERIFY(m_recorder->finals.first().bFinished);
    QCOMPARE(m_server->requests().first().headers.value("range"), QByteArray("bytes=300001-"));
    QVERIFY(readFile(entry.localPath) == HttpServer::generatedBytes(0, size));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(DownloadListChild::kEnv))
        return DownloadListChild::Run(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Download test;
    return QTest::qExec(&test, argc, argv);
}

// A file fetched in pieces over several connections: whatever the earlier
// runs left on disk and however the server answers, the file ends byte-exact,
// no piece file stays behind, and every byte asked for is one still missing.
void tst_Download::largeFileInPieces_data()
{
    QTest::addColumn<QString>("before"); // what is on disk when the run starts
    QTest::addColumn<bool>("ignoreRange");
    QTest::addColumn<int>("expectedRequests"); // -1: not checked
    QTest::newRow("fresh, four pieces at once") << "" << false << 4;
    QTest::newRow("fresh, the server ignores Range") << "" << true << -1;
    QTest::newRow("paused midway, resumed") << "pause" << false << -1;
    QTest::newRow("another process killed midway, resumed") << "killed" << false << -1;
    QTest::newRow("pieces of an earlier run taken up") << "pieces" << false << 3;
    QTest::newRow("killed while joining: no request") << "joining" << false << 0;
    QTest::newRow("a piece running into the next one is dropped") << "overrun" << false << -1;
    QTest::newRow("a partial file of an unsplit run is cut") << "partial" << false << 3;
    QTest::newRow("below two pieces' size: one request") << "small" << false << 1;
}

void tst_Download::largeFileInPieces()
{
    QFETCH(QString, before);
    QFETCH(bool, ignoreRange);
    QFETCH(int, expectedRequests);
    constexpr qint64 piece = 256 * 1024;
    const int size = before == "small" ? int(piece + 1000) : int(4 * piece + 777);
    const QByteArray body = content(size, 31);
    const DownloadFile entry = addEntry("big.7z", body);
    HttpFaultRule rule;
    rule.ignoreRange = ignoreRange;
    // Slow enough that the pieces overlap in time and a pause finds them running.
    rule.bytesPerSecond = 512 * 1024;
    m_server->setRule("/files/big.7z", rule);
    const auto pieceFile = [&](qint64 offset) { return entry.localPath + '.' + QString::number(offset) + ".piece"; };
    // The cut of a fresh run: four pieces of about a quarter each.
    const qint64 q1 = size / 4, q2 = size / 2, q3 = 3 * qint64(size) / 4;
    if (before == "pieces") {
        QVERIFY(writeFile(entry.localPath, body.left(1000)));
        QVERIFY(writeFile(pieceFile(q1), body.mid(int(q1), int(q2 - q1)))); // complete
        QVERIFY(writeFile(pieceFile(q2), body.mid(int(q2), 5000)));
        QVERIFY(writeFile(pieceFile(q3), QByteArray()));
    } else if (before == "joining") {
        // The piece at q1 is appended and gone; the one at q2 half appended.
        QVERIFY(writeFile(entry.localPath, body.left(int(q2 + 3000))));
        QVERIFY(writeFile(pieceFile(q2), body.mid(int(q2), int(q3 - q2))));
        QVERIFY(writeFile(pieceFile(q3), body.mid(int(q3))));
    } else if (before == "overrun") {
        QVERIFY(writeFile(pieceFile(q1), body.mid(int(q1), int(q2 - q1) + 500)));
        QVERIFY(writeFile(pieceFile(q2), body.mid(int(q2), 100)));
    } else if (before == "partial") {
        QVERIFY(writeFile(entry.localPath, body.left(int(piece))));
    }
    DownloaderManager::GetInstance()->SetSplit({ 4, piece });
    if (before == "pause") {
        GetDownloadComponent()->StartDownload(*m_ctx);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pieceFile(q2)).size() > 10 * 1024, 10000);
        GetDownloadComponent()->PauseDownload(*m_ctx);
        QVERIFY(QFileInfo::exists(pieceFile(q3)));
    }
    if (before == "killed") {
        // As the task manager would: no chance to write anything down.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(DownloadListChild::kEnv, "1");
        env.insert(DownloadListChild::kSplitEnv, QStringLiteral("4,%1").arg(piece));
        child.setProcessEnvironment(env);
        child.start(
            QCoreApplication::applicationFilePath(), { "0", "0", entry.url, entry.localPath, QString::number(size) });
        QVERIFY(child.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(pieceFile(q2)).size() > 32 * 1024 && QFileInfo(pieceFile(q3)).size() > 32 * 1024, 20000);
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QVERIFY(QFileInfo(pieceFile(q3)).size() < size - q3);
    }
    // Not a piece of this file, whatever its name looks like.
    QVERIFY(writeFile(entry.localPath + ".x1.piece", "other"));
    const int requestsBefore = m_server->requestCount();
    GetDownloadComponent()->ResumeDownload(*m_ctx);
    const bool ended = waitFinal(30000);
    DownloaderManager::GetInstance()->SetSplit({});
    QVERIFY(ended);
    const DownloadCallbackInfo final = m_recorder->finals.first();
    QVERIFY2(final.bFinished && !final.bError, qPrintable(final.errorString));
    QCOMPARE(final.downloadedSize, qint64(size));
    QCOMPARE(final.totalSize, qint64(size));
    QCOMPARE(readFile(entry.localPath), body);
    QCOMPARE(QDir(m_cache).entryList({ "big.7z.*.piece" }, QDir::Files), QStringList({ "big.7z.x1.piece" }));
    const QList<HttpServer::Request> requests = m_server->requests().mid(requestsBefore);
    if (expectedRequests >= 0)
        QCOMPARE(requests.size(), expectedRequests);
    if (before.isEmpty() && !ignoreRange)
        QVERIFY(m_server->maxActiveResponses() >= 2);
    // The piece that runs on is kept whole; the one it runs into goes.
    if (before == "overrun")
        QCOMPARE(m_ctx->downloadedAtStart, q2 - q1 + 500);
    if (before == "pieces") {
        QSet<QByteArray> ranges;
        for (const HttpServer::Request &r : requests)
            ranges.insert(r.headers.value("range"));
        QCOMPARE(ranges,
            QSet<QByteArray>({ "bytes=1000-" + QByteArray::number(q1 - 1),
                "bytes=" + QByteArray::number(q2 + 5000) + '-' + QByteArray::number(q3 - 1),
                "bytes=" + QByteArray::number(q3) + '-' + QByteArray::number(size - 1) }));
    }
    // Nothing is fetched twice beyond what a server that ignores Range costs.
    if (!ignoreRange) {
        qint64 asked = 0;
        for (const HttpServer::Request &r : requests) {
            const QList<QByteArray> bounds = r.headers.value("range").mid(6).split('-');
            QCOMPARE(bounds.size(), 2);
            const qint64 last = bounds.at(1).isEmpty() ? size - 1 : bounds.at(1).toLongLong();
            asked += last - bounds.at(0).toLongLong() + 1;
        }
        QCOMPARE(asked, qint64(size) - m_ctx->downloadedAtStart);
    }
}
