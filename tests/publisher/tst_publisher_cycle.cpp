#include "tst_publisher.h"

#include "ReleaseSigner.h"
#include "SampleGame.h"
#include "blocks/BlockIndex.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "util/Blake2b.h"

#ifdef Q_OS_UNIX
#include "../host/HostTestSupport.h"
#endif

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace Publisher;
using PublisherTest::lines;
using PublisherTest::section;
using TestSupport::copyTree;
using TestSupport::md5Of;
using TestSupport::programPath;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

PublishOptions tst_Publisher::cycleOptions(const QString &out) const
{
    PublishOptions options;
    options.outputDir = out;
    options.splitSize = 700 * 1024;
    options.compressionLevel = 1;
    options.diffTool = programPath(QStringLiteral("hdiffz"));
    options.signing.secretKeyFile = m_key;
    return options;
}

QString tst_Publisher::cycleLayout()
{
    if (!m_cycleLayout.isEmpty())
        return m_cycleLayout;
    QString error;
    m_games4 = m_dir.filePath(QStringLiteral("games4"));
    m_key = m_dir.filePath(QStringLiteral("keys/release.key"));
    QDir().mkpath(m_dir.filePath(QStringLiteral("keys")));
    if (generateSampleGame(m_games4, 4, error).size() != 4
        || !Morvaniel::ReleaseKeys::GenerateKeyFiles(m_key, m_key + QStringLiteral(".pub"), error)) {
        qWarning() << error;
        return QString();
    }
    PublishOptions options = cycleOptions(m_dir.filePath(QStringLiteral("cycle-at-once")));
    options.inputDir = m_games4;
    PublishReport report;
    if (!publish(options, report)) {
        qWarning() << report.error;
        return QString();
    }
    m_cycleLayout = options.outputDir;
    return m_cycleLayout;
}

namespace {

Morvaniel::ReleaseDocument releaseOf(const QString &out)
{
    Morvaniel::ReleaseDocument doc;
    QString error;
    Morvaniel::ReleaseDocument::parse(readFile(out + QStringLiteral("/game/release.json")), doc, error);
    return doc;
}

Morvaniel::BlockIndex indexOf(const QString &out, const QString &version)
{
    Morvaniel::BlockIndex index;
    QString error;
    Morvaniel::BlockIndex::parse(
        readFile(out + QStringLiteral("/game/") + Morvaniel::BlockIndex::indexPath(version)), index, error);
    return index;
}

int channelFiles(const QMap<QString, QByteArray> &tree)
{
    const QStringList keys = tree.keys();
    return int(
        std::count_if(keys.begin(), keys.end(), [](const QString &k) { return k.startsWith(QLatin1String("game/")); }));
}

// Versions 1.0.0.1 ... of a game of a few small files, each changed, one added and one gone per version.
bool writeTinyGame(const QString &root, int count)
{
    for (int v = 1; v <= count; ++v) {
        const QString dir = root + QStringLiteral("/1.0.0.%1/").arg(v);
        if (!writeFile(dir + QStringLiteral("game.exe"), QByteArray("binary ").repeated(200 + v))
            || !writeFile(dir + QStringLiteral("data/v%1.pak").arg(v), QByteArray::number(v).repeated(3000))
            || !writeFile(dir + QStringLiteral("data/common.pak"), QByteArray("common").repeated(5000)))
            return false;
    }
    return true;
}

// The documents a change rewrites; every other published file is immutable.
bool isRewritten(const QString &path)
{
    return path == QLatin1String("game/manifest.txt") || path.startsWith(QLatin1String("game/release.json"));
}

// What a reader of the layout may rely on at any moment: the guide names
// archives that are there with their MD5 and size, its newest version has its
// manifests and block index, every index names bundles that are there, and
// the signed release names files that are there as listed (the guide manifest
// itself excepted while it runs one step ahead of the release).
QString inconsistency(const QString &out, bool releaseCurrent)
{
    const QStringList guide = lines(out + QStringLiteral("/game/manifest.txt"));
    for (const QString &line : section(guide, QStringLiteral("--download_version--"))) {
        const QStringList f = line.split(QLatin1Char('|'));
        if (md5Of(readFile(out + QLatin1Char('/') + f.value(1))) != f.value(2))
            return QStringLiteral("guide: ") + line;
    }
    const QString last = section(guide, QStringLiteral("--last_version--")).value(0);
    for (const QString &doc : { QStringLiteral("manifest.txt"), QStringLiteral("repair.txt") })
        if (!QFileInfo::exists(out + QStringLiteral("/game/%1/%2").arg(last, doc)))
            return QStringLiteral("no %1 of %2").arg(doc, last);
    const Morvaniel::BlockIndex index = indexOf(out, last);
    if (index.files.isEmpty())
        return QStringLiteral("no block index of ") + last;
    for (const Morvaniel::IndexBundle &b : index.bundles)
        if (QFileInfo(out + QStringLiteral("/game/") + Morvaniel::BlockIndex::bundlePath(b.digest)).size() != b.size)
            return QStringLiteral("a bundle of %1 is missing").arg(last);
    const Morvaniel::ReleaseDocument doc = releaseOf(out);
    for (auto it = doc.files.cbegin(); it != doc.files.cend(); ++it) {
        if (!releaseCurrent && isRewritten(it.key()))
            continue;
        if (Morvaniel::Blake2b::fileHex(out + QLatin1Char('/') + it.key()) != it.value().blake2b)
            return QStringLiteral("release: ") + it.key();
    }
    return QString();
}

#ifdef Q_OS_UNIX
// nginx on a free loopback port in front of the S3 server's bucket; its address, or empty.
QString startProxy(QProcess &nginx, const QString &folder, const QString &s3Port)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin") });
    QTcpServer probe;
    if (program.isEmpty() || !QDir().mkpath(folder) || !probe.listen(QHostAddress::LocalHost, 0))
        return QString();
    const QString port = QString::number(probe.serverPort());
    probe.close();
    const QByteArray user = geteuid() == 0 ? "user root;\n" : "";
    if (!writeFile(folder + QStringLiteral("/nginx.conf"),
            user + "daemon off;\npid " + folder.toUtf8() + "/pid;\nerror_log " + folder.toUtf8()
                + "/err.log;\nevents {}\nhttp {\n  access_log off;\n  server {\n    listen 127.0.0.1:" + port.toUtf8()
                + ";\n    location / { proxy_pass http://127.0.0.1:" + s3Port.toUtf8() + "/www/cdn/; }\n  }\n}\n"))
        return QString();
    nginx.start(
        program, { QStringLiteral("-c"), folder + QStringLiteral("/nginx.conf"), QStringLiteral("-p"), folder });
    for (int i = 0; i < 100 && nginx.state() != QProcess::NotRunning; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(port.toUInt()));
        if (s.waitForConnected(100))
            return QStringLiteral("http://127.0.0.1:") + port;
        QThread::msleep(50);
    }
    return QString();
}
#endif

} // namespace

void tst_Publisher::growByAdding()
{
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    const QStringList versions{ "1.0.0.1", "1.0.0.2", "1.0.0.3", "1.0.0.4" };
    QTemporaryDir dir;
    QVERIFY(copyTree(m_games4 + QStringLiteral("/1.0.0.1"), dir.filePath(QStringLiteral("first/1.0.0.1"))));
    const QString grown = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(grown);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    options.inputDir.clear();
    qint64 serial = releaseOf(grown).serial;
    for (const QString &v : versions.mid(1)) {
        const QMap<QString, QByteArray> before = treeContent(grown);
        options.addVersionDir = m_games4 + QLatin1Char('/') + v;
        // The older tree from a local copy once, else unpacked from the published archives.
        options.oldVersionsDir = v == QLatin1String("1.0.0.3") ? m_games4 : QString();
        QVERIFY2(publish(options, report), qPrintable(report.error));
        const QMap<QString, QByteArray> after = treeContent(grown);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(isRewritten(it.key()) || after.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(releaseOf(grown).serial, ++serial);
        QVERIFY(!QFileInfo::exists(grown + QStringLiteral("/.publish-work")));
    }

    // Equal to the layout published at once, the release's serial and expiry aside.
    const QMap<QString, QByteArray> a = treeContent(atOnce), b = treeContent(grown);
    auto outsideBlocks = [](const QMap<QString, QByteArray> &tree) {
        QStringList keys;
        for (const QString &k : tree.keys())
            if (!k.startsWith(QLatin1String("game/blocks/")) && !k.startsWith(QLatin1String("game/release.json")))
                keys << k;
        return keys;
    };
    QCOMPARE(outsideBlocks(b), outsideBlocks(a));
    for (const QString &k : outsideBlocks(a))
        QVERIFY2(a[k] == b[k], qPrintable(k));
    Morvaniel::ReleaseDocument docA = releaseOf(atOnce), docB = releaseOf(grown);
    QCOMPARE(docB.newestVersion, docA.newestVersion);
    QCOMPARE(docB.files.size(), channelFiles(b) - 2);

    // The block store keeps its published bundles, so the grown one places
    // blocks oldest version first; the same blocks, each stored once, in frames
    // of the same bytes.
    QMap<QString, quint32> blocksA, blocksB;
    for (const QString &v : versions) {
        const Morvaniel::BlockIndex ia = indexOf(atOnce, v), ib = indexOf(grown, v);
        QCOMPARE(ib.files.size(), ia.files.size());
        for (int i = 0; i < ia.files.size(); ++i) {
            QCOMPARE(ib.files[i].path, ia.files[i].path);
            QCOMPARE(ib.files[i].md5, ia.files[i].md5);
        }
        for (const Morvaniel::IndexBlock &x : ia.blocks)
            blocksA.insert(x.digest.hex(), x.packedSize);
        for (const Morvaniel::IndexBlock &x : ib.blocks)
            blocksB.insert(x.digest.hex(), x.packedSize);
    }
    QCOMPARE(blocksB, blocksA);
    auto bundleBytes = [](const QMap<QString, QByteArray> &tree) {
        qint64 n = 0;
        for (auto it = tree.cbegin(); it != tree.cend(); ++it)
            n += it.key().endsWith(QLatin1String(".bundle")) ? it.value().size() : 0;
        return n;
    };
    QCOMPARE(bundleBytes(b), bundleBytes(a));
}

void tst_Publisher::serialRules_data()
{
    QTest::addColumn<qlonglong>("published");
    QTest::addColumn<qlonglong>("serial"); // -1: none given
    QTest::addColumn<qlonglong>("validSeconds");
    QTest::addColumn<qlonglong>("expected"); // -1: refused
    QTest::addColumn<QString>("reason");
    const qlonglong max = qlonglong(1) << 53;
    QTest::newRow("published plus one") << 1000LL << -1LL << 86400LL << 1001LL << "";
    QTest::newRow("publishing clock far behind") << (max - 1) << -1LL << 86400LL << max << "";
    QTest::newRow("given above the published") << 1000LL << 5000LL << 86400LL << 5000LL << "";
    QTest::newRow("given equal to the published") << 1000LL << 1000LL << 86400LL << -1LL << "not above";
    QTest::newRow("given below the published") << 1000LL << 999LL << 86400LL << -1LL << "not above";
    QTest::newRow("given above 2^53") << 1000LL << (max + 1) << 86400LL << -1LL << "2^53";
    QTest::newRow("published at 2^53") << max << -1LL << 86400LL << -1LL << "2^53";
    QTest::newRow("expiry past 9999") << 1000LL << -1LL << (qlonglong(1) << 40) << -1LL << "9999";
}

void tst_Publisher::serialRules()
{
    QFETCH(qlonglong, published);
    QFETCH(qlonglong, serial);
    QFETCH(qlonglong, validSeconds);
    QFETCH(qlonglong, expected);
    QFETCH(QString, reason);
    QVERIFY(!cycleLayout().isEmpty());
    QTemporaryDir dir;
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("first")), 1));
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("next")), 2));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    options.defaultPairs = false;
    options.blocks = false;
    options.signing.serial = published;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    const QMap<QString, QByteArray> before = treeContent(www);

    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("next/1.0.0.2"));
    options.signing.serial = serial;
    options.signing.validSeconds = validSeconds;
    const bool ok = publish(options, report);
    if (expected < 0) {
        QVERIFY(!ok);
        QVERIFY2(report.error.contains(reason), qPrintable(report.error));
        // Refused before anything was written.
        QCOMPARE(treeContent(www), before);
        return;
    }
    QVERIFY2(ok, qPrintable(report.error));
    QCOMPARE(releaseOf(www).serial, expected);
    QCOMPARE(releaseOf(www).newestVersion, QStringLiteral("1.0.0.2"));

    // A channel published from scratch refuses the same limits.
    if (serial >= 0) {
        options.addVersionDir.clear();
        options.inputDir = dir.filePath(QStringLiteral("first"));
        options.outputDir = dir.filePath(QStringLiteral("fresh"));
        options.signing.serial = (qlonglong(1) << 53) + 1;
        QVERIFY(!publish(options, report));
        QVERIFY2(report.error.contains(QStringLiteral("2^53")), qPrintable(report.error));
    }
}

void tst_Publisher::safeOrder()
{
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    QTemporaryDir dir;
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("first")), 3));
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("next")), 4));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));

    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("next/1.0.0.4"));
    options.keep = 2;
    QList<PublishStep> steps;
    QStringList problems;
    options.onStep = [&](PublishStep step) {
        steps << step;
        const bool newGuide = step >= PublishStep::Guide;
        const QString last = section(lines(www + QStringLiteral("/game/manifest.txt")), "--last_version--").value(0);
        if (last != (newGuide ? QStringLiteral("1.0.0.4") : QStringLiteral("1.0.0.3")))
            problems << QStringLiteral("step %1: guide names %2").arg(int(step)).arg(last);
        if (QFileInfo::exists(www + QStringLiteral("/game/1.0.0.4/manifest.txt"))
            != (step >= PublishStep::VersionDocuments))
            problems << QStringLiteral("step %1: the new file manifest came out of order").arg(int(step));
        if (QFileInfo::exists(www + QStringLiteral("/game/1.0.0.1")) != (step < PublishStep::Removed))
            problems << QStringLiteral("step %1: removal out of order").arg(int(step));
        const QString why = inconsistency(www, step != PublishStep::Guide);
        if (!why.isEmpty())
            problems << QStringLiteral("step %1: %2").arg(int(step)).arg(why);
    };
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(steps,
        QList<PublishStep>({ PublishStep::Files, PublishStep::VersionDocuments, PublishStep::Guide,
            PublishStep::Release, PublishStep::Removed }));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // The order an upload follows: immutable files, manifests, guide, release.
    QVERIFY(report.written.size() > 4);
    QCOMPARE(report.written.mid(report.written.size() - 3),
        QStringList({ "game/manifest.txt", "game/release.json", "game/release.json.sig" }));
    QVERIFY(report.written.indexOf(QStringLiteral("game/1.0.0.4/manifest.txt"))
        > report.written.indexOf(QStringLiteral("game/1.0.0.4/full_1.0.0.4.7z")));
}

void tst_Publisher::retention_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QStringList>("steps"); // the guide's lines afterwards
    const QStringList all{ "1.0.0.1->1.0.0.1", "1.0.0.2->1.0.0.2", "1.0.0.3->1.0.0.3", "1.0.0.4->1.0.0.4",
        "1.0.0.1->1.0.0.2", "1.0.0.2->1.0.0.3", "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 2") << 2 << false
                            << QStringList{ "1.0.0.3->1.0.0.3", "1.0.0.4->1.0.0.4", "1.0.0.2->1.0.0.3",
                                   "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 1") << 1 << false << QStringList{ "1.0.0.4->1.0.0.4", "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 2, dry run") << 2 << true << all;
    QTest::newRow("keep all") << 4 << false << all;
}

void tst_Publisher::retention()
{
    QFETCH(int, keep);
    QFETCH(bool, dryRun);
    QFETCH(QStringList, steps);
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    QTemporaryDir dir;
    const QString www = dir.filePath(QStringLiteral("www"));
    QVERIFY(copyTree(atOnce, www));
    const QMap<QString, QByteArray> before = treeContent(www);
    PublishOptions options = cycleOptions(www);
    options.keep = keep;
    options.dryRun = dryRun;
    // Only printing needs no key, even for a signed channel.
    if (dryRun)
        options.signing.secretKeyFile.clear();
    PublishReport report;
    QStringList said;
    QVERIFY2(publish(options, report, [&](const QString &line) { said << line; }), qPrintable(report.error));

    QStringList guide;
    for (const QString &line : section(lines(www + QStringLiteral("/game/manifest.txt")), "--download_version--"))
        guide << line.section(QLatin1Char('|'), 0, 0);
    guide.removeDuplicates();
    QCOMPARE(guide, steps);
    const QMap<QString, QByteArray> after = treeContent(www);
    qint64 freed = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const bool removed = report.removed.contains(it.key());
        freed += removed ? it.value().size() : 0;
        if (!isRewritten(it.key()))
            QVERIFY2(after.contains(it.key()) == (dryRun || !removed), qPrintable(it.key()));
        if (removed)
            QVERIFY2(said.join(QLatin1Char('\n')).contains(it.key()), qPrintable(it.key()));
    }
    QCOMPARE(report.freedBytes, freed);
    QVERIFY(said.join(QLatin1Char('\n')).contains(QString::number(freed)) || keep == 4);
    if (dryRun || keep == 4) {
        QCOMPARE(after, before);
        QCOMPARE(report.removed.isEmpty(), keep == 4);
        return;
    }
    // Nothing the kept versions need went; the release lists only what stays.
    QVERIFY2(inconsistency(www, true).isEmpty(), qPrintable(inconsistency(www, true)));
    QCOMPARE(releaseOf(www).files.size(), channelFiles(after) - 2);
    QCOMPARE(releaseOf(www).serial, releaseOf(atOnce).serial + 1);
    for (const QString &v : steps)
        for (const Morvaniel::IndexBundle &b : indexOf(www, v.section(QLatin1String("->"), 1)).bundles)
            QVERIFY(after.contains(QStringLiteral("game/") + Morvaniel::BlockIndex::bundlePath(b.digest)));
    QVERIFY(!QFileInfo::exists(www + QStringLiteral("/game/1.0.0.1")));
    QVERIFY(report.removed.contains(QStringLiteral("game/blocks/1.0.0.1.index")));
}

void tst_Publisher::uploadToS3()
{
#ifndef Q_OS_UNIX
    QSKIP("rclone and the S3 test server are run on the Linux side only");
#else
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    if (rclone.isEmpty())
        QSKIP("rclone is not installed (./run.sh test installs it)");
    const QString s3rver = qEnvironmentVariable("MORVANIEL_S3RVER", QStringLiteral(MORVANIEL_S3RVER));
    if (!QFileInfo(s3rver).isExecutable())
        QSKIP("s3rver is not installed (./run.sh test installs it from the npm registry into build-tools/)");
    QVERIFY(!cycleLayout().isEmpty());
    // The server is plain HTTP on loopback; rclone's S3 client refuses to start
    // with a custom CA bundle in its environment.
    qunsetenv("AWS_CA_BUNDLE");
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("s3"))));
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(s3rver,
        { "-d", dir.filePath(QStringLiteral("s3")), "-a", "127.0.0.1", "-p", "0", "--configure-bucket", "www" });
    QByteArray said;
    QString port;
    QElapsedTimer clock;
    clock.start();
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (port.isEmpty() && clock.elapsed() < 30000 && server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(500);
        said += server.readAll();
        port = listening.match(QString::fromLocal8Bit(said)).captured(1);
    }
    QVERIFY2(!port.isEmpty(), said.constData());
    const QString destination = QStringLiteral(":s3,provider=Other,endpoint='http://127.0.0.1:%1',"
                                               "access_key_id=S3RVER,secret_access_key=S3RVER:www/cdn")
                                    .arg(port);
    int copies = 0;
    auto remote = [&] {
        const QString copy = dir.filePath(QStringLiteral("remote%1").arg(++copies));
        QProcess p;
        p.start(rclone, { "copy", destination, copy });
        return p.waitForFinished(60000) && p.exitCode() == 0 ? treeContent(copy) : QMap<QString, QByteArray>();
    };

    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("game")), 4));
    QVERIFY(copyTree(dir.filePath(QStringLiteral("game/1.0.0.1")), dir.filePath(QStringLiteral("first/1.0.0.1"))));
    QVERIFY(copyTree(dir.filePath(QStringLiteral("game/1.0.0.2")), dir.filePath(QStringLiteral("first/1.0.0.2"))));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    options.uploadDestination = destination;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));

    // A new version, and the oldest let go on the server too.
    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("game/1.0.0.3"));
    options.keep = 2;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));
    QVERIFY(!remote().contains(QStringLiteral("game/1.0.0.1/full_1.0.0.1.7z")));

    // The link fails when the guide manifest's turn comes: the server keeps
    // serving the previous publication, signed and whole.
    const QString failing = dir.filePath(QStringLiteral("failing-rclone"));
    QVERIFY(writeFile(failing,
        "#!/bin/sh\nprev=\nfor a in \"$@\"; do\n  if [ \"$prev\" = --files-from-raw ] && grep -qx game/manifest.txt "
        "\"$a\"; then\n    echo 'connection reset' >&2; exit 1\n  fi\n  prev=$a\ndone\nexec rclone \"$@\"\n"));
    QVERIFY(QFile::setPermissions(failing, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QMap<QString, QByteArray> served = remote();
    options.addVersionDir = dir.filePath(QStringLiteral("game/1.0.0.4"));
    options.keep = 0;
    options.rclone = failing;
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("connection reset")), qPrintable(report.error));
    const QMap<QString, QByteArray> afterFailure = remote();
    for (auto it = served.cbegin(); it != served.cend(); ++it)
        QVERIFY2(afterFailure.value(it.key()) == it.value(), qPrintable(it.key()));
    QVERIFY(afterFailure.contains(QStringLiteral("game/1.0.0.4/full_1.0.0.4.7z")));
    const QString why = inconsistency(dir.filePath(QStringLiteral("remote%1").arg(copies)), true);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    // Uploading the layout alone sends the rest.
    options.addVersionDir.clear();
    options.rclone.clear();
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));

    // A host installs from the bucket through nginx in front of it, checking the signed release.
    QProcess proxy;
    const QString url = startProxy(proxy, dir.filePath(QStringLiteral("nginx")), port);
    if (url.isEmpty())
        QSKIP("nginx is not installed or did not start (./run.sh test installs nginx-light)");
    HostTest::CliFolder cli;
    QVERIFY(cli.create(dir.filePath(QStringLiteral("cli"))));
    QByteArray out, errors;
    const QString install = dir.filePath(QStringLiteral("install"));
    QCOMPARE(cli.run({ "update", "--server", url, "--dir", install, "--trust", m_key + QStringLiteral(".pub") }, &out,
                 120000, &errors),
        0);
    QCOMPARE(treeContent(install + QStringLiteral("/MorvanielGame")),
        treeContent(dir.filePath(QStringLiteral("game/1.0.0.4"))));
    proxy.terminate();
    proxy.waitForFinished(5000);
    server.kill();
    server.waitForFinished(5000);
#endif
}
