// The download fault matrix: five packages against a misbehaving loopback
// server, each case ending byte-exact or with its documented error code, and
// never with a file that has the right size but wrong bytes.

#include "../support/DownloadRecorder.h"
#include "FiveFiles.h"
#include "HttpServer.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "download/DownloadTimings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <iterator>
#include <memory>

using namespace Morvaniel;
using namespace Reliability;
using HttpTest::HttpFaultRule;
using HttpTest::HttpServer;
using TestSupport::DownloadRecorder;

namespace {

constexpr int WatchdogMs = 4000;
constexpr quint32 Seed = 20261207;

// What a fault kind sets up and checks against: the servers, the packages and
// a seeded source of cut points.
struct Rig
{
    HttpServer &server; // the one the download list names
    std::unique_ptr<HttpServer> &other; // holds the bytes when started
    const QVector<Package> &packages;
    QRandomGenerator offsets;
    HttpFaultRule errorPage; // what a failing server sends instead of the file
    QString cache;

    // A random cut point inside the file, away from both ends.
    qint64 cutPoint(const Package &p) { return qint64(offsets.bounded(1024, p.bytes.size() - 1024)); }
    QString path(int i) const { return serverPath(packages.at(i)); }
    QString file(const Package &p) const { return cache + QLatin1Char('/') + p.name; }
};

HttpFaultRule cutAfter(qint64 bytes)
{
    HttpFaultRule rule;
    rule.resetAfter = bytes;
    return rule;
}

// One fault kind: how the server misbehaves, how the run must end, and what
// else must hold then. Checks report through QtTest.
struct FaultKind
{
    const char *name; // "%1" is the error page's status
    QVector<int> statuses; // one row each; none: one row
    int code; // 0: every file byte-exact
    void (*setUp)(Rig &rig);
    void (*check)(Rig &rig, qint64 elapsedMs) = nullptr;
    void (*during)(Rig &rig) = nullptr; // acts on the running download
};

const FaultKind Kinds[] = {
    { "no fault", {}, 0, [](Rig &) {} },
    { "connection reset at a random offset", {}, 0,
        [](Rig &rig) {
            for (const Package &p : rig.packages) {
                HttpFaultRule rule = cutAfter(rig.cutPoint(p));
                rule.hardReset = true;
                rig.server.setRuleForPathRequest(serverPath(p), 0, rule);
            }
        } },
    { "stall", {}, 3,
        [](Rig &rig) {
            HttpFaultRule rule;
            rule.stallAfter = rig.cutPoint(rig.packages.at(2));
            rig.server.setRule(rig.path(2), rule);
        },
        [](Rig &rig, qint64) {
            for (int i = 0; i < 5; ++i) {
                if (i != 2)
                    QCOMPARE(md5Of(readFile(rig.file(rig.packages.at(i)))), rig.packages.at(i).md5);
            }
        } },
    // Late enough that the other files have delivered data: a failure after
    // data is retried, one before any data in a process is not.
    { "%1 on the first request", { 404, 500 }, 0,
        [](Rig &rig) {
            HttpFaultRule rule = rig.errorPage;
            rule.headerDelayMs = 400;
            rig.server.setRuleForPathRequest(rig.path(1), 0, rule);
        } },
    { "%1 after data", { 404, 500 }, 0,
        [](Rig &rig) {
            rig.server.setRuleForPathRequest(rig.path(3), 0, cutAfter(rig.cutPoint(rig.packages.at(3))));
            rig.server.setRuleForPathRequest(rig.path(3), 1, rig.errorPage);
        } },
    { "%1 on every request", { 404, 500 }, 2,
        [](Rig &rig) {
            rig.server.setRuleForPathRequest(rig.path(4), 0, cutAfter(rig.cutPoint(rig.packages.at(4))));
            rig.server.setRule(rig.path(4), rig.errorPage);
        },
        [](Rig &rig, qint64) {
            // The error page was never written: the bytes before it stay.
            QVERIFY(QFileInfo(rig.file(rig.packages.at(4))).size() > 0);
            // The other files kept what they had received whenever the failing
            // one restarted the run: a handful of rounds, not hundreds.
            QVERIFY2(rig.server.requestCount() <= 40, qPrintable(QString::number(rig.server.requestCount())));
        } },
    { "200 with the whole file to a Range request", {}, 0,
        [](Rig &rig) {
            HttpFaultRule whole;
            whole.ignoreRange = true;
            for (const Package &p : rig.packages) {
                rig.server.setRuleForPathRequest(serverPath(p), 0, cutAfter(rig.cutPoint(p)));
                rig.server.setRule(serverPath(p), whole);
            }
        } },
    // An orderly close after fewer bytes than Content-Length promised.
    { "body shorter than Content-Length", {}, 0,
        [](Rig &rig) {
            for (const Package &p : rig.packages)
                rig.server.setRuleForPathRequest(serverPath(p), 0, cutAfter(rig.cutPoint(p)));
        } },
    // Progress only ever comes in pieces: what each piece brought must stay on
    // disk, also when another file's failure stops this transfer.
    { "every connection cut after 256 KiB", {}, 0,
        [](Rig &rig) {
            for (const Package &p : rig.packages)
                rig.server.setRule(serverPath(p), cutAfter(256 * 1024));
        },
        [](Rig &rig, qint64) {
            // 4.6 MiB in pieces of 256 KiB: about 20 pieces, and resends by Qt.
            QVERIFY2(rig.server.requestCount() <= 60, qPrintable(QString::number(rig.server.requestCount())));
        } },
    // About six seconds for the smallest file: half again the watchdog, with
    // bytes every few milliseconds.
    { "slow drip under the watchdog", {}, 0,
        [](Rig &rig) {
            HttpFaultRule rule;
            rule.bytesPerSecond = 48 * 1024;
            rig.server.setRule(rig.path(0), rule);
        },
        [](Rig &, qint64 elapsedMs) {
            QVERIFY2(elapsedMs > WatchdogMs, "the drip must outlast the watchdog to prove anything");
        } },
    // Slowed down: the server goes and comes back on its port once a MiB is on disk.
    { "server restarted during the run", {}, 0,
        [](Rig &rig) {
            HttpFaultRule rule;
            rule.bytesPerSecond = 1024 * 1024;
            for (const Package &p : rig.packages)
                rig.server.setRuleForPathRequest(serverPath(p), 0, rule);
        },
        nullptr,
        [](Rig &rig) {
            auto onDisk = [&rig] {
                qint64 n = 0;
                for (const Package &p : rig.packages)
                    n += QFileInfo(rig.file(p)).size();
                return n;
            };
            QTRY_VERIFY_WITH_TIMEOUT(onDisk() > 1024 * 1024, 20000);
            const quint16 port = rig.server.port();
            rig.server.close();
            QTest::qWait(300);
            QVERIFY(rig.server.listen(port));
        } },
    { "redirect to another loopback port", {}, 0,
        [](Rig &rig) {
            rig.other = std::make_unique<HttpServer>();
            QVERIFY(rig.other->listen());
            QVERIFY(rig.other->port() != rig.server.port());
            for (const Package &p : rig.packages) {
                HttpFaultRule redirect;
                redirect.redirectTo = rig.other->url(serverPath(p));
                rig.server.setRule(serverPath(p), redirect);
                // An orderly close: the bytes before it arrive.
                rig.other->setRuleForPathRequest(serverPath(p), 0, cutAfter(rig.cutPoint(p)));
            }
        },
        [](Rig &rig, qint64) {
            // Every request went through the redirect and kept its Range there
            // (as sets: Qt resends a request by itself on a kept-alive
            // connection that the cut closed, straight to the second server).
            auto ranges = [](const HttpServer &server) {
                QSet<QString> out;
                for (const HttpServer::Request &r : server.requests())
                    out.insert(r.path + QLatin1Char(' ') + QString::fromLatin1(r.headers.value("range", "none")));
                return out;
            };
            QCOMPARE(ranges(*rig.other), ranges(rig.server));
            QVERIFY(rig.other->requestCount() > 5); // the cuts were resumed
        } },
};

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void faultMatrix_data();
    void faultMatrix();

private:
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<HttpServer> m_other;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DownloadRecorder> m_recorder;
    std::shared_ptr<GameUpdateContext> m_ctx;
    QString m_cache;
};

void tst_Faults::initTestCase()
{
    m_ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    QVERIFY(m_ctx);
    QVERIFY(GetDownloadComponent());
}

void tst_Faults::init()
{
    DownloadTimings t;
    // A short watchdog keeps the stall case at seconds; the real 20 s one is
    // exercised by the download area's own tests.
    t.watchdogMs = WatchdogMs;
    t.restartMs = 200;
    DownloadTimings::SetForTests(t);
    m_server = std::make_unique<HttpServer>();
    QVERIFY(m_server->listen());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_cache = m_dir->filePath(QStringLiteral("Cache"));
    m_recorder = std::make_unique<DownloadRecorder>();
    GetDownloadComponent()->RegistCallbackFunc(m_recorder->callback());
    m_ctx->downloadList.clear();
    m_ctx->bGameUpdate = false;
    m_ctx->setting.LimitSpeed = -1;
    m_ctx->newestInfo.version = Version();
}

void tst_Faults::cleanup()
{
    GetDownloadComponent()->PauseDownload(*m_ctx);
    GetDownloadComponent()->RegistCallbackFunc(nullptr);
    m_server.reset();
    m_other.reset();
    m_recorder.reset();
    m_dir.reset();
}

void tst_Faults::faultMatrix_data()
{
    QTest::addColumn<int>("kind"); // index into Kinds
    QTest::addColumn<int>("status");
    for (int k = 0; k < int(std::size(Kinds)); ++k) {
        const QVector<int> statuses = Kinds[k].statuses.isEmpty() ? QVector<int>{ 0 } : Kinds[k].statuses;
        for (int status : statuses)
            QTest::newRow(qPrintable(QString::fromLatin1(Kinds[k].name).arg(status))) << k << status;
    }
}

void tst_Faults::faultMatrix()
{
    QFETCH(int, kind);
    QFETCH(int, status);
    const FaultKind &fault = Kinds[kind];

    const QVector<Package> packages = fivePackages(Seed);
    Rig rig{ *m_server, m_other, packages, QRandomGenerator(Seed + quint32(kind)), HttpFaultRule(), m_cache };
    rig.errorPage.status = status;
    rig.errorPage.body = "<html><body>error page</body></html>";
    fault.setUp(rig);
    if (QTest::currentTestFailed())
        return;
    HttpServer *files = m_other ? m_other.get() : m_server.get(); // the server that holds the bytes
    for (const Package &p : packages) {
        files->addFile(serverPath(p), p.bytes);
        m_ctx->downloadList.append(entryFor(p, m_server->url(serverPath(p)), m_cache));
    }

    QElapsedTimer clock;
    clock.start();
    GetDownloadComponent()->StartDownload(*m_ctx);
    if (fault.during) {
        fault.during(rig);
        if (QTest::currentTestFailed())
            return;
    }
    QSignalSpy spy(m_recorder.get(), &DownloadRecorder::finalReport);
    QVERIFY(!m_recorder->finals.isEmpty() || spy.wait(60000));
    const qint64 elapsed = clock.elapsed();
    QTest::qWait(WatchdogMs / 3); // a late restart or write would show now
    QCOMPARE(m_recorder->finals.size(), 1);
    const DownloadCallbackInfo info = m_recorder->finals.first();
    qInfo("%s: %s after %lld ms, %d requests", QTest::currentDataTag(),
        info.bFinished ? "byte-exact" : qPrintable(QStringLiteral("code %1").arg(int(info.errorCode))), elapsed,
        m_server->requestCount() + (m_other ? m_other->requestCount() : 0));

    const QStringList wrong = sizeRightBytesWrong(packages, m_cache);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char(' '))));
    const QStringList broken = notAPrefix(packages, m_cache);
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char(' '))));
    if (fault.code == 0) {
        QVERIFY2(info.bFinished && !info.bError, qPrintable(info.errorString));
        for (const Package &p : packages)
            QCOMPARE(md5Of(readFile(rig.file(p))), p.md5);
        QCOMPARE(info.downloadedSize, info.totalSize);
    } else {
        QVERIFY(info.bError);
        QCOMPARE(int(info.errorCode), fault.code);
        if (fault.code == 3)
            QCOMPARE(info.errorString, QStringLiteral("网络请求超时，请检查网络问题"));
        else
            QVERIFY2(info.errorString.startsWith(QStringLiteral("下载失败，请检查网络")), qPrintable(info.errorString));
    }
    if (fault.check)
        fault.check(rig, elapsed);
}

QTEST_GUILESS_MAIN(tst_Faults)
#include "tst_faults.moc"
