// Block delivery end to end, through the host interface: games published
// with a block store, served on loopback (misbehaving where a row says so),
// installed, updated and repaired by the block worker; the folder compared
// byte for byte with the version it must hold.

#include "Publisher.h"
#include "ReleaseSigner.h"
#include "SampleGame.h"

#include "../support/DataRows.h"
#include "../support/TestSupport.h"
#include "HttpServer.h"

#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockIndex.h"
#include "blocks/BlockJob.h"
#include "core/BlockComponent.h"
#include "core/Global.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "trust/ReleasePolicy.h"
#include "trust/ReleaseTrust.h"

#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Morvaniel;
using TestSupport::copyTree;
using TestSupport::readFile;
using TestSupport::row;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

const QString Channel = QStringLiteral("game");
// The bytes of the moves game's second version found nowhere in its first.
constexpr int MovesNewBytes = 160 * 1024;

// Small cuts, so that the sample's files are many blocks each.
Morvaniel::CutParameters smallCut()
{
    return Morvaniel::CutParameters{ 2048, 8192, 32768 };
}

struct Outcome
{
    BlockCallbackInfo last;
    int finals = 0;
    int reports = 0;
};

// Every file of the tree except the worker's own staging folder.
QMap<QString, QByteArray> gameTree(const QString &root)
{
    QMap<QString, QByteArray> tree = treeContent(root);
    for (auto it = tree.begin(); it != tree.end();)
        it = it.key().startsWith(QLatin1String(".morvaniel-blocks")) ? tree.erase(it) : std::next(it);
    return tree;
}

// Where names ignore letter case, an update keeps a renamed file's old
// spelling (both name one file): trees are compared by what names mean there.
QMap<QString, QByteArray> asNamed(const QMap<QString, QByteArray> &tree)
{
#ifdef Q_OS_WIN
    QMap<QString, QByteArray> folded;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        folded.insert(it.key().toLower(), it.value());
    return folded;
#else
    return tree;
#endif
}

// Bytes of path that are neither what the version has there nor zero (a hole
// not written yet): nothing unchecked may ever land in a game file.
int foreignBytes(const QByteArray &actual, const QByteArray &wanted)
{
    int n = 0;
    for (int i = 0; i < actual.size(); ++i)
        if (actual[i] != 0 && (i >= wanted.size() || actual[i] != wanted[i]))
            ++n;
    return n;
}

} // namespace

class tst_BlockFetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void deliver_data();
    void deliver();
    void repair_data();
    void repair();
    void signedRefusals_data();
    void signedRefusals();
    void resumeAfterKill_data();
    void resumeAfterKill();
    void pauseAndResume();
    void stopReturnsSettled();
    void notEnoughSpace();
    void planComparesWithPatchChain();

private:
    bool publish(const QString &input, const QString &out);
    QString versionDir(const QString &game, const QString &version) const;
    BlockJob job(const QString &www, const QString &folder, const QString &version, const QString &installed = {});
    Outcome run(const BlockJob &job, const std::function<void(const BlockCallbackInfo &)> &onProgress = {});
    bool acceptRelease(const QString &www, QString &error);
    void serveAll(const QString &www, const HttpTest::HttpFaultRule &rule);

    QTemporaryDir m_dir;
    QString m_key;
    QString m_sample; // served folders
    QString m_moves;
    HttpTest::HttpServer m_server;
    QNetworkAccessManager m_network;
};

bool tst_BlockFetch::publish(const QString &input, const QString &out)
{
    Publisher::PublishOptions options;
    options.inputDir = input;
    options.outputDir = out;
    options.defaultPairs = false; // archives are not what this test is about
    options.compressionLevel = 1;
    options.blockStore.cut = smallCut();
    options.blockStore.bundleSize = 256 * 1024;
    options.signing.secretKeyFile = m_key;
    options.signing.serial = 100;
    Publisher::PublishReport report;
    const bool ok = Publisher::publish(options, report);
    if (!ok)
        qWarning() << report.error;
    return ok;
}

void tst_BlockFetch::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("7z")).isEmpty()
        && !QFileInfo::exists(TestSupport::programPath(QStringLiteral("7z"))))
        QSKIP("7-Zip (7z) is not installed");
    QString error;
    m_key = m_dir.filePath("release.key");
    QVERIFY2(ReleaseKeys::GenerateKeyFiles(m_key, m_key + ".pub", error), qPrintable(error));

    QCOMPARE(Publisher::generateSampleGame(m_dir.filePath("sample-in"), 3, error).size(), 3);
    m_sample = m_dir.filePath("sample");
    QVERIFY(publish(m_dir.filePath("sample-in"), m_sample));

    // Blocks that move inside a file, between files, and recur in several.
    const QByteArray a = TestSupport::randomBytes(384 * 1024, 1), b = TestSupport::randomBytes(320 * 1024, 2);
    const QByteArray c = TestSupport::randomBytes(256 * 1024, 3), d = TestSupport::randomBytes(288 * 1024, 4);
    const QByteArray e = TestSupport::wordText(360 * 1024, 5), f = TestSupport::randomBytes(200 * 1024, 6);
    const QByteArray x = TestSupport::randomBytes(MovesNewBytes, 7);
    const QString in = m_dir.filePath("moves-in");
    QVERIFY(writeFile(in + "/1.0.0.1/data/a.pak", a + b + c + d));
    QVERIFY(writeFile(in + "/1.0.0.1/data/b.pak", e + f));
    QVERIFY(writeFile(in + "/1.0.0.1/old.txt", "gone in the next version\n"));
    QVERIFY(writeFile(in + "/1.0.0.2/data/a.pak", c + a + x + d));
    QVERIFY(writeFile(in + "/1.0.0.2/data/b.pak", b + e + f));
    QVERIFY(writeFile(in + "/1.0.0.2/data/c.pak", f + f + a.left(100 * 1024)));
    QVERIFY(writeFile(in + "/1.0.0.2/empty.txt", QByteArray()));
    m_moves = m_dir.filePath("moves");
    QVERIFY(publish(in, m_moves));

    QVERIFY(m_server.listen());
    Global::Var::Host = m_server.url(QString());
    Global::Var::HostAndChannel = Global::Var::Host + "/" + Channel;
}

void tst_BlockFetch::init()
{
    m_server.clearRules();
    m_server.resetStatistics();
    m_server.setRoot(m_sample);
}

void tst_BlockFetch::cleanup()
{
    ReleaseTrust::SetTrustedKeys({});
    GetBlockComponent()->RegistCallbackFunc(nullptr);
}

QString tst_BlockFetch::versionDir(const QString &game, const QString &version) const
{
    return m_dir.filePath(game + "-in/" + version);
}

BlockJob tst_BlockFetch::job(
    const QString &www, const QString &folder, const QString &version, const QString &installed)
{
    BlockJob j;
    j.folder = folder;
    j.channelUrl = m_server.url("/" + Channel);
    j.targetIndexUrl = j.channelUrl + "/" + BlockIndex::indexPath(version);
    j.targetIndex = readFile(www + "/" + Channel + "/" + BlockIndex::indexPath(version));
    if (!installed.isEmpty()) {
        j.installedIndexUrl = j.channelUrl + "/" + BlockIndex::indexPath(installed);
        j.installedIndex = readFile(www + "/" + Channel + "/" + BlockIndex::indexPath(installed));
    }
    return j;
}

Outcome tst_BlockFetch::run(const BlockJob &job, const std::function<void(const BlockCallbackInfo &)> &onProgress)
{
    Outcome out;
    std::shared_ptr<BlockComponent> blocks = GetBlockComponent();
    blocks->RegistCallbackFunc([&](BlockCallbackInfo &info) {
        if (info.bFinished || info.bPaused || info.bError) {
            ++out.finals;
            out.last = info;
        } else {
            ++out.reports;
            if (onProgress)
                onProgress(info);
        }
    });
    blocks->StartBlocks(job);
    if (!QTest::qWaitFor([&] { return out.finals > 0; }, 120000))
        qWarning() << "the block run never ended";
    // A second final report would arrive now.
    QTest::qWait(100);
    blocks->RegistCallbackFunc(nullptr);
    return out;
}

void tst_BlockFetch::serveAll(const QString &www, const HttpTest::HttpFaultRule &rule)
{
    QDirIterator it(www + "/" + Channel + "/blocks", { QStringLiteral("*.bundle") }, QDir::Files);
    while (it.hasNext())
        m_server.setRule("/" + QDir(www).relativeFilePath(it.next()), rule);
}

bool tst_BlockFetch::acceptRelease(const QString &www, QString &error)
{
    ReleaseTrust::SetTrustedKeys({ QString::fromLatin1(readFile(m_key + ".pub")).trimmed() });
    ReleaseDocument doc;
    AcceptedRelease remember;
    return ReleaseTrust::Accept(readFile(www + "/game/release.json"), readFile(www + "/game/release.json.sig"), Channel,
        AcceptedRelease(), remember, doc, error);
}

// Each row: a game, the version to reach, what the folder holds at the start
// and how the server behaves; then what the run must have done.
void tst_BlockFetch::deliver_data()
{
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("start"); // "empty", or a version copied in first ("+index": its index given)
    QTest::addColumn<QString>("server"); // "", "ignore-range"
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("maxRanges");
    QTest::addColumn<bool>("signedRelease");
    QTest::addColumn<bool>("expectStaged");
    QTest::addColumn<bool>("expectCopies");
    row("install from nothing", "sample", "1.0.0.3", "empty", "", 8, 16, false, false, false);
    row("install, signed release", "sample", "1.0.0.3", "empty", "", 4, 16, true, false, false);
    row("install, one connection, one range a request", "sample", "1.0.0.3", "empty", "", 1, 1, false, false, false);
    row("install, server ignores Range", "sample", "1.0.0.3", "empty", "ignore-range", 4, 16, false, false, false);
    // 1.0.0.2 renames Intro.txt to intro.txt: on a disk that tells them apart,
    // a copy; where both name one file, nothing to do.
#ifdef Q_OS_WIN
    const bool renameCopies = false;
#else
    const bool renameCopies = true;
#endif
    row("update 1 -> 3 with the installed index", "sample", "1.0.0.3", "1.0.0.1+index", "", 8, 16, false, false,
        renameCopies);
    row("update over files of unknown content", "sample", "1.0.0.3", "1.0.0.1", "", 8, 16, false, false, false);
    row("update with moved and shared blocks", "moves", "1.0.0.2", "1.0.0.1+index", "", 4, 16, true, true, true);
    row("update with moved blocks, server ignores Range", "moves", "1.0.0.2", "1.0.0.1+index", "ignore-range", 2, 16,
        false, true, true);
}

void tst_BlockFetch::deliver()
{
    QFETCH(QString, game);
    QFETCH(QString, target);
    QFETCH(QString, start);
    QFETCH(QString, server);
    QFETCH(int, connections);
    QFETCH(int, maxRanges);
    QFETCH(bool, signedRelease);
    QFETCH(bool, expectStaged);
    QFETCH(bool, expectCopies);
    const QString www = game == QLatin1String("moves") ? m_moves : m_sample;
    m_server.setRoot(www);
    if (server == QLatin1String("ignore-range")) {
        HttpTest::HttpFaultRule rule;
        rule.ignoreRange = true;
        serveAll(www, rule);
    }
    QTemporaryDir folder;
    QString installed;
    if (start != QLatin1String("empty")) {
        const QString version = start.section(QLatin1Char('+'), 0, 0);
        QVERIFY(copyTree(versionDir(game, version), folder.path()));
        if (start.endsWith(QLatin1String("+index")))
            installed = version;
    }
    if (signedRelease) {
        QString error;
        QVERIFY2(acceptRelease(www, error), qPrintable(error));
    }
    BlockJob j = job(www, folder.path(), target, installed);
    j.connections = connections;
    j.shape.maxRanges = maxRanges;

    BlockCost planned;
    QString error;
    QVERIFY2(GetBlockComponent()->PlanBlocks(j, planned, error), qPrintable(error));
    const qint64 sentBefore = m_server.bytesSent();
    const Outcome out = run(j);
    const qint64 sent = m_server.bytesSent() - sentBefore;
    QCOMPARE(out.finals, 1);
    QVERIFY2(out.last.bFinished, qPrintable(out.last.errorString));
    QCOMPARE(out.last.errorCode, BlockError::None);
    const QMap<QString, QByteArray> wanted = asNamed(treeContent(versionDir(game, target)));
    if (installed.isEmpty() && start != QLatin1String("empty")) {
        // Without the installed index nothing tells which old files to delete: they stay.
        const QMap<QString, QByteArray> got = asNamed(gameTree(folder.path()));
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QCOMPARE(got.value(it.key()), it.value());
    } else {
        const QMap<QString, QByteArray> got = asNamed(gameTree(folder.path()));
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QVERIFY2(wanted.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(got.keys(), wanted.keys());
    }
    QVERIFY(!QFileInfo::exists(folder.path() + "/.morvaniel-blocks"));
    QCOMPARE(out.last.cost.fetchBytes, planned.fetchBytes);
    QCOMPARE(out.last.downloadedSize, out.last.totalSize);
    QCOMPARE(out.last.cost.stagedBytes > 0, expectStaged);
    QCOMPARE(out.last.cost.copyBytes > 0, expectCopies);
    // What came from the server: the planned blocks, and with Range ignored
    // no more than whole bundles up to the last block asked for.
    qint64 bundles = 0;
    QDirIterator it(www + "/game/blocks", { QStringLiteral("*.bundle") }, QDir::Files);
    while (it.hasNext())
        bundles += QFileInfo(it.next()).size();
    QVERIFY2(sent <= planned.fetchBytes + 4096 + (server.isEmpty() ? 0 : bundles),
        qPrintable(QStringLiteral("%1 bytes sent for %2 planned").arg(sent).arg(planned.fetchBytes)));
    if (start == QLatin1String("1.0.0.1+index") && game == QLatin1String("sample"))
        QVERIFY(planned.fetchBytes < planned.targetBytes / 2);
    if (game == QLatin1String("moves")) {
        // The new bytes, and a block or two where pieces meet anew (twelve such
        // places); everything else moves or repeats.
        QVERIFY2(planned.fetchBytes < MovesNewBytes + 12 * 2 * qint64(smallCut().maxSize),
            qPrintable(QString::number(planned.fetchBytes)));
        QVERIFY(planned.copyBytes > 1024 * 1024);
        QVERIFY(!QFileInfo::exists(folder.path() + "/old.txt"));
    }
    if (signedRelease)
        ReleaseTrust::EndRun();
}

// A file that fails its check is compared block by block with the index:
// only what is damaged comes from the server.
void tst_BlockFetch::repair_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("maxFetchedBlocks");
    row("three bytes in two files", "bytes", 3);
    row("a region zeroed", "zeroed", 4);
    row("a file cut short", "truncated", 6);
    row("a file grown", "grown", 0);
    row("a file deleted", "deleted", 1000);
}

void tst_BlockFetch::repair()
{
    QFETCH(QString, damage);
    QFETCH(int, maxFetchedBlocks);
    QTemporaryDir folder;
    QVERIFY(copyTree(versionDir("sample", "1.0.0.3"), folder.path()));
    const QString pak = folder.path() + "/PM/Content/Paks/pakchunk0-WindowsNoEditor.pak";
    const QString exe = folder.path() + "/PM/Binaries/Win64/PM-Win64-Shipping.exe";
    QByteArray bytes = readFile(pak);
    if (damage == QLatin1String("bytes")) {
        bytes[1000] = char(bytes[1000] ^ 1);
        bytes[bytes.size() - 10] = char(bytes[bytes.size() - 10] ^ 0x80);
        QByteArray other = readFile(exe);
        other[300000] = char(other[300000] ^ 4);
        QVERIFY(writeFile(exe, other));
    } else if (damage == QLatin1String("zeroed")) {
        bytes.replace(500000, 20000, QByteArray(20000, '\0'));
    } else if (damage == QLatin1String("truncated")) {
        bytes.truncate(bytes.size() - 30000);
    } else if (damage == QLatin1String("grown")) {
        bytes += QByteArray(12345, 'x');
    }
    if (damage == QLatin1String("deleted"))
        QVERIFY(QFile::remove(pak));
    else
        QVERIFY(writeFile(pak, bytes));
    BlockJob j = job(m_sample, folder.path(), "1.0.0.3");
    j.repairFiles << "PM/Content/Paks/pakchunk0-WindowsNoEditor.pak"
                  << "PM/Binaries/Win64/PM-Win64-Shipping.exe";
    const Outcome out = run(j);
    QCOMPARE(out.finals, 1);
    QVERIFY2(out.last.bFinished, qPrintable(out.last.errorString));
    QCOMPARE(gameTree(folder.path()), treeContent(versionDir("sample", "1.0.0.3")));
    BlockIndex index;
    QString error;
    QVERIFY(BlockIndex::parse(j.targetIndex, index, error));
    qint64 largest = 0;
    for (const IndexBlock &b : index.blocks)
        largest = qMax<qint64>(largest, b.packedSize);
    QVERIFY2(out.last.downloadedSize <= largest * maxFetchedBlocks,
        qPrintable(QStringLiteral("%1 bytes fetched").arg(out.last.downloadedSize)));
    if (damage == QLatin1String("bytes"))
        QCOMPARE(out.last.repairedBlocks, qint64(3));
}

// Signed releases on: what a forger changed on the server is refused, and
// nothing unchecked is written.
void tst_BlockFetch::signedRefusals_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("refusal");
    row("index changed", "index", int(BlockError::Untrusted), "does not match the signed release");
    row("bundle left out of the release", "unlisted", int(BlockError::Untrusted), "is not listed");
    row("install from a tampered bundle", "bundle", int(BlockError::Tampered), "does not match its digest");
    row("repair from a tampered bundle", "bundle-repair", int(BlockError::Tampered), "does not match its digest");
    // Refused at the first answer that tells its length, not retried as a network failure.
    row("install from a bundle served longer", "bundle-longer", int(BlockError::Tampered), "is served with");
    row("install from a bundle cut short", "bundle-shorter", int(BlockError::Tampered), "is served with");
}

void tst_BlockFetch::signedRefusals()
{
    QFETCH(QString, attack);
    QFETCH(int, code);
    QFETCH(QString, refusal);
    QTemporaryDir served;
    QVERIFY(copyTree(m_sample, served.path()));
    const QString www = served.path();
    m_server.setRoot(www);
    const QString indexFile = www + "/game/" + BlockIndex::indexPath("1.0.0.3");
    BlockIndex index;
    QString error;
    QVERIFY2(BlockIndex::parse(readFile(indexFile), index, error), qPrintable(error));
    QTemporaryDir folder;
    const QString damaged = QStringLiteral("PM/Content/Paks/pakchunk0-WindowsNoEditor.pak");
    QByteArray before;

    if (attack == QLatin1String("index")) {
        // A well-formed index that another file's MD5 was swapped into.
        index.files[0].md5 = index.files[1].md5;
        QVERIFY(writeFile(indexFile, index.encode()));
    } else if (attack == QLatin1String("unlisted")) {
        ReleaseDocument doc;
        QVERIFY(ReleaseDocument::parse(readFile(www + "/game/release.json"), doc, error));
        doc.files.remove("game/" + BlockIndex::bundlePath(index.bundles.last().digest));
        QByteArray secret;
        QVERIFY(ReleaseKeys::ReadSecretKeyFile(m_key, secret, error));
        QVERIFY(writeFile(www + "/game/release.json", doc.toJson()));
        QVERIFY(writeFile(www + "/game/release.json.sig", ReleaseKeys::Sign(doc.toJson(), secret)));
    } else {
        // One byte inside the frame of the damaged file's first block.
        const int file = index.findFile(damaged);
        const IndexBlock &b = index.blocks[int(index.refs[int(index.files[file].firstRef)].block)];
        const QString bundle = www + "/game/" + BlockIndex::bundlePath(index.bundles[int(b.bundle)].digest);
        QByteArray bytes = readFile(bundle);
        if (attack == QLatin1String("bundle-longer"))
            bytes += QByteArray(1000, 'x');
        else if (attack == QLatin1String("bundle-shorter"))
            bytes.chop(1000);
        else
            bytes[int(b.bundleOffset + b.packedSize / 2)] = char(bytes[int(b.bundleOffset + b.packedSize / 2)] ^ 0x55);
        QVERIFY(writeFile(bundle, bytes));
        if (attack == QLatin1String("bundle-repair")) {
            QVERIFY(copyTree(versionDir("sample", "1.0.0.3"), folder.path()));
            QByteArray pak = readFile(folder.path() + "/" + damaged);
            pak[100] = char(pak[100] ^ 1);
            QVERIFY(writeFile(folder.path() + "/" + damaged, pak));
        }
    }
    before = readFile(folder.path() + "/" + damaged);
    const QMap<QString, QByteArray> treeBefore = gameTree(folder.path());
    QVERIFY2(acceptRelease(www, error), qPrintable(error));
    BlockJob j = job(www, folder.path(), "1.0.0.3");
    if (attack == QLatin1String("bundle-repair"))
        j.repairFiles << damaged;
    const Outcome out = run(j);
    ReleaseTrust::EndRun();
    QCOMPARE(out.finals, 1);
    QVERIFY(out.last.bError);
    QCOMPARE(int(out.last.errorCode), code);
    QVERIFY2(out.last.errorString.contains(refusal), qPrintable(out.last.errorString));
    if (attack == QLatin1String("index") || attack == QLatin1String("unlisted")) {
        // Refused before anything was written: not even the staging folder.
        QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(m_server.requestCount(), 0);
    } else if (attack == QLatin1String("bundle-repair")) {
        QCOMPARE(gameTree(folder.path()), treeBefore);
        QCOMPARE(readFile(folder.path() + "/" + damaged), before);
    } else {
        const QMap<QString, QByteArray> wanted = treeContent(versionDir("sample", "1.0.0.3"));
        const QMap<QString, QByteArray> got = gameTree(folder.path());
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QCOMPARE(foreignBytes(it.value(), wanted.value(it.key())), 0);
        QVERIFY(got.value(damaged) != wanted.value(damaged));
    }
}

// The worker is killed (as by the task manager or a crash) at several points;
// the same job run again ends with the version byte for byte and fetches no
// block twice that was written and journaled.
void tst_BlockFetch::resumeAfterKill_data()
{
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("killAfterReports"); // 0: right after it started
    row("install, killed at once", "sample", "1.0.0.3", "empty", 0);
    row("install, killed after the first report", "sample", "1.0.0.3", "empty", 1);
    row("install, killed late", "sample", "1.0.0.3", "empty", 3);
    row("update with staged files, killed midway", "moves", "1.0.0.2", "1.0.0.1+index", 1);
}

void tst_BlockFetch::resumeAfterKill()
{
    QFETCH(QString, game);
    QFETCH(QString, target);
    QFETCH(QString, start);
    QFETCH(int, killAfterReports);
    const QString www = game == QLatin1String("moves") ? m_moves : m_sample;
    m_server.setRoot(www);
    // Slow bundles, so that the child reports several times before it ends.
    HttpTest::HttpFaultRule slow;
    slow.bytesPerSecond = game == QLatin1String("moves") ? 16 * 1024 : 200 * 1024;
    serveAll(www, slow);
    QTemporaryDir folder;
    QString installed;
    if (start != QLatin1String("empty")) {
        QVERIFY(copyTree(versionDir(game, start.section(QLatin1Char('+'), 0, 0)), folder.path()));
        installed = start.section(QLatin1Char('+'), 0, 0);
    }
    const BlockJob j = job(www, folder.path(), target, installed);
    QStringList args{ folder.path(), j.channelUrl, www + "/game/" + BlockIndex::indexPath(target) };
    if (!installed.isEmpty())
        args << www + "/game/" + BlockIndex::indexPath(installed);
    args << "--connections"
         << "2";

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(TestSupport::programPath(QStringLiteral("blockrun_child")), args);
    QVERIFY(child.waitForStarted(20000));
    int reports = -1;
    qint64 reportedDone = 0;
    QString lastLine;
    const bool reached = QTest::qWaitFor(
        [&] {
            while (child.canReadLine()) {
                lastLine = QString::fromLatin1(child.readLine()).trimmed();
                if (lastLine == QLatin1String("started") || lastLine.startsWith(QLatin1String("progress")))
                    ++reports;
                if (lastLine.startsWith(QLatin1String("progress")))
                    reportedDone = lastLine.section(QLatin1Char(' '), 2, 2).toLongLong();
            }
            return reports >= killAfterReports || child.state() == QProcess::NotRunning;
        },
        60000);
    QVERIFY(reached);
    QVERIFY2(child.state() == QProcess::Running, qPrintable("the child ended first: " + lastLine));
    child.kill();
    QVERIFY(child.waitForFinished(20000));

    // Nothing that is not the target's own bytes is in any game file.
    const QMap<QString, QByteArray> wanted = treeContent(versionDir(game, target));
    if (installed.isEmpty()) {
        const QMap<QString, QByteArray> got = gameTree(folder.path());
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QCOMPARE(foreignBytes(it.value(), wanted.value(it.key())), 0);
    }
    m_server.clearRules();
    const Outcome out = run(j);
    QCOMPARE(out.finals, 1);
    QVERIFY2(out.last.bFinished, qPrintable(out.last.errorString));
    QCOMPARE(gameTree(folder.path()), wanted);
    QVERIFY(!QFileInfo::exists(folder.path() + "/.morvaniel-blocks"));
    // What the killed run reported written is not fetched again.
    QVERIFY2(out.last.wireBytes <= out.last.cost.fetchBytes - reportedDone + 16 * 1024,
        qPrintable(QStringLiteral("%1 bytes fetched after the kill; the plan has %2, %3 were reported done")
                       .arg(out.last.wireBytes)
                       .arg(out.last.cost.fetchBytes)
                       .arg(reportedDone)));
    if (killAfterReports > 0)
        QVERIFY(out.last.bResumed);
}

void tst_BlockFetch::pauseAndResume()
{
    // About ten seconds' worth: the first report comes long before the end.
    HttpTest::HttpFaultRule slow;
    slow.bytesPerSecond = 100 * 1024;
    serveAll(m_sample, slow);
    QTemporaryDir folder;
    BlockJob j = job(m_sample, folder.path(), "1.0.0.3");
    j.connections = 2;
    bool paused = false;
    const Outcome first = run(j, [&](const BlockCallbackInfo &info) {
        if (!paused && info.blocksDone > 0) {
            paused = true;
            GetBlockComponent()->PauseBlocks();
        }
    });
    QCOMPARE(first.finals, 1);
    QVERIFY(first.last.bPaused);
    QVERIFY(!first.last.bError);
    QVERIFY(first.last.downloadedSize < first.last.totalSize);
    QVERIFY(QFileInfo::exists(folder.path() + "/.morvaniel-blocks/journal"));
    m_server.clearRules();
    const Outcome second = run(j);
    QCOMPARE(second.finals, 1);
    QVERIFY2(second.last.bFinished, qPrintable(second.last.errorString));
    QVERIFY(second.last.bResumed);
    QCOMPARE(gameTree(folder.path()), treeContent(versionDir("sample", "1.0.0.3")));
}

void tst_BlockFetch::stopReturnsSettled()
{
    HttpTest::HttpFaultRule slow;
    slow.bytesPerSecond = 100 * 1024;
    serveAll(m_sample, slow);
    QTemporaryDir folder;
    BlockJob j = job(m_sample, folder.path(), "1.0.0.3");
    j.connections = 2;
    std::shared_ptr<BlockComponent> blocks = GetBlockComponent();
    int finals = 0;
    bool running = false;
    BlockCallbackInfo last;
    blocks->RegistCallbackFunc([&](BlockCallbackInfo &info) {
        if (info.bFinished || info.bPaused || info.bError) {
            ++finals;
            last = info;
        } else {
            running = info.blocksDone > 0;
        }
    });
    blocks->StartBlocks(j);
    QVERIFY(QTest::qWaitFor([&] { return running; }, 60000));
    blocks->StopBlocks();
    // Settled when it returns: the report is on its way, nothing is in flight.
    QCOMPARE(finals, 0);
    QVERIFY(QTest::qWaitFor([&] { return finals > 0; }, 10000));
    QTest::qWait(100);
    QCOMPARE(finals, 1);
    QVERIFY(last.bPaused);
    QVERIFY(!blocks->IsRunning());
}

// Before anything is written the run compares what it adds with the free
// space of the folder's volume: a 1 MiB disk for a 2 MiB game.
void tst_BlockFetch::notEnoughSpace()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a private mount namespace and a tmpfs");
#else
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        QSKIP("no unshare(1) on this machine");
    QTemporaryDir folder;
    const BlockJob j = job(m_sample, folder.path() + "/game", "1.0.0.3");
    QVERIFY(QDir().mkpath(j.folder));
    BlockCost cost;
    QString error;
    QVERIFY2(GetBlockComponent()->PlanBlocks(j, cost, error), qPrintable(error));
    QCOMPARE(cost.diskBytes, cost.targetBytes);
    QStringList args{ QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private") };
    // An ordinary user may mount inside a user namespace of its own, where it is root.
    if (::geteuid() != 0)
        args << QStringLiteral("--map-root-user");
    args << TestSupport::programPath(QStringLiteral("blockrun_child")) << j.folder << j.channelUrl
         << m_sample + "/game/" + BlockIndex::indexPath("1.0.0.3") << "--small-disk"
         << "1m";
    QProcess child;
    child.start(unshare, args);
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(QTest::qWaitFor([&child] { return child.state() == QProcess::NotRunning; }, 60000));
    const QByteArray out = child.readAllStandardOutput();
    const QByteArray err = child.readAllStandardError();
    if (child.exitCode() == 77)
        QSKIP(qPrintable("the machine forbids a tmpfs mount: " + QString::fromUtf8(out.trimmed())));
    if (out.isEmpty() && err.startsWith("unshare:"))
        QSKIP(qPrintable("the machine forbids a private mount namespace: " + QString::fromUtf8(err.trimmed())));
    QVERIFY2(out.contains("error 5 needs 3.1 MiB, has 1.0 MiB free on "), out.constData());
    QVERIFY2(out.contains("MiB free on"), out.constData());
    QVERIFY2(out.contains("left 0\n"), out.constData());
    QCOMPARE(m_server.requestCount(), 0);
#endif
}

void tst_BlockFetch::planComparesWithPatchChain()
{
    QTemporaryDir folder;
    QVERIFY(copyTree(versionDir("sample", "1.0.0.2"), folder.path()));
    BlockJob j = job(m_sample, folder.path(), "1.0.0.3", "1.0.0.2");
    BlockCost cost;
    QString error;
    QVERIFY2(GetBlockComponent()->PlanBlocks(j, cost, error), qPrintable(error));
    QVERIFY(cost.fetchBytes > 0);
    QVERIFY(cost.preferBlocks); // no chain given
    j.patchChainBytes = cost.fetchBytes - 1;
    QVERIFY(GetBlockComponent()->PlanBlocks(j, cost, error));
    QVERIFY(!cost.preferBlocks);
    QCOMPARE(cost.patchChainBytes, j.patchChainBytes);
    j.patchChainBytes = cost.fetchBytes;
    QVERIFY(GetBlockComponent()->PlanBlocks(j, cost, error));
    QVERIFY(cost.preferBlocks);
    // Planning writes nothing.
    QVERIFY(!QFileInfo::exists(folder.path() + "/.morvaniel-blocks"));
}

QTEST_GUILESS_MAIN(tst_BlockFetch)
#include "tst_blockfetch.moc"
