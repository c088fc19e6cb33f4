// The update flow as a job in the manner of KJob: a run starts and returns at
// once, and ends with exactly one finished(), whether it was done, failed,
// stopped (once or twice) or refused because its folder was busy; a job
// destroyed while it runs ends nothing and leaves the folder free.

#include "../support/TestSupport.h"

#include "FileServer.h"
#include "FlowReporter.h"
#include "InstallLock.h"
#include "Publisher.h"
#include "SampleGame.h"
#include "UpdateFlow.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace HostFlow;

namespace {

constexpr int Slow = 60000;

} // namespace

class tst_HostFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneFinishedPerRun_data();
    void oneFinishedPerRun();
    void oneRunAtATime();
    void destroyedWhileRunning();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    FlowOptions options(const QString &install, const QString &server = QString()) const
    {
        FlowOptions o;
        o.server = server.isEmpty() ? m_server.url(QString()) : server;
        o.installDir = path(install);
        return o;
    }

    QTemporaryDir m_work;
    Http::FileServer m_server;
    Http::FileServer m_split; // the same with the full pack in archives of 256 KiB
};

void tst_HostFlow::initTestCase()
{
    QVERIFY(m_work.isValid());
    QString error;
    QCOMPARE(Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error).size(), 3);
    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.outputDir = path(QStringLiteral("www"));
    options.compressionLevel = 1;
    options.defaultPairs = false; // full packs are all these runs need
    options.blocks = false; // the archive path: its partial full pack shows a stopped download
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    m_server.setRoot(path(QStringLiteral("www")));
    QVERIFY(m_server.listen(0));
    options.outputDir = path(QStringLiteral("www-split"));
    options.splitSize = 256 * 1024;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    m_split.setRoot(path(QStringLiteral("www-split")));
    QVERIFY(m_split.listen(0));
}

void tst_HostFlow::oneFinishedPerRun_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("done") << QStringLiteral("check") << int(UpdateFlow::Ok);
    QTest::newRow("failed") << QStringLiteral("no server files") << int(UpdateFlow::Failed);
    QTest::newRow("stopped in a download") << QStringLiteral("stop") << int(UpdateFlow::Paused);
    QTest::newRow("stopped twice") << QStringLiteral("stop twice") << int(UpdateFlow::Paused);
    QTest::newRow("stopped before its first stage") << QStringLiteral("stop at once") << int(UpdateFlow::Paused);
    // An archive extracting while the next one downloads: both end, the run once.
    QTest::newRow("stopped beside an extraction") << QStringLiteral("stop beside") << int(UpdateFlow::Paused);
}

void tst_HostFlow::oneFinishedPerRun()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    const QString install = QStringLiteral("once-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
    Http::FileServer empty;
    empty.setRoot(path(QStringLiteral("versions"))); // no game channel there
    QVERIFY(empty.listen(0));
    UpdateFlow flow;
    const bool beside = how == QLatin1String("stop beside");
    FlowOptions o = options(install,
        how == QLatin1String("no server files") ? empty.url(QString())
            : beside                            ? m_split.url(QString())
                                                : QString());
    o.limitKiB = beside ? 256 : 32;
    flow.setOptions(o);
    QSignalSpy finished(&flow, &UpdateFlow::finished);
    QSignalSpy errors(flow.reporter(), &FlowReporter::errorRaised);
    int stops = 0;
    if (beside) {
        // Stopped as the extraction starts: the next archive's download runs too.
        connect(flow.reporter(), &FlowReporter::stageStarted, this,
            [&flow, &stops](Stage stage, const QString &, bool background) {
                if (stage == Stage::Extract && background && stops++ == 0)
                    QTimer::singleShot(0, &flow, [&flow]() { flow.stop(); });
            });
    }
    if (how.startsWith(QLatin1String("stop"))) {
        QVERIFY(flow.update());
        if (how == QLatin1String("stop at once")) {
            flow.stop();
        } else if (beside) {
            QTRY_VERIFY_WITH_TIMEOUT(stops > 0 || !finished.isEmpty(), Slow);
            QCOMPARE(stops, 1);
        } else {
            QSignalSpy progress(flow.reporter(), &FlowReporter::downloadProgress);
            QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() || !finished.isEmpty(), Slow);
            flow.stop();
            if (how == QLatin1String("stop twice"))
                flow.stop();
        }
    } else if (how == QLatin1String("check")) {
        QVERIFY(flow.check());
    } else {
        QVERIFY(flow.update());
    }
    // Nothing ends within the call that started or stopped the run (the stop
    // beside an extraction came from the event loop, which may have ended it).
    if (!beside)
        QCOMPARE(finished.size(), 0);
    if (finished.isEmpty())
        QVERIFY(finished.wait(Slow));
    QTest::qWait(300);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), result);
    QCOMPARE(errors.size(), result == UpdateFlow::Failed ? 1 : 0);
    if (result == UpdateFlow::Failed)
        QCOMPARE(errors.first().first().value<FlowError>().kind, Failure::NotOnServer);
    QVERIFY(!flow.running());
    // A stop after the end changes nothing.
    flow.stop();
    QTest::qWait(100);
    QCOMPARE(finished.size(), 1);
}

// One run per job, and per install folder across jobs (and processes).
void tst_HostFlow::oneRunAtATime()
{
    UpdateFlow first;
    FlowOptions o = options(QStringLiteral("busy"));
    o.limitKiB = 32;
    first.setOptions(o);
    QSignalSpy firstDone(&first, &UpdateFlow::finished);
    QVERIFY(first.update());
    QVERIFY(!first.check()); // the job is busy

    UpdateFlow second;
    second.setOptions(o);
    QSignalSpy secondDone(&second, &UpdateFlow::finished);
    QSignalSpy secondErrors(second.reporter(), &FlowReporter::errorRaised);
    QVERIFY(second.update());
    QVERIFY(secondDone.wait(Slow));
    QCOMPARE(secondDone.first().first().toInt(), int(UpdateFlow::Failed));
    const FlowError busy = secondErrors.first().first().value<FlowError>();
    QCOMPARE(busy.kind, Failure::Busy);
    QCOMPARE(busy.message,
        QStringLiteral("another update is running on %1 (pid %2)")
            .arg(QDir::toNativeSeparators(path(QStringLiteral("busy"))))
            .arg(QCoreApplication::applicationPid()));
    QVERIFY(first.running());

    first.stop();
    QVERIFY(firstDone.wait(Slow));
    QCOMPARE(firstDone.size(), 1);
    // The lock went with the run.
    QVERIFY(second.check());
    QVERIFY(secondDone.wait(Slow));
    QCOMPARE(secondDone.last().first().toInt(), int(UpdateFlow::Ok));
}

// A job destroyed in the middle of a download: no report afterwards, the
// download stopped, and the folder free for the next job.
void tst_HostFlow::destroyedWhileRunning()
{
    auto flow = std::make_unique<UpdateFlow>();
    FlowOptions o = options(QStringLiteral("destroyed"));
    o.limitKiB = 32;
    flow->setOptions(o);
    QSignalSpy progress(flow->reporter(), &FlowReporter::downloadProgress);
    QVERIFY(flow->update());
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), Slow);
    flow.reset();
    const QString pack = path(QStringLiteral("destroyed/MorvanielCache/full_1.0.0.3.7z"));
    const qint64 size = QFileInfo(pack).size();
    QTest::qWait(1500);
    QCOMPARE(QFileInfo(pack).size(), size);

    UpdateFlow next;
    next.setOptions(options(QStringLiteral("destroyed")));
    QSignalSpy done(&next, &UpdateFlow::finished);
    QVERIFY(next.check());
    QVERIFY(done.wait(Slow));
    QCOMPARE(done.first().first().toInt(), int(UpdateFlow::Ok));
}

QTEST_GUILESS_MAIN(tst_HostFlow)
#include "tst_hostflow.moc"
