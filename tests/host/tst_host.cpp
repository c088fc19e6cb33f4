// The command-line host end to end: its command line, the published sample
// game served by nginx and by `morvaniel serve`, installed, updated through
// the patch chain, verified, repaired, the launcher updated, and a download
// interrupted by Ctrl+C and by SIGKILL and then resumed; signed releases
// required with --trust, and the keys of `morvaniel keygen`.

#include "HostTestSupport.h"

#include "../support/ImmutableFile.h"

#include "Publisher.h"
#include "ReleaseSigner.h"
#include "SampleGame.h"

#include "trust/ReleaseKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

using namespace HostTest;
using TestSupport::copyTree;
using TestSupport::readFile;
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

class tst_Host : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void endToEndAgainstNginx();
    void interruptedDownloadsResume();
    void mirrorTakesOver();
    void interruptedMergeIsFinished_data();
    void interruptedMergeIsFinished();
    void demoPassesEveryCheck();
    void keygen();
    void trustedUpdate_data();
    void trustedUpdate();
    void oneRunPerFolder();
    void readOnlyStateFile();
    void interruptStopsEveryStage_data();
    void interruptStopsEveryStage();
    void interruptedPackResumes_data();
    void interruptedPackResumes();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString game(const QString &install) const { return path(install) + QStringLiteral("/MorvanielGame"); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    QStringList common(const QString &server, const QString &install) const
    {
        return { QStringLiteral("--server"), server, QStringLiteral("--dir"), path(install), QStringLiteral("--json") };
    }
    // Starts an update of install at limitKiB and waits, at most timeoutMs,
    // until reached() holds; false (with the run's output) when the run
    // ended first or it never did.
    bool updateUntil(QProcess &run, const QString &server, const QString &install, int limitKiB,
        const std::function<bool()> &reached, int timeoutMs, QByteArray &output)
    {
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(m_cli.exe(),
            QStringList{ QStringLiteral("update") } + common(server, install)
                + QStringList{ QStringLiteral("--limit"), QString::number(limitKiB) });
        if (!run.waitForStarted(10000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!reached() && clock.elapsed() < timeoutMs && run.state() == QProcess::Running)
            run.waitForFinished(20);
        if (run.state() == QProcess::Running && reached())
            return true;
        output = run.readAll().right(3000);
        return false;
    }

    QTemporaryDir m_work;
    CliFolder m_cli;
    QString m_newest;
};

void tst_Host::initTestCase()
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
    options.blocks = false; // these runs pin the archive path (tst_hostblocks: the blocks)
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    // The same game with its full pack cut into archives of 512 KiB.
    options.outputDir = path(QStringLiteral("www-split"));
    options.launcherInputDir.clear();
    options.splitSize = 512 * 1024;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
}

void tst_Host::commandLine_data()
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
    // Read as a path, an address without its scheme would fail late and strangely.
    QTest::newRow("--server without a scheme")
        << QStringList{ QStringLiteral("update"), QStringLiteral("--server"), QStringLiteral("127.0.0.1:8080"),
               QStringLiteral("--dir"), QStringLiteral("x") }
        << 2 << QByteArray() << QByteArray("update: --server takes an address with its scheme, http://host:port");
    // Mirrors: every address is checked, not only the first.
    QTest::newRow("a bad --server among mirrors")
        << QStringList{ QStringLiteral("verify"), QStringLiteral("--server"), QStringLiteral("http://127.0.0.1:1"),
               QStringLiteral("--server"), QStringLiteral("mirror.example/game"), QStringLiteral("--dir"),
               QStringLiteral("x") }
        << 2 << QByteArray()
        << QByteArray("verify: --server takes an address with its scheme, http://host:port (not mirror.example/game)");
    QTest::newRow("--connections out of range")
        << QStringList{ QStringLiteral("update"), QStringLiteral("--server"), QStringLiteral("http://127.0.0.1:1"),
               QStringLiteral("--dir"), QStringLiteral("x"), QStringLiteral("--connections"), QStringLiteral("17") }
        << 2 << QByteArray() << QByteArray("update: --connections takes a number from 1 to 16\n");
    QTest::newRow("update --help names mirrors") << QStringList{ QStringLiteral("update"), QStringLiteral("--help") }
                                                 << 0 << QByteArray("give it again for") << QByteArray();
}

void tst_Host::commandLine()
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

void tst_Host::endToEndAgainstNginx()
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

void tst_Host::interruptedDownloadsResume()
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
    QByteArray lastRun; // what the interrupted run printed, for the failure message
    auto interrupt = [&](int sig, qint64 atLeast, int expectedExit) -> qint64 {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
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
        lastRun = run.readAll().right(3000);
        if (sig == SIGKILL ? run.exitStatus() != QProcess::CrashExit : run.exitCode() != expectedExit)
            return -4;
        return QFileInfo(partial).size();
    };

    // Ctrl+C pauses: the run ends with 130, the partial file stays.
    const qint64 afterPause = interrupt(SIGINT, 64 * 1024, 130);
    QVERIFY2(afterPause >= 64 * 1024 && afterPause < packSize,
        qPrintable(QString::number(afterPause) + QLatin1Char('\n') + QString::fromUtf8(lastRun)));
    // SIGKILL mid-download of the resumed run.
    const qint64 afterKill = interrupt(SIGKILL, afterPause + 64 * 1024, 0);
    QVERIFY2(afterKill > afterPause && afterKill < packSize,
        qPrintable(QString::number(afterKill) + QLatin1Char('\n') + QString::fromUtf8(lastRun)));
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

// A repeated --server: the first refuses connections, the second serves the
// run, and the switch is an event of its own in --json.
void tst_Host::mirrorTakesOver()
{
    HttpTestServe serving;
    QString second = serving.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!second.isEmpty());
    while (second.endsWith(QLatin1Char('/')))
        second.chop(1); // the run names its servers without the slash
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString first = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();

    QByteArray out;
    QByteArray err;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update"), QStringLiteral("--server"), first }
                     + common(second, QStringLiteral("mirrored")),
                 &out, 60000, &err),
        0);
    const QList<QJsonObject> switched = eventsNamed(jsonLines(out), QStringLiteral("server"));
    QCOMPARE(switched.size(), 1);
    QCOMPARE(switched.first().value(QStringLiteral("failed")).toString(), first);
    QCOMPARE(switched.first().value(QStringLiteral("server")).toString(), second);
    QVERIFY2(switched.first()
                 .value(QStringLiteral("message"))
                 .toString()
                 .startsWith(QStringLiteral("server %1 failed (").arg(first)),
        out.constData());
    QCOMPARE(treeDifferences(version(2), game(QStringLiteral("mirrored"))), QStringList());
}

void tst_Host::interruptedMergeIsFinished_data()
{
    QTest::addColumn<bool>("patchStillUnpacked");
    QTest::newRow("patch unpacked, one file half written") << true;
    QTest::newRow("patch folder lost") << false;
}

// A run that died inside its merge stage leaves the game between two versions
// and CurrentStage at "PATCHSTAGE". The next run finishes that step (merging
// again where the patch is still unpacked), checks every file by MD5, repairs
// what the half-done merge left wrong from the step's full pack, and goes on.
void tst_Host::interruptedMergeIsFinished()
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

void tst_Host::demoPassesEveryCheck()
{
    QByteArray out;
    QCOMPARE(m_cli.run({ QStringLiteral("demo") }, &out, 120000), 0);
    QVERIFY2(out.contains("every check passed"), out.constData());
    QVERIFY(!out.contains("FAIL"));
}

void tst_Host::keygen()
{
    const QString dir = path(QStringLiteral("keygen"));
    const QString secret = dir + QStringLiteral("/release.key");
    const QString pub = dir + QStringLiteral("/release.pub");
    QByteArray out;
    QByteArray err;
    QCOMPARE(m_cli.run({ QStringLiteral("keygen"), dir }, &out, 30000, &err), 0);
    // The two files are one pair, and the secret one is its owner's alone.
    QByteArray secretKey;
    QString error;
    QVERIFY2(Morvaniel::ReleaseKeys::ReadSecretKeyFile(secret, secretKey, error), qPrintable(error));
    const QByteArray publicText = readFile(pub);
    QCOMPARE(Morvaniel::ReleaseKeys::PublicKeyText(secretKey), QString::fromLatin1(publicText).trimmed());
    QVERIFY2(out.contains(publicText.trimmed()), out.constData());
    QCOMPARE(QFileInfo(secret).permissions()
            & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                | QFileDevice::WriteOther | QFileDevice::ExeOther | QFileDevice::ExeOwner),
        QFileDevice::Permissions());

    // A second run, or one that finds only the public file, overwrites nothing.
    QCOMPARE(m_cli.run({ QStringLiteral("keygen"), dir }, &out, 30000, &err), 1);
    QVERIFY2(err.contains("exists"), err.constData());
    QVERIFY(QFile::remove(secret));
    QCOMPARE(m_cli.run({ QStringLiteral("keygen"), dir }, &out, 30000, &err), 1);
    QVERIFY(!QFileInfo::exists(secret));
    QCOMPARE(readFile(pub), publicText);
}

void tst_Host::trustedUpdate_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("signed and trusted") << QString() << 0 << QByteArray();
    QTest::newRow("patch replaced, guide MD5 updated")
        << QStringLiteral("guide") << 1 << QByteArray("game/manifest.txt does not match the digest");
    QTest::newRow("patch replaced") << QStringLiteral("archive") << 1
                                    << QByteArray("the archives failed their MD5 check twice");
    QTest::newRow("signed by another key")
        << QStringLiteral("other-key") << 1 << QByteArray("not signed by a trusted key");
    QTest::newRow("not signed at all") << QStringLiteral("unsigned") << 1 << QByteArray("could not fetch");
}

// An install of the first version updated with --trust from a signed copy of
// the publication, which an attacker may have changed after it was signed.
void tst_Host::trustedUpdate()
{
    QFETCH(QString, attack);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, error);
    const QString row = path(QStringLiteral("trusted-") + (attack.isEmpty() ? QStringLiteral("plain") : attack));
    const QString www = row + QStringLiteral("/www");
    QVERIFY(copyTree(path(QStringLiteral("www")), www));
    QCOMPARE(m_cli.run({ QStringLiteral("keygen"), row + QStringLiteral("/keys") }), 0);
    if (attack == QLatin1String("other-key"))
        QCOMPARE(m_cli.run({ QStringLiteral("keygen"), row + QStringLiteral("/other") }), 0);
    if (attack != QLatin1String("unsigned")) {
        Publisher::SigningOptions signing;
        signing.secretKeyFile = row + QStringLiteral("/keys/release.key");
        QString signError;
        QVERIFY2(Publisher::writeSignedRelease(www, QStringLiteral("game"), m_newest, signing,
                     QDateTime::currentDateTimeUtc(), QString(), signError),
            qPrintable(signError));
    }
    const QString patch = www
        + QStringLiteral("/game/%1/patch_%2_%1.7z")
              .arg(Publisher::sampleVersionName(1), Publisher::sampleVersionName(0));
    const QByteArray published = readFile(patch);
    const QByteArray evil(published.size(), 'x');
    if (attack == QLatin1String("guide") || attack == QLatin1String("archive"))
        QVERIFY(writeFile(patch, evil));
    if (attack == QLatin1String("guide")) {
        QByteArray guide = readFile(www + QStringLiteral("/game/manifest.txt"));
        QVERIFY(guide.contains(TestSupport::md5Of(published).toLatin1()));
        QVERIFY(writeFile(www + QStringLiteral("/game/manifest.txt"),
            guide.replace(TestSupport::md5Of(published).toLatin1(), TestSupport::md5Of(evil).toLatin1())));
    }

    const QString install = QDir(m_work.path()).relativeFilePath(row + QStringLiteral("/install"));
    QVERIFY(copyTree(version(0), game(install)));
    QSettings(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(0));
    HttpTestServe serve;
    const QString server = serve.start(m_cli.exe(), www);
    QVERIFY(!server.isEmpty());
    const QString trusted = row + (attack == QLatin1String("other-key") ? "/other" : "/keys") + "/release.pub";
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install)
                     + QStringList{ QStringLiteral("--trust"), trusted },
                 &out),
        exitCode);
    // What the install keeps of the accepted release (against replays) is
    // kept only by a run that succeeded: a failed one may be retried against
    // the release it had before.
    const QString acceptedSerial
        = QSettings(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat)
              .value(QStringLiteral("AcceptedReleaseSerial/game"))
              .toString();
    QCOMPARE(acceptedSerial.isEmpty(), exitCode != 0);
    if (exitCode == 0) {
        QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
        return;
    }
    const QList<QJsonObject> errors = eventsNamed(jsonLines(out), QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().value(QStringLiteral("message")).toString().toUtf8().contains(error), out.constData());
    QCOMPARE(treeDifferences(version(0), game(install)), QStringList());
}

// Two runs on one install folder: the second ends at once, naming the first,
// and the first finishes byte for byte.
void tst_Host::oneRunPerFolder()
{
    HttpTestServe serve;
    const QString server = serve.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!server.isEmpty());
    const QString install = QStringLiteral("twice");
    const QString partial = path(install) + QStringLiteral("/MorvanielCache/full_%1.7z").arg(m_newest);
    QProcess first;
    QByteArray out;
    QVERIFY2(updateUntil(
                 first, server, install, 256, [&partial]() { return QFileInfo(partial).size() > 0; }, 30000, out),
        out.constData());

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install), &out, 30000), 1);
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    const QString expected = QStringLiteral("another update is running on %1 (pid %2)")
                                 .arg(QDir::toNativeSeparators(path(install)))
                                 .arg(first.processId());
    const QList<QJsonObject> errors = eventsNamed(jsonLines(out), QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().value(QStringLiteral("message")).toString(), expected);

    QVERIFY(first.waitForFinished(60000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    // The lock went with the run: the next one is free to start.
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install), &out), 0);
}

// A state file that cannot be written fails the run before the game is
// touched, and says which folder.
void tst_Host::readOnlyStateFile()
{
    const QString install = QStringLiteral("read-only-state");
    QVERIFY(copyTree(version(0), game(install)));
    const QString state = path(install) + QStringLiteral("/morvaniel-install.ini");
    QSettings(state, QSettings::IniFormat)
        .setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(0));
    TestSupport::ImmutableGuard frozen(state);
    if (!frozen.ok())
        QVERIFY(QFile::setPermissions(state, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    if (QFile(state).open(QIODevice::ReadWrite))
        QSKIP("this user writes into read-only files (root without chattr)");

    HttpTestServe serve;
    const QString server = serve.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!server.isEmpty());
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install), &out), 1);
    const QList<QJsonObject> errors = eventsNamed(jsonLines(out), QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    const QString message = errors.first().value(QStringLiteral("message")).toString();
    QVERIFY2(message.startsWith(QStringLiteral("cannot write the install state")) && message.contains(path(install)),
        qPrintable(message));
    QVERIFY(eventsNamed(jsonLines(out), QStringLiteral("done")).isEmpty());
    QCOMPARE(treeDifferences(version(0), game(install)), QStringList());
}

void tst_Host::interruptStopsEveryStage_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("installed"); // -1 nothing, 0 the first version
    QTest::addColumn<QString>("hold");
    QTest::newRow("extraction") << QStringLiteral("extract") << -1 << QStringLiteral("7z");
    QTest::newRow("merge") << QStringLiteral("merge") << 0 << QStringLiteral("hpatchz");
    // A server that takes the connection and never answers: the document
    // request would wait out its time-outs and retries.
    QTest::newRow("document fetch") << QStringLiteral("fetch") << -1 << QString();
}

// Ctrl+C during extraction, the merge stage or a document fetch stops it at
// once through the library (the tool or the server would hold for a
// minute); the next run finishes.
void tst_Host::interruptStopsEveryStage()
{
    QFETCH(QString, stage);
    QFETCH(int, installed);
    QFETCH(QString, hold);
    CliFolder held;
    QVERIFY(held.create(path(QStringLiteral("app-held-") + stage), true));
    const QString install = QStringLiteral("interrupt-") + stage;
    if (installed >= 0) {
        QVERIFY(copyTree(version(installed), game(install)));
        QSettings(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(installed));
    }
    HttpTestServe serve;
    const QString server = serve.start(m_cli.exe(), path(QStringLiteral("www")));
    QVERIFY(!server.isEmpty());
    // The kernel completes its connections; nothing ever reads or answers them.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    const QString first
        = stage == QLatin1String("fetch") ? QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()) : server;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MORVANIEL_TEST_HOLD"), hold);
    run.setProcessEnvironment(env);
    run.start(held.exe(), QStringList{ QStringLiteral("update") } + common(first, install));
    QVERIFY(run.waitForStarted(10000));
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    // Fetches print no stage of their own: the first one follows this line.
    const QByteArray started = stage == QLatin1String("fetch") ? QByteArray("installed version none")
                                                               : QStringLiteral("\"stage\":\"%1\"").arg(stage).toUtf8();
    while (!out.contains(started) && clock.elapsed() < 60000 && run.state() == QProcess::Running) {
        run.waitForReadyRead(100);
        out += run.readAllStandardOutput();
    }
    QVERIFY2(out.contains(started), out.constData());
    if (stage == QLatin1String("fetch"))
        QVERIFY(silent.waitForNewConnection(20000)); // the request is out
    QTest::qWait(300); // the tool is up and holding
    ::kill(pid_t(run.processId()), SIGINT);
    clock.restart();
    QVERIFY(run.waitForFinished(20000));
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    out += run.readAllStandardOutput();
    QCOMPARE(run.exitCode(), 130);
    QVERIFY2(out.contains("stopping (interrupted)"), out.constData());
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(server, install), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
}

void tst_Host::interruptedPackResumes_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGKILL") << int(SIGKILL);
}

// A full pack of several archives, interrupted once the first is extracted
// while the others still come: the next run fetches and extracts only what
// was not recorded as extracted, and the game comes out byte for byte.
void tst_Host::interruptedPackResumes()
{
    QFETCH(int, sig);
    const QString install = QStringLiteral("pack-") + QString::number(sig);
    const QString state = path(install) + QStringLiteral("/morvaniel-install.ini");
    const QString cache = path(install) + QStringLiteral("/MorvanielCache");
    const QStringList archives = QDir(path(QStringLiteral("www-split/game/")) + m_newest)
                                     .entryList({ QStringLiteral("full_*.7z") }, QDir::Files, QDir::Name);
    QVERIFY2(archives.size() >= 3, qPrintable(archives.join(' ')));
    auto recorded = [&state]() {
        return QSettings(state, QSettings::IniFormat).value(QStringLiteral("FullPackExtracted")).toStringList();
    };
    HttpTestServe serving;
    const QString server = serving.start(m_cli.exe(), path(QStringLiteral("www-split")));
    QVERIFY(!server.isEmpty());

    // Throttled: the rest of the pack is still on its way once the first is in.
    QProcess run;
    QByteArray early;
    QVERIFY2(updateUntil(
                 run, server, install, 512, [&]() { return !recorded().isEmpty(); }, 60000, early),
        early.constData());
    ::kill(pid_t(run.processId()), sig);
    QVERIFY(run.waitForFinished(20000));
    const QByteArray first = run.readAll();
    if (sig == SIGKILL)
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);
    else
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 130, first.right(3000).constData());
    QCOMPARE(QSettings(state, QSettings::IniFormat).value(QStringLiteral("CurrentGameVersion")).toString(), QString());
    const QStringList done = recorded();
    QVERIFY2(!done.isEmpty() && done.size() < archives.size(), qPrintable(done.join(' ')));
    // Recorded in order, and gone from the cache; at most two archives on disk.
    // A kill may fall between an archive's record and its deletion (the
    // record comes first): the last one recorded may still be there, and the
    // next run drops it.
    const QStringList inCache = QDir(cache).entryList({ QStringLiteral("full_*") }, QDir::Files);
    for (int k = 0; k < done.size(); ++k) {
        QVERIFY2(done.at(k).startsWith(archives.at(k) + QLatin1Char('|')), qPrintable(done.at(k)));
        const bool mayStay = sig == SIGKILL && k == done.size() - 1;
        QVERIFY2(mayStay || !inCache.contains(archives.at(k)), qPrintable(inCache.join(' ')));
    }
    QVERIFY2(inCache.size() <= 2, qPrintable(inCache.join(' ')));

    // A server of its own: its log is the next run's alone.
    HttpTestServe again;
    const QString second = again.start(m_cli.exe(), path(QStringLiteral("www-split")));
    QVERIFY(!second.isEmpty());
    QByteArray out;
    QCOMPARE(m_cli.run(QStringList{ QStringLiteral("update") } + common(second, install), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    QCOMPARE(QDir(cache).entryList({ QStringLiteral("full_*") }, QDir::Files), QStringList());
    const QByteArray before
        = QStringLiteral("%1 archive(s) of the full pack were extracted before").arg(done.size()).toUtf8();
    QVERIFY2(out.contains(before), out.right(3000).constData());
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += again.process().readAll()).contains(archives.last().toUtf8()), 10000);
    for (int k = 0; k < done.size(); ++k) {
        QVERIFY2(!log.contains(archives.at(k).toUtf8()), log.constData());
        // Nor extracted again (an extraction beside the download names its archive).
        QVERIFY2(!out.contains(archives.at(k).toUtf8()), out.constData());
    }
    // The first one left extracts while the next one comes.
    if (done.size() < archives.size() - 1) {
        const QString beside = QStringLiteral("extracting %1 beside the download").arg(archives.at(done.size()));
        QVERIFY2(out.contains(beside.toUtf8()), out.constData());
    }
}

QTEST_GUILESS_MAIN(tst_Host)
#include "tst_host.moc"
