// The update flow by blocks, where the server keeps a block store: a fresh
// install, an update that takes the cheaper of blocks and patch chain, a
// stopped run that goes on, a repair that fetches only damaged blocks, and a
// signed release whose block files were tampered with. A server without a
// block store is served by the archives as before.

#include "../support/TestSupport.h"

#include "FileServer.h"
#include "FlowReporter.h"
#include "HttpServer.h"
#include "InstallState.h"
#include "Publisher.h"
#include "ResponsePlan.h"
#include "SampleGame.h"
#include "SignedSample.h"
#include "UpdateFlow.h"

#include "blocks/BlockIndex.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(HostFlow::Failure)

using namespace HostFlow;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

constexpr int Slow = 120000;

int runToEnd(UpdateFlow &flow, bool (UpdateFlow::*run)())
{
    QSignalSpy finished(&flow, &UpdateFlow::finished);
    if (!(flow.*run)() || !finished.wait(Slow))
        return -1;
    return finished.first().first().toInt();
}

int repairToEnd(UpdateFlow &flow)
{
    QSignalSpy finished(&flow, &UpdateFlow::finished);
    if (!flow.verify(true) || !finished.wait(Slow))
        return -1;
    return finished.first().first().toInt();
}

// Requests for a closed range of a full pack archive: its pieces.
int piecesAsked(const QList<Http::FileServer::Request> &requests)
{
    static const QRegularExpression closed(QStringLiteral("^bytes=\\d+-\\d+$"));
    int n = 0;
    for (const Http::FileServer::Request &r : requests)
        n += r.path.contains(QStringLiteral("/full_"))
            && closed.match(QString::fromLatin1(r.headers.value("range"))).hasMatch();
    return n;
}

// Files below a folder, none when it is missing.
int fileCount(const QString &folder)
{
    int n = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    for (; it.hasNext(); it.next())
        ++n;
    return n;
}

// Serves like the tests' server, but holds the body of a path until release
// says it may go: to the client a slow server, not a failing one.
class HeldPlan : public Http::ResponsePlan
{
public:
    HeldPlan(std::function<bool(const QString &)> release, const QString &path)
        : m_release(std::move(release))
        , m_path(path)
    {
    }
    Pace pace(qint64, qint64) const override
    {
        if (m_release(m_path))
            return Pace();
        Pace wait;
        wait.budget = 0;
        wait.then = Then::Wait;
        wait.waitMs = 20;
        return wait;
    }

private:
    std::function<bool(const QString &)> m_release;
    QString m_path;
};

class HoldingServer : public HttpTest::HttpServer
{
public:
    std::function<bool(const QString &path)> release;

protected:
    std::unique_ptr<Http::ResponsePlan> planResponse(Request &request) override
    {
        if (!release || request.method != "GET" || release(request.path))
            return HttpServer::planResponse(request);
        return std::make_unique<HeldPlan>(release, request.path);
    }
};

} // namespace

class tst_HostBlocks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void update_data();
    void update();
    void stopAndResume_data();
    void stopAndResume();
    void repairFetchesOnlyDamagedBlocks();
    void archivesExtractedBesideTheDownload_data();
    void archivesExtractedBesideTheDownload();
    void archivesExtractedOneByOne_data();
    void archivesExtractedOneByOne();
    void damagedArchiveFailsTheRun_data();
    void damagedArchiveFailsTheRun();
    void tamperedBlockStoreRefused_data();
    void tamperedBlockStoreRefused();

private:
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString game(const QString &install) const { return InstallState::gameFolder(path(install)); }
    QString version(int i) const { return path(QStringLiteral("versions/")) + Publisher::sampleVersionName(i); }
    FlowOptions options(const QString &install, const Http::FileServer &server, bool pieces = false) const
    {
        FlowOptions o;
        o.server = server.url(QString());
        o.installDir = path(install);
        // The sample's archives are small: pieces of 16 KiB cut each into several.
        o.split = pieces ? Morvaniel::DownloadSplit{ 4, 16 * 1024 } : Morvaniel::DownloadSplit{};
        return o;
    }
    // The newest version's full pack archives under a publication's root, in order.
    QString archivePath(const QString &root, const QString &name) const
    {
        return root + QStringLiteral("/game/") + Publisher::sampleVersionName(m_newest) + QLatin1Char('/') + name;
    }
    QStringList packArchives(const QString &root) const
    {
        return QDir(QFileInfo(archivePath(root, QString())).path())
            .entryList({ QStringLiteral("full_*.7z") }, QDir::Files, QDir::Name);
    }
    // The archives there, or pieces of them.
    QStringList archivesInCache(const QString &install) const
    {
        QStringList archives;
        const QStringList names = QDir(path(install + QStringLiteral("/MorvanielCache")))
                                      .entryList({ QStringLiteral("full_*") }, QDir::Files, QDir::Name);
        for (const QString &name : names) {
            const QString archive = name.left(name.indexOf(QStringLiteral(".7z")) + 3);
            if (!archives.contains(archive))
                archives << archive;
        }
        return archives;
    }
    // The paths in which the game of install differs from the newest version, for a failure to name.
    QString differencesFromNewest(const QString &install) const
    {
        return TestSupport::treeDifferences(version(m_newest), game(install)).join(QStringLiteral(", "));
    }
    QString stateValue(const QString &install, const QString &key) const
    {
        return QSettings(InstallState::statePath(path(install)), QSettings::IniFormat).value(key).toString();
    }
    // The game folder of install holds version i, as installed and checked.
    bool installed(const QString &install, int i)
    {
        return TestSupport::copyTree(version(i), game(install))
            && InstallState::writeVersion(path(install), Publisher::sampleVersionName(i));
    }

    QTemporaryDir m_work;
    Http::FileServer m_blocks; // a block store beside the archives, signed
    Http::FileServer m_archives; // the same without its block store
    Http::FileServer m_noChain; // a block store, full packs and no patch at all
    QStringList m_trusted;
    int m_newest = 0;
};

void tst_HostBlocks::initTestCase()
{
    QVERIFY(m_work.isValid());
    QString error;
    QCOMPARE(Publisher::generateSampleGame(path(QStringLiteral("versions")), 3, error).size(), 3);
    m_newest = 2;
    QString secret;
    QVERIFY2(SignedSample::makeKey(m_work.path(), secret, m_trusted, error), qPrintable(error));
    Publisher::PublishOptions options = SignedSample::options(m_work.path(), QStringLiteral("www"), secret);
    Publisher::PublishReport report;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    QVERIFY(QFileInfo::exists(path(QStringLiteral("www/game/")) + Morvaniel::BlockIndex::indexPath("1.0.0.3")));
    // The same versions with --no-blocks, the full pack cut into archives of 1 MiB.
    options.outputDir = path(QStringLiteral("www-archives"));
    options.blocks = false;
    options.splitSize = 1 << 20;
    options.signing = {};
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    // No patch: every install is too old for a chain.
    options.outputDir = path(QStringLiteral("www-nochain"));
    options.blocks = true;
    options.splitSize = Publisher::PublishOptions().splitSize;
    options.defaultPairs = false;
    QVERIFY2(Publisher::publish(options, report), qPrintable(report.error));
    m_blocks.setRoot(path(QStringLiteral("www")));
    m_archives.setRoot(path(QStringLiteral("www-archives")));
    m_noChain.setRoot(path(QStringLiteral("www-nochain")));
    QVERIFY(m_blocks.listen(0));
    QVERIFY(m_archives.listen(0));
    QVERIFY(m_noChain.listen(0));
}

void tst_HostBlocks::update_data()
{
    QTest::addColumn<int>("from"); // -1: nothing installed
    QTest::addColumn<bool>("blockStore");
    QTest::addColumn<bool>("trust");
    QTest::addColumn<bool>("patches"); // false: the server has no patch chain at all
    QTest::newRow("fresh install by blocks") << -1 << true << false << true;
    QTest::newRow("fresh install by blocks, signed") << -1 << true << true << true;
    QTest::newRow("one version back: the cheaper") << 1 << true << false << true;
    QTest::newRow("two versions back: the cheaper, signed") << 0 << true << true << true;
    QTest::newRow("too old for any patch chain: blocks, not the full pack") << 0 << true << false << false;
    QTest::newRow("fresh install, no block store") << -1 << false << false << true;
    QTest::newRow("one version back, no block store") << 1 << false << false << true;
}

void tst_HostBlocks::update()
{
    QFETCH(int, from);
    QFETCH(bool, blockStore);
    QFETCH(bool, trust);
    QFETCH(bool, patches);
    const QString install = QStringLiteral("update-")
        + QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression(QStringLiteral("[^a-z]+")), "-");
    if (from >= 0)
        QVERIFY(installed(install, from));
    UpdateFlow flow;
    FlowOptions o = options(install, !patches ? m_noChain : blockStore ? m_blocks : m_archives);
    if (trust)
        o.trustedKeys = m_trusted;
    flow.setOptions(o);
    QSignalSpy chosen(flow.reporter(), &FlowReporter::deliveryChosen);
    QCOMPARE(runToEnd(flow, &UpdateFlow::update), int(UpdateFlow::Ok));
    QCOMPARE(differencesFromNewest(install), QString());
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), Publisher::sampleVersionName(m_newest));
    QVERIFY(!QFileInfo::exists(path(install + QStringLiteral("/MorvanielBlocks"))));
    const UpdateReport &report = flow.report();
    if (!blockStore) {
        // Today's archive path, unchanged.
        QCOMPARE(chosen.size(), 0);
        QVERIFY(!report.blocks);
        QVERIFY(!report.archives.isEmpty());
        return;
    }
    QCOMPARE(chosen.size(), 1);
    const QString how = chosen.first().at(0).toString();
    const qint64 blockBytes = chosen.first().at(1).toLongLong();
    const QString other = chosen.first().at(2).toString();
    const qint64 otherBytes = chosen.first().at(3).toLongLong();
    QVERIFY(blockBytes > 0 && otherBytes > 0);
    QCOMPARE(other, from < 0 || !patches ? QStringLiteral("full pack") : QStringLiteral("patch chain"));
    // A fresh install always goes by blocks, and so does an install that no
    // chain leads from (its own blocks are reused); an update by the cheaper.
    const bool byBlocks = from < 0 || !patches || blockBytes <= otherBytes;
    if (!patches)
        QVERIFY(blockBytes <= otherBytes); // what the install keeps is not fetched again
    QCOMPARE(how, byBlocks ? QStringLiteral("blocks") : QStringLiteral("archives"));
    QCOMPARE(report.blocks, byBlocks);
    QCOMPARE(report.blockBytes, blockBytes);
    QCOMPARE(report.archiveBytes, otherBytes);
    if (byBlocks) {
        QVERIFY(report.archives.isEmpty());
        // What came over the wire is about the plan's figure (plus the answers' framing).
        QVERIFY2(report.bytes >= blockBytes && report.bytes < blockBytes + blockBytes / 4 + 65536,
            qPrintable(QStringLiteral("%1 vs %2").arg(report.bytes).arg(blockBytes)));
    }
    QCOMPARE(flow.releasesAccepted(), trust ? 1 : 0);
}

void tst_HostBlocks::stopAndResume_data()
{
    QTest::addColumn<bool>("destroy");
    // stop(): the run finishes Paused.
    QTest::newRow("stopped") << false;
    // The job goes away mid-run (a window closed at once): no report, the
    // worker ends what it has in flight.
    QTest::newRow("destroyed") << true;
}

// A stopped block run leaves no installed version; the next run goes on from
// its journal and fetches only what was missing.
void tst_HostBlocks::stopAndResume()
{
    QFETCH(bool, destroy);
    const QString install = destroy ? QStringLiteral("destroyed") : QStringLiteral("stopped");
    // Bundles at 256 KiB/s: the run is caught in the middle.
    HttpTest::HttpServer slow;
    slow.setRoot(path(QStringLiteral("www")));
    HttpTest::HttpFaultRule paced;
    paced.bytesPerSecond = 256 * 1024;
    QDirIterator bundles(path(QStringLiteral("www/game/blocks")), { QStringLiteral("*.bundle") }, QDir::Files);
    while (bundles.hasNext())
        slow.setRule(QStringLiteral("/game/blocks/") + QFileInfo(bundles.next()).fileName(), paced);
    QVERIFY(slow.listen(0));
    auto flow = std::make_unique<UpdateFlow>();
    flow->setOptions(options(install, slow));
    QSignalSpy finished(flow.get(), &UpdateFlow::finished);
    qint64 done = 0;
    connect(flow->reporter(), &FlowReporter::downloadProgress, this,
        [&done](const TransferProgress &p) { done = qMax(done, p.done); });
    QVERIFY(flow->update());
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || done > 256 * 1024, Slow);
    QVERIFY(finished.isEmpty());
    const qint64 firstRun = flow->bytesDownloaded();
    if (destroy) {
        flow.reset();
    } else {
        flow->stop();
        QVERIFY(finished.wait(Slow));
        QCOMPARE(finished.first().first().toInt(), int(UpdateFlow::Paused));
    }
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), QString());
    QCOMPARE(stateValue(install, QStringLiteral("BlockRunTarget")), Publisher::sampleVersionName(m_newest));

    UpdateFlow next;
    next.setOptions(options(install, m_blocks));
    QSignalSpy stages(next.reporter(), &FlowReporter::stageStarted);
    QSignalSpy chosen(next.reporter(), &FlowReporter::deliveryChosen);
    QCOMPARE(runToEnd(next, &UpdateFlow::update), int(UpdateFlow::Ok));
    QCOMPARE(differencesFromNewest(install), QString());
    QCOMPARE(stateValue(install, QStringLiteral("BlockRunTarget")), QString());
    bool resumed = false;
    for (const QList<QVariant> &s : qAsConst(stages))
        resumed = resumed || (s.at(0).value<Stage>() == Stage::Blocks && s.at(1).toString().contains("(resuming)"));
    QVERIFY(resumed);
    // Both runs together fetched about the whole plan once.
    QCOMPARE(chosen.size(), 1);
    const qint64 planned = chosen.first().at(1).toLongLong();
    QVERIFY2(next.bytesDownloaded() < planned && firstRun + next.bytesDownloaded() < planned + planned / 4 + 65536,
        qPrintable(QStringLiteral("%1 + %2 vs %3").arg(firstRun).arg(next.bytesDownloaded()).arg(planned)));
}

// One damaged byte in the middle of a pak: only its block comes again.
void tst_HostBlocks::repairFetchesOnlyDamagedBlocks()
{
    const QString install = QStringLiteral("repair");
    QVERIFY(installed(install, m_newest));
    const QString pak = game(install) + QLatin1Char('/') + Publisher::samplePakFolder()
        + QStringLiteral("/pakchunk0-WindowsNoEditor.pak");
    QFile f(pak);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    QVERIFY(size > 1024 * 1024);
    QVERIFY(f.seek(size / 2));
    char c = 0;
    QVERIFY(f.getChar(&c));
    QVERIFY(f.seek(size / 2));
    QVERIFY(f.putChar(char(c ^ 0x5a)));
    f.close();

    UpdateFlow flow;
    flow.setOptions(options(install, m_blocks));
    QCOMPARE(repairToEnd(flow), int(UpdateFlow::Ok));
    QCOMPARE(flow.badFiles().size(), 1);
    QCOMPARE(differencesFromNewest(install), QString());
    QVERIFY(flow.report().blocks);
    QVERIFY(flow.report().archives.isEmpty());
    // Blocks are at most 1 MiB: far less than the file, let alone its archive.
    QVERIFY2(flow.bytesDownloaded() > 0 && flow.bytesDownloaded() < size / 2,
        qPrintable(QString::number(flow.bytesDownloaded())));
}

// Without a block store, the archives of the full pack are extracted while the
// next one downloads. The server holds the body of each archive until the one
// before it is extracted and recorded: a run that extracted only after the
// whole download would wait for it forever (and fail on the stall watchdog).
void tst_HostBlocks::archivesExtractedBesideTheDownload_data()
{
    QTest::addColumn<bool>("pieces");
    QTest::newRow("one connection per archive") << false;
    QTest::newRow("each archive in pieces") << true;
}

void tst_HostBlocks::archivesExtractedBesideTheDownload()
{
    QFETCH(bool, pieces);
    const QString install = pieces ? QStringLiteral("beside-pieces") : QStringLiteral("beside");
    const QString newest = Publisher::sampleVersionName(m_newest);
    const QStringList archives = packArchives(path(QStringLiteral("www-archives")));
    QVERIFY2(archives.size() >= 3, qPrintable(archives.join(' ')));
    int heldAtMost = 0; // full pack archives in the cache at once, as sampled
    auto sampleCache = [&]() { heldAtMost = qMax(heldAtMost, archivesInCache(install).size()); };
    HoldingServer server;
    server.setRoot(path(QStringLiteral("www-archives")));
    server.release = [&](const QString &served) {
        sampleCache();
        const int k = archives.indexOf(QFileInfo(served).fileName());
        return k < 1 || InstallState::extractedArchives(path(install), newest).size() >= k;
    };
    QVERIFY(server.listen(0));

    UpdateFlow flow;
    flow.setOptions(options(install, server, pieces));
    // Each stage start: its kind, whether the views follow it, and how many
    // archives were extracted by then.
    struct Start
    {
        Stage stage;
        QString detail;
        bool background;
        int extracted;
    };
    QVector<Start> starts;
    connect(
        flow.reporter(), &FlowReporter::stageStarted, this, [&](Stage stage, const QString &detail, bool background) {
            sampleCache();
            starts.append({ stage, detail, background, InstallState::extractedArchives(path(install), newest).size() });
        });
    qint64 done = 0;
    qint64 whole = -1;
    bool backwards = false;
    connect(flow.reporter(), &FlowReporter::downloadProgress, this, [&](const TransferProgress &p) {
        backwards = backwards || p.done < done || (whole >= 0 && p.total != whole);
        done = p.done;
        whole = p.total;
    });
    QCOMPARE(runToEnd(flow, &UpdateFlow::update), int(UpdateFlow::Ok));
    QCOMPARE(differencesFromNewest(install), QString());
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), newest);
    QCOMPARE(flow.report().archives, archives);
    QCOMPARE(archivesInCache(install), QStringList());
    QVERIFY2(heldAtMost >= 1 && heldAtMost <= 2, qPrintable(QString::number(heldAtMost)));

    // Archive k's download starts while archive k-1 still extracts, in the
    // background; only the last extraction is the stage the views show.
    int downloads = 0;
    int extractions = 0;
    for (const Start &s : qAsConst(starts)) {
        if (s.stage == Stage::Download) {
            QVERIFY2(s.detail.endsWith(archives.at(downloads)), qPrintable(s.detail));
            QVERIFY(!s.background);
            QCOMPARE(s.extracted, qMax(0, downloads - 1));
            ++downloads;
        } else if (s.stage == Stage::Extract) {
            ++extractions;
            QCOMPARE(s.background, extractions < archives.size());
            QCOMPARE(s.extracted, extractions - 1);
        }
    }
    QCOMPARE(downloads, archives.size());
    QCOMPARE(extractions, archives.size());
    // One figure for the whole pack, never going back.
    QVERIFY(!backwards);
    qint64 packBytes = 0;
    for (const QString &name : archives)
        packBytes += QFileInfo(archivePath(path(QStringLiteral("www-archives")), name)).size();
    QCOMPARE(whole, packBytes);
    QCOMPARE(done, packBytes);
    QCOMPARE(piecesAsked(server.requests()) > archives.size(), pieces);
}

// A run stopped in the middle (an archive extracting, the next downloading)
// leaves the extracted ones recorded and deleted; the next run neither fetches
// nor extracts them again.
void tst_HostBlocks::archivesExtractedOneByOne_data()
{
    QTest::addColumn<bool>("pieces");
    QTest::newRow("one connection per archive") << false;
    QTest::newRow("each archive in pieces") << true;
}

void tst_HostBlocks::archivesExtractedOneByOne()
{
    QFETCH(bool, pieces);
    const QString install = pieces ? QStringLiteral("one-by-one-pieces") : QStringLiteral("one-by-one");
    const QString newest = Publisher::sampleVersionName(m_newest);
    const QStringList archives = packArchives(path(QStringLiteral("www-archives")));
    UpdateFlow flow;
    flow.setOptions(options(install, m_archives, pieces));
    int extractions = 0;
    connect(flow.reporter(), &FlowReporter::stageStarted, this, [&](Stage stage, const QString &) {
        if (stage == Stage::Extract && ++extractions == 2)
            QTimer::singleShot(0, &flow, [&flow]() { flow.stop(); });
    });
    QCOMPARE(runToEnd(flow, &UpdateFlow::update), int(UpdateFlow::Paused));
    QVERIFY2(archives.size() >= 3, qPrintable(archives.join(' ')));
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), QString());
    const QStringList recorded = InstallState::extractedArchives(path(install), newest);
    QVERIFY2(recorded.size() >= 1 && recorded.size() < archives.size(), qPrintable(recorded.join(' ')));
    for (int k = 0; k < recorded.size(); ++k) {
        QVERIFY2(recorded.at(k).startsWith(archives.at(k) + QLatin1Char('|')), qPrintable(recorded.at(k)));
        QVERIFY(!archivesInCache(install).contains(archives.at(k)));
    }
    QVERIFY(archivesInCache(install).size() <= 2);

    UpdateFlow next;
    next.setOptions(options(install, m_archives, pieces));
    int again = 0;
    connect(next.reporter(), &FlowReporter::stageStarted, this,
        [&again](Stage stage, const QString &) { again += stage == Stage::Extract; });
    const int before = m_archives.requests().size();
    QCOMPARE(runToEnd(next, &UpdateFlow::update), int(UpdateFlow::Ok));
    QCOMPARE(differencesFromNewest(install), QString());
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), newest);
    QCOMPARE(again, archives.size() - recorded.size());
    const QList<Http::FileServer::Request> requests = m_archives.requests().mid(before);
    for (const Http::FileServer::Request &r : requests) {
        for (int k = 0; k < recorded.size(); ++k)
            QVERIFY2(!r.path.endsWith(archives.at(k)), qPrintable(r.path));
    }
    // The archive that was extracting had come whole: at most the rest comes now.
    qint64 rest = 0;
    for (int k = recorded.size() + 1; k < archives.size(); ++k)
        rest += QFileInfo(archivePath(path(QStringLiteral("www-archives")), archives.at(k))).size();
    QVERIFY2(
        next.bytesDownloaded() <= rest, qPrintable(QStringLiteral("%1 > %2").arg(next.bytesDownloaded()).arg(rest)));
    QCOMPARE(piecesAsked(m_archives.requests().mid(before)) > 0, pieces);
    QCOMPARE(archivesInCache(install), QStringList());
}

void tst_HostBlocks::damagedArchiveFailsTheRun_data()
{
    QTest::addColumn<bool>("listed"); // its MD5 in the manifests is the damaged bytes'
    QTest::addColumn<QString>("message"); // how the run's error begins
    // Downloaded twice, deleted twice.
    QTest::newRow("fails its MD5 check") << false << QStringLiteral("the archives failed their MD5 check twice");
    // Passes its check, 7z refuses it half-way.
    QTest::newRow("passes its MD5 check, damaged inside") << true << QStringLiteral("extraction failed (code ");
}

// The second archive of the pack is damaged: the run fails with the error it
// always had once the first archive's extraction beside it finished, nothing
// is called installed, and a run against a good server goes on from the first.
void tst_HostBlocks::damagedArchiveFailsTheRun()
{
    QFETCH(bool, listed);
    QFETCH(QString, message);
    const QString tag = listed ? QStringLiteral("listed") : QStringLiteral("unlisted");
    const QString install = QStringLiteral("damaged-") + tag;
    const QString newest = Publisher::sampleVersionName(m_newest);
    const QString root = path(QStringLiteral("www-damaged-") + tag);
    QVERIFY(TestSupport::copyTree(path(QStringLiteral("www-archives")), root));
    const QStringList archives = packArchives(root);
    QVERIFY2(archives.size() >= 3, qPrintable(archives.join(' ')));
    const QString victim = archivePath(root, archives.at(1));
    QByteArray bytes = readFile(victim);
    QVERIFY(bytes.size() > 4096);
    const QString goodMd5 = TestSupport::md5Of(bytes);
    for (int i = 64; i < bytes.size() / 2; i += 512)
        bytes[i] = char(bytes[i] ^ 0x5a); // the packed data, not the archive's header
    QVERIFY(writeFile(victim, bytes));
    if (listed) {
        const QString damagedMd5 = TestSupport::md5Of(bytes);
        int changed = 0;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (file.endsWith(QLatin1String(".7z")))
                continue;
            const QByteArray text = readFile(file);
            QByteArray edited = text;
            edited.replace(goodMd5.toLatin1(), damagedMd5.toLatin1());
            edited.replace(goodMd5.toUpper().toLatin1(), damagedMd5.toUpper().toLatin1());
            if (edited != text) {
                ++changed;
                QVERIFY(writeFile(file, edited));
            }
        }
        QVERIFY(changed > 0);
    }
    Http::FileServer server;
    server.setRoot(root);
    QVERIFY(server.listen(0));

    UpdateFlow flow;
    flow.setOptions(options(install, server));
    QSignalSpy errors(flow.reporter(), &FlowReporter::errorRaised);
    QCOMPARE(runToEnd(flow, &UpdateFlow::update), int(UpdateFlow::Failed));
    QCOMPARE(errors.size(), 1);
    const FlowError error = errors.first().first().value<FlowError>();
    QVERIFY2(error.kind == Failure::Damaged && error.message.startsWith(message), qPrintable(error.message));
    // The first archive's extraction beside it finished and was recorded; the
    // damaged one is not, and the game is not called installed.
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), QString());
    const QStringList recorded = InstallState::extractedArchives(path(install), newest);
    QCOMPARE(recorded.size(), 1);
    QVERIFY2(recorded.first().startsWith(archives.first() + QLatin1Char('|')), qPrintable(recorded.first()));
    QVERIFY(!archivesInCache(install).contains(archives.first()));

    UpdateFlow next;
    next.setOptions(options(install, m_archives));
    const int before = m_archives.requests().size();
    QCOMPARE(runToEnd(next, &UpdateFlow::update), int(UpdateFlow::Ok));
    QCOMPARE(differencesFromNewest(install), QString());
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), newest);
    const QList<Http::FileServer::Request> requests = m_archives.requests().mid(before);
    for (const Http::FileServer::Request &r : requests)
        QVERIFY2(!r.path.endsWith(archives.first()), qPrintable(r.path));
}

void tst_HostBlocks::tamperedBlockStoreRefused_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<Failure>("kind");
    // Refused before a bundle is asked for; otherwise the bad blocks are
    // never written (others may be).
    QTest::addColumn<bool>("refusedFirst");
    // The accepted release lists other bytes.
    QTest::newRow("index, one byte changed") << QStringLiteral("index") << Failure::Refused << true;
    // The same size: its blocks fail their digests (twice).
    QTest::newRow("bundle, one byte changed") << QStringLiteral("bundle") << Failure::Refused << false;
}

void tst_HostBlocks::tamperedBlockStoreRefused()
{
    QFETCH(QString, what);
    QFETCH(Failure, kind);
    QFETCH(bool, refusedFirst);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-').remove(',');
    const QString root = path(QStringLiteral("www-") + tag);
    QVERIFY(TestSupport::copyTree(path(QStringLiteral("www")), root));
    QStringList victims;
    if (what == QLatin1String("index")) {
        victims << root + QStringLiteral("/game/") + Morvaniel::BlockIndex::indexPath("1.0.0.3");
    } else {
        QDirIterator bundles(root + QStringLiteral("/game/blocks"), { QStringLiteral("*.bundle") }, QDir::Files);
        while (bundles.hasNext())
            victims << bundles.next();
    }
    for (const QString &victim : qAsConst(victims)) {
        QByteArray bytes = readFile(victim);
        QVERIFY(bytes.size() > 256);
        bytes[100] = char(bytes[100] ^ 0x01); // the index's header, or the first block of every bundle
        QVERIFY(writeFile(victim, bytes));
    }

    Http::FileServer server;
    server.setRoot(root);
    QVERIFY(server.listen(0));
    const QString install = QStringLiteral("tampered-") + tag;
    UpdateFlow flow;
    FlowOptions o = options(install, server);
    o.trustedKeys = m_trusted;
    flow.setOptions(o);
    QSignalSpy errors(flow.reporter(), &FlowReporter::errorRaised);
    QCOMPARE(runToEnd(flow, &UpdateFlow::update), int(UpdateFlow::Failed));
    QCOMPARE(errors.size(), 1);
    const FlowError error = errors.first().first().value<FlowError>();
    QVERIFY2(error.kind == kind, qPrintable(error.message));
    // Not called installed.
    QCOMPARE(stateValue(install, QStringLiteral("CurrentGameVersion")), QString());
    if (refusedFirst) {
        QCOMPARE(fileCount(game(install)), 0);
        for (const Http::FileServer::Request &r : server.requests())
            QVERIFY2(!r.path.endsWith(QLatin1String(".bundle")), qPrintable(r.path));
    } else {
        // Whatever was written matches the version: no tampered byte in a game file.
        const QMap<QString, QByteArray> want = treeContent(version(m_newest));
        const QMap<QString, QByteArray> have = treeContent(game(install));
        for (auto it = have.cbegin(); it != have.cend(); ++it) {
            const QByteArray &w = want.value(it.key());
            const QByteArray &h = it.value();
            // Bytes not written yet read as zeros.
            int wrong = 0;
            for (int i = 0; i < h.size(); ++i)
                wrong += h[i] != 0 && (i >= w.size() || h[i] != w[i]);
            QVERIFY2(wrong == 0, qPrintable(it.key()));
        }
    }
}

QTEST_GUILESS_MAIN(tst_HostBlocks)
#include "tst_hostblocks.moc"
