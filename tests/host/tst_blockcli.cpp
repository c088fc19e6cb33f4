// The command-line host against nginx where the server keeps a block store:
// an install killed in the middle of its block run and finished by the next
// run byte for byte, an update that prints both figures in --json; and the
// archive path's room check on a disk too small for it.

#include "HostTestSupport.h"

#include "Publisher.h"
#include "SampleGame.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace HostTest;

namespace {

// The JSON events of a run's output named event.
QVector<QJsonObject> events(const QByteArray &output, const QString &event)
{
    QVector<QJsonObject> out;
    for (const QByteArray &line : output.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")).toString() == event)
            out << o;
    }
    return out;
}

} // namespace

class BlockCliTests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installKilledAndFinished();
    void updatePrintsBothFigures();
    void archivePathChecksSpaceFirst();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString game(const QString &install) const { return path(install) + QStringLiteral("/MorvanielGame"); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    QStringList update(const QString &server, const QString &install) const
    {
        return { QStringLiteral("update"), QStringLiteral("--server"), server, QStringLiteral("--dir"), path(install),
            QStringLiteral("--json") };
    }
    QString stateValue(const QString &install, const QString &key) const
    {
        return QSettings(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat)
            .value(key)
            .toString();
    }

    QTemporaryDir m_work;
    CliFolder m_cli;
    Nginx m_blocks; // serves www: archives and a block store
    Nginx m_archives; // serves www-archives: published with --no-blocks
    QString m_blocksUrl;
    QString m_archivesUrl;
};

void BlockCliTests::initTestCase()
{
    QVERIFY(m_work.isValid());
    QVERIFY(m_cli.create(path(QStringLiteral("app"))));
    QString error;
    QCOMPARE(Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error).size(), 3);
    Publisher::PublishOptions options;
    options.inputDir = path(QStringLiteral("versions"));
    options.compressionLevel = 1;
    for (const bool blocks : { true, false }) {
        options.outputDir = path(blocks ? QStringLiteral("www") : QStringLiteral("www-archives"));
        options.blocks = blocks;
        Publisher::PublishReport report;
        QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    }
    m_blocksUrl = m_blocks.start(path(QStringLiteral("www")), path(QStringLiteral("nginx")), error);
    QVERIFY2(!m_blocksUrl.isEmpty(), qPrintable(error));
    m_archivesUrl = m_archives.start(path(QStringLiteral("www-archives")), path(QStringLiteral("nginx-a")), error);
    QVERIFY2(!m_archivesUrl.isEmpty(), qPrintable(error));
}

void BlockCliTests::installKilledAndFinished()
{
    const QString install = QStringLiteral("killed");
    QProcess run;
    run.setProcessChannelMode(QProcess::SeparateChannels);
    run.start(
        m_cli.exe(), update(m_blocksUrl, install) + QStringList{ QStringLiteral("--limit"), QStringLiteral("48") });
    QVERIFY(run.waitForStarted(10000));
    QByteArray seen;
    qint64 done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < 96 * 1024 && clock.elapsed() < 60000 && run.state() == QProcess::Running) {
        run.waitForReadyRead(100);
        seen += run.readAllStandardOutput();
        for (const QJsonObject &p : events(seen, QStringLiteral("progress")))
            if (p.value(QStringLiteral("stage")).toString() == QLatin1String("blocks"))
                done = qMax(done, qint64(p.value(QStringLiteral("downloaded")).toDouble()));
    }
    QVERIFY2(run.state() == QProcess::Running && done >= 96 * 1024, seen.right(3000).constData());
    ::kill(pid_t(run.processId()), SIGKILL);
    QVERIFY(run.waitForFinished(15000));
    QCOMPARE(run.exitStatus(), QProcess::CrashExit);
    // Killed between two versions: nothing is called installed.
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), QString());

    QByteArray out;
    QCOMPARE(m_cli.run(update(m_blocksUrl, install), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    QVERIFY2(out.contains("(resuming)"), out.constData());
    const QVector<QJsonObject> done2 = events(out, QStringLiteral("done"));
    QCOMPARE(done2.size(), 1);
    // The second run fetched what the first had not.
    const QVector<QJsonObject> chosen = events(out, QStringLiteral("delivery"));
    QCOMPARE(chosen.size(), 1);
    QVERIFY(done2.first().value(QStringLiteral("bytes")).toDouble() < chosen.first().value("blocks").toDouble());
}

void BlockCliTests::updatePrintsBothFigures()
{
    const QString install = QStringLiteral("older");
    QVERIFY(TestSupport::copyTree(version(0), game(install)));
    {
        QSettings state(path(install) + QStringLiteral("/morvaniel-install.ini"), QSettings::IniFormat);
        state.setValue(QStringLiteral("CurrentGameVersion"), Publisher::sampleVersionName(0));
    }
    QByteArray out;
    QCOMPARE(m_cli.run(update(m_blocksUrl, install), &out), 0);
    QCOMPARE(treeDifferences(version(2), game(install)), QStringList());
    const QVector<QJsonObject> chosen = events(out, QStringLiteral("delivery"));
    QCOMPARE(chosen.size(), 1);
    const QJsonObject &d = chosen.first();
    const double blocks = d.value(QStringLiteral("blocks")).toDouble();
    const double chain = d.value(QStringLiteral("archives")).toDouble();
    QVERIFY2(blocks > 0 && chain > 0, out.constData());
    QCOMPARE(d.value(QStringLiteral("via")).toString(), QStringLiteral("patch chain"));
    QCOMPARE(d.value(QStringLiteral("chosen")).toString(),
        blocks <= chain ? QStringLiteral("blocks") : QStringLiteral("archives"));
}

// A 1 MiB disk for a game of 3 MiB and its full pack: the run stops before
// its download with the room it needs, and nothing is written.
void BlockCliTests::archivePathChecksSpaceFirst()
{
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        QSKIP("no unshare(1) on this machine");
    const QString disk = path(QStringLiteral("small-disk"));
    QVERIFY(QDir().mkpath(disk));
    QStringList args{ QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private") };
    // An ordinary user may mount inside a user namespace of its own, where it is root.
    if (::geteuid() != 0)
        args << QStringLiteral("--map-root-user");
    const QString script = QStringLiteral("mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 77; shift; \"$@\"; rc=$?; "
                                          "echo files:; find \"$0\" -type f; exit $rc");
    args << QStringLiteral("sh") << QStringLiteral("-c") << script << disk << disk << m_cli.exe()
         << QStringLiteral("update") << QStringLiteral("--server") << m_archivesUrl << QStringLiteral("--dir")
         << disk + QStringLiteral("/install");
    QProcess child;
    child.start(unshare, args);
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(child.waitForFinished(60000));
    const QByteArray out = child.readAllStandardOutput();
    const QByteArray err = child.readAllStandardError();
    if (child.exitCode() == 77)
        QSKIP(qPrintable("the machine forbids a tmpfs mount: " + QString::fromUtf8(err.trimmed())));
    if (out.isEmpty() && err.startsWith("unshare:"))
        QSKIP(qPrintable("the machine forbids a private mount namespace: " + QString::fromUtf8(err.trimmed())));
    QCOMPARE(child.exitCode(), 1);
    const QByteArray all = out + err;
    QVERIFY2(all.contains("error: needs ") && all.contains(" MiB free on "), all.constData());
    const QByteArray files = out.mid(out.indexOf("files:"));
    QVERIFY2(!files.contains(".7z") && !files.contains("MorvanielGame/"), files.constData());
}

QTEST_GUILESS_MAIN(BlockCliTests)
#include "tst_blockcli.moc"
