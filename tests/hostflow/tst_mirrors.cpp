// A run with several servers: the first that answers serves it, and one that
// fails (refuses connections, answers 500, goes down in the middle of a
// download, sends an archive that fails its MD5, serves a signed release that
// is refused) is skipped for the rest of the run. A download goes on at the
// next server from the byte it reached; with every server down the run fails
// with the last server's error.

#include "../support/DataRows.h"
#include "../support/TestSupport.h"

#include "FileServer.h"
#include "FlowReporter.h"
#include "InstallState.h"
#include "Publisher.h"
#include "ReleaseSigner.h"
#include "ResponsePlan.h"
#include "SampleGame.h"
#include "SignedSample.h"
#include "UpdateFlow.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace HostFlow;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

constexpr int Slow = 60000;

// The body goes out up to holdAt and then nothing more, on an open connection.
class HoldPlan : public Http::ResponsePlan
{
public:
    explicit HoldPlan(qint64 holdAt)
        : m_holdAt(holdAt)
    {
    }
    Pace pace(qint64 sent, qint64) const override
    {
        Pace p;
        p.budget = qMax<qint64>(0, m_holdAt - sent);
        p.then = Then::Hold;
        return p;
    }

private:
    qint64 m_holdAt;
};

class StatusPlan : public Http::ResponsePlan
{
public:
    explicit StatusPlan(int status)
        : m_status(status)
    {
    }
    Reply reply() const override
    {
        Reply r;
        r.status = m_status;
        r.body = "down for maintenance";
        return r;
    }

private:
    int m_status;
};

// A mirror that can fail: every answer a 500, or one file held part-way
// and the server gone soon after.
class Mirror : public Http::FileServer
{
public:
    bool answer500 = false;
    QString holdPath;
    qint64 holdAt = -1;

    // Goes down once holdAt bytes of holdPath went out and had the time to
    // arrive (loopback: well under the half second).
    void goDownOnceHeld()
    {
        QObject::connect(&m_watch, &QTimer::timeout, this, [this]() {
            if (holdAt <= 0 || port() == 0 || sentEnd(holdPath) < holdAt)
                return;
            if (++m_heldFor == 10)
                close();
        });
        m_watch.start(50);
    }

protected:
    std::unique_ptr<Http::ResponsePlan> planResponse(Request &request) override
    {
        if (answer500)
            return std::make_unique<StatusPlan>(500);
        // The first request for the file (from byte 0, with or without a Range) is held.
        const QByteArray range = request.headers.value("range");
        if (request.path == holdPath && (range.isEmpty() || range.startsWith("bytes=0-")))
            return std::make_unique<HoldPlan>(holdAt);
        return FileServer::planResponse(request);
    }

private:
    QTimer m_watch;
    int m_heldFor = 0;
};

// The first byte of the ranges this server was asked for at path; 0 for a request without one.
QList<qint64> rangeStarts(const Http::FileServer &server, const QString &path)
{
    QList<qint64> starts;
    for (const Http::FileServer::Request &r : server.requests()) {
        if (r.path != path || r.method != "GET")
            continue;
        const QByteArray range = r.headers.value("range");
        starts << (range.startsWith("bytes=") ? range.mid(6, range.indexOf('-') - 6).toLongLong() : 0);
    }
    return starts;
}

} // namespace

class tst_Mirrors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failover_data();
    void failover();
    void failoverBesideAnExtraction();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString game(const QString &install) const { return InstallState::gameFolder(path(install)); }

    QTemporaryDir m_work;
    QString m_newest;
    QString m_packPath; // the full pack's archive, as the server's path
    qint64 m_packSize = 0;
    QStringList m_trusted;
};

void tst_Mirrors::initTestCase()
{
    QVERIFY(m_work.isValid());

    QString error;
    const QStringList names = Publisher::generateSampleGame(path(QStringLiteral("versions")), 2, error);
    QCOMPARE(names.size(), 2);
    m_newest = names.last();
    QString secret;
    QVERIFY2(SignedSample::makeKey(m_work.path(), secret, m_trusted, error), qPrintable(error));
    Publisher::PublishOptions options = SignedSample::options(m_work.path(), QStringLiteral("www"), secret);
    options.defaultPairs = false; // a fresh install takes the full pack only
    options.blocks = false;
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    m_packPath = QStringLiteral("/game/%1/full_%1.7z").arg(m_newest);
    m_packSize = QFileInfo(path(QStringLiteral("www")) + m_packPath).size();
    QVERIFY2(m_packSize > 64 * 1024, qPrintable(QString::number(m_packSize)));

    // A mirror whose archive is damaged (same size, other bytes), and one
    // whose signed release was altered after signing.
    QVERIFY(TestSupport::copyTree(path(QStringLiteral("www")), path(QStringLiteral("www-damaged"))));
    QByteArray pack = readFile(path(QStringLiteral("www")) + m_packPath);
    pack[int(pack.size() / 2)] = char(pack.at(int(pack.size() / 2)) ^ 0x5a);
    QVERIFY(writeFile(path(QStringLiteral("www-damaged")) + m_packPath, pack));
    QVERIFY(TestSupport::copyTree(path(QStringLiteral("www")), path(QStringLiteral("www-tampered"))));
    const QString release = path(QStringLiteral("www-tampered/game/release.json"));
    QByteArray document = readFile(release);
    QVERIFY(document.contains(m_newest.toUtf8()));
    QVERIFY(writeFile(release, document.replace(m_newest.toUtf8(), names.first().toUtf8())));

    // The same game with its full pack in archives of 256 KiB.
    options.outputDir = path(QStringLiteral("www-split"));
    options.splitSize = 256 * 1024;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
}

void tst_Mirrors::failover_data()
{
    QTest::addColumn<QString>("first"); // how the first server fails
    QTest::addColumn<bool>("secondUp");
    QTest::addColumn<bool>("signedRun");
    using TestSupport::row;
    row("killed at half the full pack", "killed at half", true, false);
    row("killed at half the full pack, signed", "killed at half", true, true);
    row("refuses connections", "refuses", true, false);
    row("answers 500", "500", true, false);
    row("damaged archive", "damaged", true, false);
    row("signed release tampered with", "tampered", true, true);
    row("every server down", "refuses", false, false);
}

void tst_Mirrors::failover()
{
    QFETCH(QString, first);
    QFETCH(bool, secondUp);
    QFETCH(bool, signedRun);
    const QString install
        = QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), "-");

    Mirror a;
    Mirror b;
    a.setRoot(path(first == QLatin1String("damaged") ? QStringLiteral("www-damaged")
            : first == QLatin1String("tampered")     ? QStringLiteral("www-tampered")
                                                     : QStringLiteral("www")));
    b.setRoot(path(QStringLiteral("www")));
    QVERIFY(a.listen(0));
    QVERIFY(b.listen(0));
    QString first_ = a.url(QString());
    QString second = b.url(QString());
    first_.chop(1); // the run names a server without its trailing slash
    second.chop(1);
    if (first == QLatin1String("refuses"))
        a.close();
    if (!secondUp)
        b.close();
    a.answer500 = first == QLatin1String("500");
    if (first == QLatin1String("killed at half")) {
        a.holdPath = m_packPath;
        a.holdAt = m_packSize / 2;
    }

    UpdateFlow flow;
    FlowOptions o;
    o.servers = QStringList{ first_, second };
    o.installDir = path(install);
    if (signedRun)
        o.trustedKeys = m_trusted;
    flow.setOptions(o);
    QSignalSpy finished(&flow, &UpdateFlow::finished);
    QSignalSpy switched(flow.reporter(), &FlowReporter::serverSwitched);
    QSignalSpy errors(flow.reporter(), &FlowReporter::errorRaised);
    a.goDownOnceHeld();
    QVERIFY(flow.update());
    QVERIFY(finished.wait(Slow));
    const int result = finished.first().first().toInt();

    if (!secondUp) {
        QCOMPARE(result, int(UpdateFlow::Failed));
        QCOMPARE(switched.size(), 1);
        QCOMPARE(errors.size(), 1);
        const FlowError error = errors.first().first().value<FlowError>();
        QCOMPARE(error.kind, Failure::ServerUnreachable);
        QVERIFY2(error.message.contains(QStringLiteral("the server could not be reached")), qPrintable(error.message));
        QVERIFY2(error.path.startsWith(second), qPrintable(error.path));
        return;
    }
    QVERIFY2(result == UpdateFlow::Ok,
        qPrintable(errors.isEmpty() ? QString::number(result) : errors.first().first().value<FlowError>().message));
    QCOMPARE(treeContent(game(install)), treeContent(path(QStringLiteral("versions/")) + m_newest));
    // Skipped once, for the rest of the run.
    QCOMPARE(switched.size(), 1);
    QCOMPARE(switched.first().at(0).toString(), first_);
    QCOMPARE(switched.first().at(1).toString(), second);
    QCOMPARE(flow.releasesAccepted(), signedRun ? 1 : 0);
    const QList<qint64> fromSecond = rangeStarts(b, m_packPath);
    if (first == QLatin1String("killed at half")) {
        // The second server was asked for the rest only.
        QCOMPARE(rangeStarts(a, m_packPath).value(0), qint64(0));
        QCOMPARE(fromSecond, QList<qint64>{ m_packSize / 2 });
        QVERIFY2(switched.first().at(2).toString().contains(QStringLiteral("download failed")),
            qPrintable(switched.first().at(2).toString()));
    } else if (first == QLatin1String("damaged")) {
        // The damaged archive is fetched again, whole, from the second.
        QCOMPARE(rangeStarts(a, m_packPath), QList<qint64>{ 0 });
        QCOMPARE(fromSecond, QList<qint64>{ 0 });
    } else {
        // Nothing of the archives came from the first.
        QCOMPARE(rangeStarts(a, m_packPath), QList<qint64>());
        QCOMPARE(fromSecond, QList<qint64>{ 0 });
    }
}

// A split full pack: the first server goes down in the middle of the second
// archive while the first one extracts beside it. The download goes on at the
// next server from the byte it reached, the extraction is not disturbed, and
// nothing of the first archive is asked of the second server.
void tst_Mirrors::failoverBesideAnExtraction()
{
    const QString folder = path(QStringLiteral("www-split/game/")) + m_newest;
    const QStringList archives = QDir(folder).entryList({ QStringLiteral("full_*.7z") }, QDir::Files, QDir::Name);
    QVERIFY2(archives.size() >= 3, qPrintable(archives.join(' ')));
    const QString held = QStringLiteral("/game/%1/%2").arg(m_newest, archives.at(1));
    const qint64 heldSize = QFileInfo(folder + QLatin1Char('/') + archives.at(1)).size();
    QVERIFY(heldSize > 4096);
    Mirror a;
    Mirror b;
    a.setRoot(path(QStringLiteral("www-split")));
    b.setRoot(path(QStringLiteral("www-split")));
    a.holdPath = held;
    a.holdAt = heldSize / 2;
    QVERIFY(a.listen(0));
    QVERIFY(b.listen(0));
    QString first = a.url(QString());
    QString second = b.url(QString());
    first.chop(1);
    second.chop(1);

    UpdateFlow flow;
    FlowOptions o;
    o.servers = QStringList{ first, second };
    o.installDir = path(QStringLiteral("split"));
    o.trustedKeys = m_trusted;
    flow.setOptions(o);
    QSignalSpy finished(&flow, &UpdateFlow::finished);
    QSignalSpy switched(flow.reporter(), &FlowReporter::serverSwitched);
    QSignalSpy errors(flow.reporter(), &FlowReporter::errorRaised);
    bool beside = false;
    connect(
        flow.reporter(), &FlowReporter::stageStarted, this, [&beside](Stage stage, const QString &, bool background) {
            beside = beside || (stage == Stage::Extract && background);
        });
    a.goDownOnceHeld();
    QVERIFY(flow.update());
    QVERIFY(finished.wait(Slow));
    QVERIFY2(finished.first().first().toInt() == UpdateFlow::Ok,
        qPrintable(errors.isEmpty() ? QString() : errors.first().first().value<FlowError>().message));
    QCOMPARE(treeContent(game(QStringLiteral("split"))), treeContent(path(QStringLiteral("versions/")) + m_newest));
    QVERIFY(beside);
    QCOMPARE(switched.size(), 1);
    QVERIFY2(switched.first().at(2).toString().contains(QStringLiteral("download failed")),
        qPrintable(switched.first().at(2).toString()));
    const QString firstPath = QStringLiteral("/game/%1/%2").arg(m_newest, archives.first());
    QCOMPARE(rangeStarts(a, firstPath), QList<qint64>{ 0 });
    QCOMPARE(rangeStarts(b, firstPath), QList<qint64>());
    QCOMPARE(rangeStarts(b, held), QList<qint64>{ heldSize / 2 });
    // The rest of the pack came from the second server alone.
    for (int k = 2; k < archives.size(); ++k) {
        const QString later = QStringLiteral("/game/%1/%2").arg(m_newest, archives.at(k));
        QCOMPARE(rangeStarts(a, later), QList<qint64>());
        QCOMPARE(rangeStarts(b, later), QList<qint64>{ 0 });
    }
}

QTEST_GUILESS_MAIN(tst_Mirrors)
#include "tst_mirrors.moc"
