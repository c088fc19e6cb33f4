// The command-line host end to end: the published sample game served by nginx
// and by `morvaniel serve`, installed, updated through the patch chain,
// verified, repaired, the launcher updated, and a download interrupted by
// Ctrl+C and by SIGKILL and then resumed.

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

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool copyTree(const QString &from, const QString &to)
{
    const QMap<QString, QByteArray> files = treeContent(from);
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        if (!writeFile(QDir(to).filePath(it.key()), it.value()))
            return false;
    return true;
}

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

} // namespace

class HostTests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endToEndAgainstNginx();
    void interruptedDownloadsResume();
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
    QProcess serve;
    serve.start(m_cli.exe(),
        { QStringLiteral("serve"), QStringLiteral("--root"), path(QStringLiteral("www")), QStringLiteral("--port"),
            QStringLiteral("0"), QStringLiteral("--log") });
    QVERIFY(serve.waitForReadyRead(10000));
    const QString first = QString::fromUtf8(serve.readLine()).trimmed();
    const QString server = first.section(QStringLiteral(" at "), 1).trimmed();
    QVERIFY2(server.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(first));

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
    serve.kill();
    serve.waitForFinished(5000);
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
