// The command-line host end to end: its command line, the published sample
// game served by nginx and by `morvaniel serve`, installed, updated through
// the patch chain, verified, repaired, the launcher updated, and a download
// interrupted by Ctrl+C and by SIGKILL and then resumed.

#include "HostTestSupport.h"

#include "Publisher.h"
#include "SampleGame.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace HostTest;
using TestSupport::copyTree;
using TestSupport::writeFile;

namespace {

QList<QJsonObject> jsonLines(const QByteArray &output)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : output.split('\n'))
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

QList<QJsonObject> eventsNamed(const QList<QJsonObject> &events, const QString &name)
{
    QList<QJsonObject> out;
    for (const QJsonObject &e : events)
        if (e.value(QStringLiteral("event")).toString() == name)
            out << e;
    return out;
}

// `morvaniel serve --port 0 --log` as a child process.
class HttpTestServe
{
public:
    ~HttpTestServe()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString start(const QString &exe, const QString &root)
    {
        m_process.start(exe,
            { QStringLiteral("serve"), QStringLiteral("--root"), root, QStringLiteral("--port"), QStringLiteral("0"),
                QStringLiteral("--log") });
        if (!m_process.waitForReadyRead(10000))
            return QString();
        const QString first = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString url = first.section(QStringLiteral(" at "), 1).trimmed();
        return url.startsWith(QStringLiteral("http://127.0.0.1:")) ? url : QString();
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class HostTests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void endToEndAgainstNginx();
    void interruptedDownloadsResume();
    void interruptedMergeIsFinished_data();
    void interruptedMergeIsFinished();
    void demoPassesEveryCheck();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString game(const QString &install) const { return path(install) + QStringLiteral("/MorvanielGame"); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    QStringList common(const QString &server, const QString &install) const
    {
        return { QStringLiteral("--server"), server, QStringLiteral("--dir"), path(install), QStringLiteral("--json") };
    }

    QTemporaryDir m_work;
    CliFolder m_cli;
    QString m_newest;
};

void HostTests::initTestCase()
{
    QVERIFY(m_work.isValid());
    QVERIFY(m_cli.create(path(QStringLiteral("app"))));
    QString error;
    const QStringList names = Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error);
    QCOMPARE(names.size(), 3);
    m_newest = names.last();

    // Two launcher versions: a changed file, a file that goes, one that comes.
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.1/Launcher.exe")), QByteArray(4096, 'a')));
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.1/old.dll")), "old"));
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.1/Data/skin.cfg")), "skin 1"));
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.2/Launcher.exe")), QByteArray(6000, 'b')));
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.2/new.dll")), "new"));
    QVERIFY(writeFile(path(QStringLiteral("launcher/1.0.0.2/Data/skin.cfg")), "skin 2"));

    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.outputDir = path(QStringLiteral("www"));
    options.launcherInputDir = path(QStringLiteral("launcher"));
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
}

void HostTests::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // What stdout and stderr must hold; empty: nothing at all.
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    const QByteArray version = QByteArrayLiteral("morvaniel " MORVANIEL_VERSION "\n");
    QTest::newRow("--help") << QStringList{ QStringLiteral("--help") } << 0 << QByteArray("usage: morvaniel demo")
                            << QByteArray();
    QTest::newRow("update --help") << QStringList{ QStringLiteral("update"), QStringLiteral("--help") } << 0
                                   << QByteArray("  --server <url>") << QByteArray();
    QTest::newRow("--version") << QStringList{ QStringLiteral("--version") } << 0 << version << QByteArray();
    QTest::newRow("update --version") << QStringList{ QStringLiteral("update"), QStringLiteral("--version") } << 0
                                      << version << QByteArray();
    QTest::newRow("publish --version") << QStringList{ QStringLiteral("publish"), QStringLiteral("--version") } << 0
                                       << version << QByteArray();
    // Nothing on stdout: the demo did not start.
    QTest::newRow("demo --bogus") << QStringList{ QStringLiteral("demo"), QStringLiteral("--bogus") } << 2
                                  << QByteArray() << QByteArray("demo: unknown argument --bogus\n");
    QTest::newRow("update --bogus") << QStringList{ QStringLiteral("update"), QStringLiteral("--bogus") } << 2
                                    << QByteArray() << QByteArray("update: unknown argument --bogus\n");
    QTest::newRow("unknown command") << QStringList{ QStringLiteral("bogus") } << 2 << QByteArray()
                                     << QByteArray("morvaniel: unknown command bogus\n");
    QTest::newRow("no arguments") << QStringList() << 2 << QByteArray() << QByteArray("usage: morvaniel demo");
}

void HostTests::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QByteArray stdOut;
    QByteArray stdErr;
    QCOMPARE(m_cli.run(arguments, &stdOut, 30000, &stdErr), exitCode);
    if (out.isEmpty())
        QVERIFY2(stdOut.isEmpty(), stdOut.constData());
    else
        QVERIFY2(stdOut.contains(out), stdOut.constData());
    if (err.isEmpty())
        QVERIFY2(stdErr.isEmpty(), stdErr.constData());
    else
        QVERIFY2(stdErr.contains(err), stdErr.constData());
}

void HostTests::endToEndAgainstNginx()
{
    Nginx nginx;
    QString error;
    const QString server = nginx.start(path(QStringLiteral("www")), path(QStringLiteral("nginx")), error);
    if (server.isEmpty())
        QFAIL(qPrintable(error));

    // From nothing: the full pack.
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, QStringLiteral("fresh")), &out), 0);
    QList<QJsonObject> events = jsonLines(out);
    QCOMPARE(
        eventsNamed(events, QStringLiteral("done")).value(0).value(QStringLiteral("version")).toString(), m_newest);
    QVERIFY(!eventsNamed(events, QStringLiteral("progress")).isEmpty());
    for (const char *key : { "percent", "downloaded", "total", "speed", "remaining" })
        QVERIFY2(eventsNamed(events, QStringLiteral("progress")).first().contains(QLatin1String(key)), key);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("fresh"))), QStringList());

    // From the first version through the patch chain. The chain renames a file
    // in letter case only; the old spelling must not stay behind.
    QVERIFY(copyTree(version(0), game(QStringLiteral("old"))));
    {
        QSettings state(path(QStringLiteral("old/morvaniel-install.ini")), QSettings::IniFormat);
        state.setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(0));
    }
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, QStringLiteral("old")), &out), 0);
    events = jsonLines(out);
    QCOMPARE(eventsNamed(events, QStringLiteral("step")).size(), 2);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("old"))), QStringList());
    // A second run finds nothing to do and downloads nothing.
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, QStringLiteral("old")), &out), 0);
    QCOMPARE(
        eventsNamed(jsonLines(out), QStringLiteral("done")).value(0).value(QStringLiteral("bytes")).toDouble(), 0.0);

    // Damage: a pak file changed in the middle, another file gone.
    const QString pak = game(QStringLiteral("old")) + QStringLiteral("/PM/Content/Paks/pakchunk0-WindowsNoEditor.pak");
    QFile f(pak);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(1000);
    f.write("broken");
    f.close();
    QVERIFY(QFile::remove(game(QStringLiteral("old")) + QStringLiteral("/Morvaniel.exe")));
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("verify") } + common(server, QStringLiteral("old")), &out), 1);
    QJsonArray bad
        = eventsNamed(jsonLines(out), QStringLiteral("verified")).value(0).value(QStringLiteral("bad")).toArray();
    QCOMPARE(bad.size(), 2);
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("repair") } + common(server, QStringLiteral("old")), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("old"))), QStringList());
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("verify") } + common(server, QStringLiteral("old")), &out), 0);

    // The launcher's own update: changed and new files in, the dropped one out.
    QVERIFY(copyTree(path(QStringLiteral("launcher/1.0.0.1")), path(QStringLiteral("self"))));
    const QStringList self = QStringList{ QStringLiteral("self-update") } + common(server, QStringLiteral("self"))
        + QStringList{ QStringLiteral("--launcher-version"), QStringLiteral("1.0.0.1") };
    QCOMPARE(m_cli.run(self, &out), 0);
    QCOMPARE(eventsNamed(jsonLines(out), QStringLiteral("done")).value(0).value(QStringLiteral("version")).toString(),
        QStringLiteral("1.0.0.2"));
    QFile::remove(path(QStringLiteral("self/morvaniel-install.ini")));
    QCOMPARE(treeDifferences(path(QStringLiteral("launcher/1.0.0.2")), path(QStringLiteral("self"))), QStringList());
}

void HostTests::interruptedDownloadsResume()
{
    // `morvaniel serve` logs every request with its Range header.
    HttpTestServe serving;
    const QString server = serving.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!server.isEmpty());
    QProcess &serve = serving.process();

    const QString pack = QStringLiteral("full_%1.7z").arg(m_newest);
    const QString partial = path(QStringLiteral("resume/MorvanielCache/")) + pack;
    const qint64 packSize = QFileInfo(path(QStringLiteral("www/game/")) + m_newest + QLatin1Char('/') + pack).size();
    QVERIFY(packSize > 512 * 1024);
    const QStringList slow = QStringList{ QStringLiteral("update") } + common(server, QStringLiteral("resume"))
        + QStringList{ QStringLiteral("--limit"), QStringLiteral("48") };

    // Starts a throttled run, lets the partial file grow past atLeast and
    // stops the run with sig. Returns the size of the partial file.
    auto interrupt = [&](int sig, qint64 atLeast, int expectedExit) -> qint64 {
        QProcess run;
        run.start(m_cli.exe(), slow);
        if (!run.waitForStarted(10000))
            return -1;
        QElapsedTimer clock;
        clock.start();
        while (QFileInfo(partial).size() < atLeast && clock.elapsed() < 30000 && run.state() == QProcess::Running)
            run.waitForFinished(50);
        if (run.state() != QProcess::Running)
            return -2;
        ::kill(pid_t(run.processId()), sig);
        if (!run.waitForFinished(15000))
            return -3;
        if (sig == SIGKILL ? run.exitStatus() != QProcess::CrashExit : run.exitCode() != expectedExit)
            return -4;
        return QFileInfo(partial).size();
    };

    // Ctrl+C pauses: the run ends with 130, the partial file stays.
    const qint64 afterPause = interrupt(SIGINT, 64 * 1024, 130);
    QVERIFY2(afterPause >= 64 * 1024 && afterPause < packSize, qPrintable(QString::number(afterPause)));
    // SIGKILL mid-download of the resumed run.
    const qint64 afterKill = interrupt(SIGKILL, afterPause + 64 * 1024, 0);
    QVERIFY2(afterKill > afterPause && afterKill < packSize, qPrintable(QString::number(afterKill)));
    // The third run finishes at full speed, byte for byte.
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, QStringLiteral("resume")), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("resume"))), QStringList());

    // Each later run asked only for what was missing.
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT(
        (log += serve.readAll()).contains(QStringLiteral("bytes=%1-").arg(afterKill).toUtf8()), 10000);
    const QString packPath = QStringLiteral("/game/%1/%2").arg(m_newest, pack);
    QVERIFY2(log.contains(QStringLiteral("GET %1 bytes=%2-").arg(packPath).arg(afterPause).toUtf8()), log.constData());
    QVERIFY2(log.contains(QStringLiteral("GET %1 bytes=%2-").arg(packPath).arg(afterKill).toUtf8()), log.constData());
}

void HostTests::interruptedMergeIsFinished_data()
{
    QTest::addColumn<bool>("patchStillUnpacked");
    QTest::newRow("patch unpacked, one file half written") << true;
    QTest::newRow("patch folder lost") << false;
}

// A run that died inside its merge stage leaves the game between two versions
// and CurrentStage at "PATCHSTAGE". The next run finishes that step (merging
// again where the patch is still unpacked), checks every file by MD5, repairs
// what the half-done merge left wrong from the step's full pack, and goes on.
void HostTests::interruptedMergeIsFinished()
{
    QFETCH(bool, patchStillUnpacked);
    const QString install = QStringLiteral("merge-%1").arg(patchStillUnpacked);
    QVERIFY(copyTree(version(0), game(install)));
    if (patchStillUnpacked) {
        const QString archive = path(QStringLiteral("www/game/%1/patch_%2_%1.7z"))
                                    .arg(Publisher::sampleVersionName(1), Publisher::sampleVersionName(0));
        QProcess unpack;
        unpack.start(QCoreApplication::applicationDirPath() + QStringLiteral("/7z"),
            { QStringLiteral("x"), QStringLiteral("-y"),
                QStringLiteral("-o") + path(install) + QStringLiteral("/MorvanielCache/UnZip"), archive });
        QVERIFY(unpack.waitForFinished(30000));
        QCOMPARE(unpack.exitCode(), 0);
        // The merge died while it rewrote this one: half a file, which no
        // patch applies to any more.
        const QString exe = game(install) + QStringLiteral("/PM/Binaries/Win64/PM-Win64-Shipping.exe");
        QFile f(exe);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() / 2));
    }
    {
        QSettings state(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat);
        state.setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(0));
        state.setValue(QStringLiteral("TransitionGameVersion"), Publisher::sampleVersionName(1));
        state.setValue(QStringLiteral("TargetGameVersion"), m_newest);
        state.setValue(QStringLiteral("CurrentStage"), QStringLiteral("PATCHSTAGE"));
    }
    HttpTestServe serve;
    const QString server = serve.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!server.isEmpty());
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install), &out), 0);
    const QList<QJsonObject> events = jsonLines(out);
    QCOMPARE(
        eventsNamed(events, QStringLiteral("done")).value(0).value(QStringLiteral("version")).toString(), m_newest);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    bool repaired = false;
    for (const QJsonObject &e : eventsNamed(events, QStringLiteral("stage")))
        repaired = repaired || e.value(QStringLiteral("stage")).toString() == QLatin1String("repair");
    QVERIFY(repaired);
    QSettings state(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat);
    QCOMPARE(state.value(QStringLiteral("CurrentStage")).toString(), QStringLiteral("INITSTAGE"));
    QCOMPARE(state.value(QStringLiteral("TransitionGameVersion")).toString(), QString());
}

void HostTests::demoPassesEveryCheck()
{
    QByteArray out;
    QCOMPARE(m_cli.run({ QStringLiteral("demo") }, &out, 120000), 0);
    QVERIFY2(out.contains("every check passed"), out.constData());
    QVERIFY(!out.contains("FAIL"));
}

QTEST_GUILESS_MAIN(HostTests)
#include "tst_host.moc"
