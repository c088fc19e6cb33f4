// A downloading process killed with SIGKILL at ten seeded points: every
// resume continues each file exactly where its bytes on disk end, and the
// last one ends byte-exact.

#include "DownloadChild.h"
#include "FiveFiles.h"
#include "HttpServer.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <numeric>

using namespace Reliability;
using HttpTest::HttpFaultRule;
using HttpTest::HttpServer;

namespace {
constexpr quint32 Seed = 4242;
constexpr int Kills = 10;
} // namespace

class tst_Crash : public QObject
{
    Q_OBJECT

private slots:
    void killAndResume();

private:
    bool startChild(QProcess &child, const QString &cache, const HttpServer &server, const QVector<Package> &packages);
};

bool tst_Crash::startChild(
    QProcess &child, const QString &cache, const HttpServer &server, const QVector<Package> &packages)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(DownloadChildEnv), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{ cache, QString::number(Seed) };
    for (const Package &p : packages)
        args.append(server.url(serverPath(p)));
    child.start(QCoreApplication::applicationFilePath(), args);
    return child.waitForStarted(10000);
}

void tst_Crash::killAndResume()
{
    const QVector<Package> packages = fivePackages(Seed);
    HttpServer server;
    QVERIFY(server.listen());
    HttpFaultRule slow;
    slow.bytesPerSecond = 700 * 1024; // every file in flight for a while
    qint64 total = 0;
    for (const Package &p : packages) {
        server.addFile(serverPath(p), p.bytes);
        server.setRule(serverPath(p), slow);
        total += p.bytes.size();
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cache = dir.filePath(QStringLiteral("Cache"));

    // Ten kill points by bytes on disk, seeded, spread over the whole run.
    QRandomGenerator gen(Seed);
    QVector<qint64> points;
    for (int i = 0; i < Kills; ++i)
        points.append(total * (i + 1) / (Kills + 2) + qint64(gen.bounded(int(total / (Kills + 2) / 2))));
    std::sort(points.begin(), points.end());

    auto sizesOnDisk = [&] {
        QVector<qint64> sizes;
        for (const Package &p : packages)
            sizes.append(QFileInfo(cache + QLatin1Char('/') + p.name).size());
        return sizes;
    };
    auto sum = [](const QVector<qint64> &v) { return std::accumulate(v.cbegin(), v.cend(), qint64(0)); };

    QVector<qint64> diskAtKill(packages.size(), 0);
    qint64 refetchedTotal = 0;
    for (int k = 0; k <= Kills; ++k) {
        const int firstRequest = server.requestCount();
        QProcess child;
        QVERIFY(startChild(child, cache, server, packages));

        // The resume asks each unfinished file for exactly the bytes after
        // those on disk: nothing on disk is fetched again, nothing is skipped.
        if (k > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() > firstRequest, 20000);
            for (int i = 0; i < packages.size(); ++i) {
                if (diskAtKill.at(i) == packages.at(i).bytes.size())
                    continue; // complete files need no request
                const QString path = serverPath(packages.at(i));
                auto firstOfFile = [&]() -> QByteArray {
                    const QList<HttpServer::Request> requests = server.requests();
                    for (int r = firstRequest; r < requests.size(); ++r) {
                        if (requests.at(r).path == path)
                            return requests.at(r).headers.value("range", "bytes=0-");
                    }
                    return QByteArray();
                };
                QTRY_VERIFY_WITH_TIMEOUT(!firstOfFile().isEmpty(), 20000);
                QCOMPARE(firstOfFile(), "bytes=" + QByteArray::number(diskAtKill.at(i)) + '-');
            }
        }

        if (k == Kills) {
            // The server lives on this thread: wait with the event loop running.
            QVERIFY(QTest::qWaitFor([&child] { return child.state() == QProcess::NotRunning; }, 120000));
            // Windows' text-mode output ends its lines with CR LF.
            const QByteArray out = child.readAllStandardOutput().replace("\r\n", "\n");
            QVERIFY2(out.contains("code=0\n") && out.contains("files=sound"), out.constData());
            break;
        }

        QTRY_VERIFY_WITH_TIMEOUT(sum(sizesOnDisk()) >= points.at(k) || child.state() == QProcess::NotRunning, 30000);
        QVERIFY2(child.state() == QProcess::Running, "the child ended before its kill point");
        // The server runs on this thread: nothing is sent between this
        // reading and the kill.
        QVector<qint64> sent;
        for (const Package &p : packages)
            sent.append(server.sentEnd(serverPath(p)));
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        diskAtKill = sizesOnDisk();
        const QStringList broken = notAPrefix(packages, cache);
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char(' '))));
        const QStringList wrong = sizeRightBytesWrong(packages, cache);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char(' '))));
        // In flight at the kill: sent by the server but not on disk. The next
        // child fetches exactly these bytes again (checked above).
        qint64 inFlight = 0;
        for (int i = 0; i < packages.size(); ++i) {
            QVERIFY(sent.at(i) >= diskAtKill.at(i));
            inFlight += sent.at(i) - diskAtKill.at(i);
        }
        refetchedTotal += inFlight;
        qInfo("kill %d at %lld of %lld bytes on disk, %lld in flight", k + 1, sum(diskAtKill), total, inFlight);
    }

    for (const Package &p : packages)
        QCOMPARE(md5Of(readFile(cache + QLatin1Char('/') + p.name)), p.md5);
    // The server may hand a few more chunks to a socket whose reader is dead
    // before it notices; those never reach a file and are not counted here.
    qInfo("fetched again over %d kills: %lld bytes; the server handed out %lld for %lld", Kills, refetchedTotal,
        server.bytesSent(), total);
    QVERIFY(server.bytesSent() >= total + refetchedTotal);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(DownloadChildEnv))
        return RunDownloadChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Crash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash.moc"
