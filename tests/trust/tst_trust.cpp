// Signed releases: a host that trusts a key installs nothing an attacker who
// controls the server (or the network path) made up, replayed or combined.
// Driven through the host interface: accept the signed document, check each
// manifest text, plan, download, verify the archives. Extraction and the patch
// stage are not run here; they only ever see archives that passed this chain.

#include "Publisher.h"
#include "ReleaseSigner.h"
#include "SampleGame.h"

#include "../support/DataRows.h"
#include "../support/TestSupport.h"
#include "HttpServer.h"

#include "core/ContextCodes.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "download/DownloaderManager.h"
#include "planning/ReleaseDocument.h"
#include "planning/ReleaseTrust.h"
#include "planning/SolveGuideManifest.h"
#include "settings/Serializer.h"
#include "settings/SettingKeys.h"
#include "util/ReleaseKeys.h"
#include "verify/Verifyer.h"

#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace Morvaniel;
using TestSupport::copyTree;
using TestSupport::md5Of;
using TestSupport::readFile;
using TestSupport::row;
using TestSupport::writeFile;

namespace {

const QString Channel = QStringLiteral("game");
const QString Newest = QStringLiteral("1.0.0.3");

QString serialKey()
{
    return KEY_ACCEPTED_RELEASE_SERIAL + QStringLiteral("/") + Channel;
}

QString keyKey()
{
    return KEY_RELEASE_KEY + QStringLiteral("/") + Channel;
}

// The document of dir's game channel with changes, signed again by secretFile.
void resign(const QString &dir, const QString &secretFile, const std::function<void(ReleaseDocument &)> &change)
{
    ReleaseDocument doc;
    QString error;
    QVERIFY(ReleaseDocument::parse(readFile(dir + "/game/release.json"), doc, error));
    change(doc);
    QByteArray secret;
    QVERIFY2(ReleaseKeys::ReadSecretKeyFile(secretFile, secret, error), qPrintable(error));
    const QByteArray json = doc.toJson();
    QVERIFY(writeFile(dir + "/game/release.json", json));
    QVERIFY(writeFile(dir + "/game/release.json.sig", ReleaseKeys::Sign(json, secret)));
}

// A guide manifest line's package path of the newest full pack.
QString newestFullPack(const QString &www)
{
    QDirIterator it(www + "/game/" + Newest, { QStringLiteral("full_*.7z") }, QDir::Files);
    return it.hasNext() ? QDir(www).relativeFilePath(it.next()) : QString();
}

} // namespace

class tst_Trust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void publishedChannelIsListed();
    void attacks_data();
    void attacks();
    void keyRotation();
    void sameSerialMeansSameBytes();
    void duplicateKeysAreRefused();
    void textsAreCheckedAsFetched();
    void archiveCheckedByItsSignedDigest_data();
    void archiveCheckedByItsSignedDigest();
    void happyPath();

private:
    bool publishSample(const QString &input, const QString &out, qint64 serial, const QString &nextKey = QString());
    QByteArray fetch(const QString &path);
    // A manifest as a host fetches it: through the library's content request.
    QString fetchText(const QString &url, QString &error);
    // The host's run up to the archive check; the first refusal's text, or empty.
    QString hostRun(GameUpdateContext &ctx, const std::function<void(GameUpdateContext &)> &beforeVerify = {},
        const std::function<void(GameUpdateContext &)> &beforeDownload = {});
    QString download(GameUpdateContext &ctx);
    QString verifyArchives(GameUpdateContext &ctx);

    QTemporaryDir m_dir;
    QString m_oldKey, m_newKey, m_strangerKey; // secret key files; publics at <file>.pub
    QString m_older, m_newer; // two signed publications: serial 100 and 200
    HttpTest::HttpServer m_server;
    QNetworkAccessManager m_network;
    Serializer m_settings;
};

bool tst_Trust::publishSample(const QString &input, const QString &out, qint64 serial, const QString &nextKey)
{
    Publisher::PublishOptions options;
    options.inputDir = input;
    options.outputDir = out;
    options.diffTool = QStringLiteral(MORVANIEL_HDIFFZ);
    options.compressionLevel = 1;
    options.signing.secretKeyFile = m_oldKey;
    options.signing.serial = serial;
    options.signing.nextKeyFile = nextKey;
    Publisher::PublishReport report;
    const bool ok = Publisher::publish(options, report);
    if (!ok)
        qWarning() << report.error;
    return ok;
}

void tst_Trust::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("7z")).isEmpty())
        QSKIP("7-Zip (7z) is not installed");
    QString error;
    m_oldKey = m_dir.filePath("old.key");
    m_newKey = m_dir.filePath("new.key");
    m_strangerKey = m_dir.filePath("stranger.key");
    for (const QString &key : { m_oldKey, m_newKey, m_strangerKey })
        QVERIFY2(ReleaseKeys::GenerateKeyFiles(key, key + ".pub", error), qPrintable(error));
#ifdef Q_OS_UNIX
    QCOMPARE(QFileInfo(m_oldKey).permissions() & 0x0077, QFileDevice::Permissions());
#endif
    QVERIFY(ReleaseKeys::GenerateKeyFiles(m_oldKey, m_oldKey + ".2", error) == false);

    // The older publication's newest version differs from the newer one's.
    const QString games = m_dir.filePath("games");
    QCOMPARE(Publisher::generateSampleGame(games, 3, error).size(), 3);
    const QString olderGames = m_dir.filePath("older-games");
    QVERIFY(copyTree(games, olderGames));
    QVERIFY(writeFile(olderGames + "/" + Newest + "/older.txt", "an older build\n"));
    m_older = m_dir.filePath("www-older");
    m_newer = m_dir.filePath("www-newer");
    QVERIFY(publishSample(olderGames, m_older, 100));
    QVERIFY(publishSample(games, m_newer, 200));
    QVERIFY(m_server.listen());
    Global::Var::Host = m_server.url(QString());
    Global::Var::HostAndChannel = Global::Var::Host + "/" + Channel;
}

void tst_Trust::init()
{
    ReleaseTrust::SetTrustedKeys(
        { QString::fromLatin1(readFile(m_oldKey + ".pub")).trimmed(), QStringLiteral("ed25519:malformed") });
    m_settings.SetValueByKey(serialKey(), QString());
    m_settings.SetValueByKey(keyKey(), QString());
    m_server.setRoot(m_newer);
}

void tst_Trust::cleanup()
{
    ReleaseTrust::SetTrustedKeys({});
}

QByteArray tst_Trust::fetch(const QString &path)
{
    QNetworkReply *reply = m_network.get(QNetworkRequest(QUrl(Global::Var::Host + "/" + path)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(20000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QString tst_Trust::fetchText(const QString &url, QString &error)
{
    QString text;
    int code = -1;
    DownloaderManager::GetInstance()->GetContentByUrl(
        url,
        [&](const QString &t, int c) {
            text = t;
            code = c;
        },
        QString(), false);
    if (!QTest::qWaitFor([&] { return code >= 0; }, 60000) || code != 0)
        error = QStringLiteral("could not fetch %1 (code %2)").arg(url).arg(code);
    return text;
}

QString tst_Trust::download(GameUpdateContext &ctx)
{
    QString error;
    bool over = false;
    DownloaderManager::GetInstance()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
        if (info.bError)
            error = info.errorString.isEmpty() ? QStringLiteral("download failed") : info.errorString;
        over = over || info.bError || info.bFinished;
    });
    DownloaderManager::GetInstance()->StartDownload(ctx);
    if (!QTest::qWaitFor([&] { return over; }, 60000))
        return QStringLiteral("download never ended");
    return error;
}

QString tst_Trust::verifyArchives(GameUpdateContext &ctx)
{
    ctx.verifySingle = true;
    ctx.verifyFileList.clear();
    ctx.verifyMd5List.clear();
    for (const DownloadFile &f : qAsConst(ctx.downloadList)) {
        ctx.verifyFileList << f.localPath;
        ctx.verifyMd5List << f.md5;
    }
    bool over = false;
    bool failed = false;
    QString reason;
    Verifyer::GetInstance()->RegistCallbackFunc([&](VerifyCallbackInfo &info) {
        if (info.bComplete) {
            over = true;
            failed = info.bError;
            reason = info.errorText;
        }
    });
    Verifyer::GetInstance()->StartVerify(ctx);
    if (!QTest::qWaitFor([&] { return over; }, 60000))
        return QStringLiteral("verification never ended");
    return failed ? QStringLiteral("archive verification failed: ") + reason : QString();
}

QString tst_Trust::hostRun(GameUpdateContext &ctx, const std::function<void(GameUpdateContext &)> &beforeVerify,
    const std::function<void(GameUpdateContext &)> &beforeDownload)
{
    ReleaseDocument doc;
    QString error;
    if (!ReleaseTrust::Accept(fetch(ReleaseTrust::DocumentPath(Channel)), fetch(ReleaseTrust::SignaturePath(Channel)),
            Channel, m_settings, doc, error))
        return error;
    const QString guidePath = Channel + "/" + Global::Var::GuideManifestName;
    const QString guide = fetchText(Global::Var::Host + "/" + guidePath, error);
    if (!error.isEmpty() || !ReleaseTrust::CheckText(guidePath, guide, error))
        return error;
    SolveGuideManifest(guide, ctx);
    const QString manifest = fetchText(ctx.newestInfo.fullPackManifestUrl, error);
    if (!error.isEmpty() || !ReleaseTrust::CheckText(ctx.newestInfo.fullPackManifestUrl, manifest, error))
        return error;
    if (ctx.downloadList.isEmpty())
        return QStringLiteral("nothing planned");
    if (beforeDownload)
        beforeDownload(ctx);
    error = download(ctx);
    if (!error.isEmpty())
        return error;
    if (beforeVerify)
        beforeVerify(ctx);
    return verifyArchives(ctx);
}

void tst_Trust::publishedChannelIsListed()
{
    // Every file of the channel is listed with its exact bytes, nothing else is.
    ReleaseDocument doc;
    QString error;
    QVERIFY2(ReleaseTrust::Accept(readFile(m_newer + "/game/release.json"),
                 readFile(m_newer + "/game/release.json.sig"), Channel, m_settings, doc, error),
        qPrintable(error));
    QCOMPARE(doc.serial, qint64(200));
    QCOMPARE(doc.newestVersion, Newest);
    int files = 0;
    QDirIterator it(m_newer + "/game", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(m_newer).relativeFilePath(it.next());
        if (path.startsWith("game/release.json"))
            continue;
        ++files;
        QVERIFY2(ReleaseTrust::CheckBytes(path, readFile(m_newer + "/" + path), error), qPrintable(error));
        QCOMPARE(doc.expectedSize(Global::Var::Host + "/" + path), QFileInfo(m_newer + "/" + path).size());
    }
    QCOMPARE(doc.files.size(), files);
    QVERIFY(!ReleaseTrust::CheckBytes("game/info.json", "{}", error));
    QVERIFY(!ReleaseTrust::CheckBytes("game/manifest.txt", readFile(m_older + "/game/manifest.txt"), error));
}

// Each row: what the attacker serves (a tampered copy of the newer
// publication), and what the refusal says.
void tst_Trust::attacks_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<QString>("refusal");
    row("archive replaced, guide MD5 updated", "archive", "game/manifest.txt");
    row("archive with a matching MD5", "collision", "not the archive of the signed release (BLAKE2b)");
    row("guide points at an older version", "guide-older", "game/manifest.txt");
    row("file manifest edited", "file-manifest", "game/1.0.0.3/manifest.txt");
    row("older document replayed", "replay", "older than the accepted 200");
    row("expired document", "expired", "expired at");
    row("unknown key", "stranger", "not signed by a trusted key");
    row("another channel's document", "channel", "for channel Launcher, not game");
    row("body longer than listed", "longer", "archive verification failed");
    row("two publications mixed", "mixed", "game/1.0.0.3/manifest.txt");
}

void tst_Trust::attacks()
{
    QFETCH(QString, attack);
    QFETCH(QString, refusal);
    QTemporaryDir served;
    QVERIFY(copyTree(m_newer, served.path()));
    const QString www = served.path();
    const QString pack = newestFullPack(www);
    QVERIFY(!pack.isEmpty());
    const qint64 packSize = QFileInfo(www + "/" + pack).size();
    std::function<void(GameUpdateContext &)> beforeVerify;
    std::function<void(GameUpdateContext &)> beforeDownload;

    if (attack == QLatin1String("archive")) {
        const QByteArray evil(int(packSize), 'x');
        QByteArray guide = readFile(www + "/game/manifest.txt");
        QVERIFY(writeFile(www + "/" + pack, evil));
        QVERIFY(writeFile(www + "/game/manifest.txt",
            guide.replace(md5Of(readFile(m_newer + "/" + pack)).toLatin1(), md5Of(evil).toLatin1())));
    } else if (attack == QLatin1String("collision")) {
        // Stands in for an MD5 collision: the archive checked is not the
        // published one, yet its MD5 is what the list asks for.
        beforeVerify = [](GameUpdateContext &ctx) {
            const QByteArray evil("Game.exe of the attacker");
            writeFile(ctx.downloadList.first().localPath, evil);
            ctx.downloadList.first().md5 = md5Of(evil);
        };
    } else if (attack == QLatin1String("guide-older")) {
        QVERIFY(writeFile(www + "/game/manifest.txt", readFile(m_older + "/game/manifest.txt")));
    } else if (attack == QLatin1String("file-manifest")) {
        QByteArray manifest = readFile(www + "/game/1.0.0.3/manifest.txt");
        QVERIFY(writeFile(www + "/game/1.0.0.3/manifest.txt", manifest.replace('0', '1')));
    } else if (attack == QLatin1String("replay")) {
        m_settings.SetValueByKey(serialKey(), QStringLiteral("200"));
        for (const QString &f : { QStringLiteral("release.json"), QStringLiteral("release.json.sig") }) {
            QFile::remove(www + "/game/" + f);
            QVERIFY(QFile::copy(m_older + "/game/" + f, www + "/game/" + f));
        }
    } else if (attack == QLatin1String("expired")) {
        resign(www, m_oldKey, [](ReleaseDocument &d) { d.expires = QDateTime::currentDateTimeUtc().addSecs(-60); });
    } else if (attack == QLatin1String("stranger")) {
        resign(www, m_strangerKey, [](ReleaseDocument &d) { d.serial = 1000; });
    } else if (attack == QLatin1String("channel")) {
        // A genuine signature over the launcher channel's document.
        resign(www, m_oldKey, [](ReleaseDocument &d) {
            d.channel = QStringLiteral("Launcher");
            d.files.clear();
        });
    } else if (attack == QLatin1String("longer")) {
        QVERIFY(writeFile(www + "/" + pack, QByteArray(int(packSize) + (1 << 20), 'y')));
        // Even a plan that expects more gets no more than the signed size.
        beforeDownload = [](GameUpdateContext &ctx) { ctx.downloadList.first().size += 1 << 20; };
        beforeVerify = [packSize](GameUpdateContext &ctx) {
            // The transfer stopped at the listed size, not at the body's end.
            QCOMPARE(QFileInfo(ctx.downloadList.first().localPath).size(), packSize);
        };
    } else if (attack == QLatin1String("mixed")) {
        // The newer document and guide, the older publication's newest version.
        QDir(www + "/game/" + Newest).removeRecursively();
        QVERIFY(copyTree(m_older + "/game/" + Newest, www + "/game/" + Newest));
    }
    m_server.setRoot(www);

    const QString serialBefore = m_settings.GetValueByKey(serialKey());
    QTemporaryDir install;
    GameUpdateContext ctx;
    ctx.setting.InstallPath = install.path();
    ctx.setting.GamePath = install.filePath("game");
    ctx.setting.CachePath = install.filePath("cache");
    QVERIFY(QDir().mkpath(ctx.setting.GamePath));
    const QString refused = hostRun(ctx, beforeVerify, beforeDownload);
    QVERIFY2(refused.contains(refusal), qPrintable(refused));
    QVERIFY(QDir(ctx.setting.GamePath).isEmpty());
    // A refused document changes no setting; one refused later kept what it was accepted with.
    const bool documentRefused
        = attack == "replay" || attack == "expired" || attack == "stranger" || attack == "channel";
    QCOMPARE(m_settings.GetValueByKey(serialKey()), documentRefused ? serialBefore : QStringLiteral("200"));
    QCOMPARE(m_settings.GetValueByKey(keyKey()), QString());
    // Nothing accepted means nothing checks out afterwards either.
    QString error;
    if (documentRefused)
        QVERIFY(!ReleaseTrust::CheckBytes("game/manifest.txt", readFile(m_newer + "/game/manifest.txt"), error));
}

void tst_Trust::keyRotation()
{
    const QString www = m_dir.filePath("www-rotation");
    QVERIFY(copyTree(m_newer, www));
    resign(www, m_oldKey, [this](ReleaseDocument &d) {
        d.serial = 300;
        d.nextKey = QString::fromLatin1(readFile(m_newKey + ".pub")).trimmed();
    });
    const QByteArray handOver = readFile(www + "/game/release.json");
    const QByteArray handOverSig = readFile(www + "/game/release.json.sig");
    ReleaseDocument doc;
    QString error;
    QVERIFY2(ReleaseTrust::Accept(handOver, handOverSig, Channel, m_settings, doc, error), qPrintable(error));
    QCOMPARE(m_settings.GetValueByKey(keyKey()), doc.nextKey);
    QCOMPARE(m_settings.GetValueByKey(serialKey()), QStringLiteral("300"));

    // A host that trusts only the old key is told that the channel moved on.
    QVERIFY(!ReleaseTrust::Accept(handOver, handOverSig, Channel, m_settings, doc, error));
    QVERIFY2(error.contains("was handed over to " + doc.nextKey + ", which is not a trusted key"), qPrintable(error));
    // Trusting both, the old key alone signs nothing any more, not even the hand-over again.
    ReleaseTrust::SetTrustedKeys({ QString::fromLatin1(readFile(m_oldKey + ".pub")).trimmed(), doc.nextKey });
    QVERIFY(!ReleaseTrust::Accept(handOver, handOverSig, Channel, m_settings, doc, error));
    QVERIFY2(error.contains("not signed by a trusted key"), qPrintable(error));
    resign(www, m_oldKey, [](ReleaseDocument &d) {
        d.serial = 400;
        d.nextKey.clear();
    });
    QVERIFY(!ReleaseTrust::Accept(readFile(www + "/game/release.json"), readFile(www + "/game/release.json.sig"),
        Channel, m_settings, doc, error));
    QCOMPARE(m_settings.GetValueByKey(serialKey()), QStringLiteral("300"));

    resign(www, m_newKey, [](ReleaseDocument &d) { d.serial = 400; });
    const QByteArray byNewKey = readFile(www + "/game/release.json");
    const QByteArray byNewKeySig = readFile(www + "/game/release.json.sig");
    // The keys the host passes bound the hand-over: trusting a third key
    // instead accepts neither the handed-over key's document nor its own.
    const QString handedOver = doc.nextKey;
    ReleaseTrust::SetTrustedKeys({ QString::fromLatin1(readFile(m_strangerKey + ".pub")).trimmed() });
    QVERIFY(!ReleaseTrust::Accept(byNewKey, byNewKeySig, Channel, m_settings, doc, error));
    QVERIFY2(error.contains("not a trusted key"), qPrintable(error));
    resign(www, m_strangerKey, [](ReleaseDocument &d) { d.serial = 500; });
    QVERIFY(!ReleaseTrust::Accept(readFile(www + "/game/release.json"), readFile(www + "/game/release.json.sig"),
        Channel, m_settings, doc, error));
    QVERIFY2(error.contains("was handed over to " + handedOver), qPrintable(error));

    ReleaseTrust::SetTrustedKeys({ handedOver });
    QVERIFY2(ReleaseTrust::Accept(byNewKey, byNewKeySig, Channel, m_settings, doc, error), qPrintable(error));
    QCOMPARE(m_settings.GetValueByKey(serialKey()), QStringLiteral("400"));
}

void tst_Trust::sameSerialMeansSameBytes()
{
    const QByteArray document = readFile(m_newer + "/game/release.json");
    const QByteArray signature = readFile(m_newer + "/game/release.json.sig");
    ReleaseDocument doc;
    QString error;
    QVERIFY2(ReleaseTrust::Accept(document, signature, Channel, m_settings, doc, error), qPrintable(error));
    const QString www = m_dir.filePath("www-same-serial");
    QVERIFY(copyTree(m_newer, www));
    resign(www, m_oldKey, [](ReleaseDocument &d) { d.expires = d.expires.addDays(1); });
    QVERIFY(!ReleaseTrust::Accept(readFile(www + "/game/release.json"), readFile(www + "/game/release.json.sig"),
        Channel, m_settings, doc, error));
    QVERIFY2(error.contains("has the accepted serial 200 but other content"), qPrintable(error));
    QVERIFY2(ReleaseTrust::Accept(document, signature, Channel, m_settings, doc, error), qPrintable(error));
}

void tst_Trust::duplicateKeysAreRefused()
{
    QByteArray secret;
    QString error;
    QVERIFY(ReleaseKeys::ReadSecretKeyFile(m_oldKey, secret, error));
    QByteArray json = readFile(m_newer + "/game/release.json");
    // A second serial after the first: which one counts depends on the reader.
    const int at = json.indexOf("\"serial\"");
    QVERIFY(at > 0);
    json.insert(at, "\"serial\": 999999,\n    ");
    ReleaseDocument doc;
    QVERIFY(!ReleaseTrust::Accept(json, ReleaseKeys::Sign(json, secret), Channel, m_settings, doc, error));
    QVERIFY2(error.contains("duplicate key \"serial\""), qPrintable(error));
    QCOMPARE(m_settings.GetValueByKey(serialKey()), QString());
}

// A text counts as checked only when the bytes the server sent were the signed
// ones: decoding drops a byte-order mark, and a planner never trusts a text
// nobody checked.
void tst_Trust::textsAreCheckedAsFetched()
{
    ReleaseDocument doc;
    QString error;
    QVERIFY2(ReleaseTrust::Accept(readFile(m_newer + "/game/release.json"),
                 readFile(m_newer + "/game/release.json.sig"), Channel, m_settings, doc, error),
        qPrintable(error));
    const QString guidePath = Channel + "/" + Global::Var::GuideManifestName;
    const QByteArray guide = readFile(m_newer + "/" + guidePath);

    GameUpdateContext ctx;
    SolveGuideManifest(QString::fromUtf8(guide), ctx);
    QCOMPARE(ctx.planResult, int(PlanResultUncheckedText));
    QVERIFY(ctx.downloadList.isEmpty());

    const QString withMark = QString::fromUtf8("\xEF\xBB\xBF" + guide);
    QCOMPARE(withMark.toUtf8(), guide);
    QVERIFY(!ReleaseTrust::CheckBytes(guidePath, "\xEF\xBB\xBF" + guide, error));
    QVERIFY(!ReleaseTrust::CheckText(guidePath, withMark, error));
    QVERIFY2(error.contains("the bytes fetched for it differ from the signed release"), qPrintable(error));

    QVERIFY2(ReleaseTrust::CheckBytes(guidePath, guide, error), qPrintable(error));
    QVERIFY2(ReleaseTrust::CheckText(guidePath, withMark, error), qPrintable(error));
    SolveGuideManifest(QString::fromUtf8(guide), ctx);
    QCOMPARE(ctx.planResult, int(PlanResultPlanned));
    QCOMPARE(ctx.downloadList.size(), 1);
}

void tst_Trust::archiveCheckedByItsSignedDigest_data()
{
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QString>("refusal");
    // Where the signed release lists the archive, its digest is the check.
    row("no MD5 on the guide line", "", "");
    row("a wrong MD5 still fails", "00000000000000000000000000000000", ": MD5 differs");
}

void tst_Trust::archiveCheckedByItsSignedDigest()
{
    QFETCH(QString, md5);
    QFETCH(QString, refusal);
    QTemporaryDir install;
    GameUpdateContext ctx;
    ctx.setting.InstallPath = install.path();
    ctx.setting.GamePath = install.filePath("game");
    ctx.setting.CachePath = install.filePath("cache");
    const QString refused = hostRun(ctx, [&md5](GameUpdateContext &c) { c.downloadList.first().md5 = md5; });
    QVERIFY2(refusal.isEmpty() ? refused.isEmpty() : refused.endsWith(refusal), qPrintable(refused));
    QCOMPARE(QFileInfo::exists(ctx.downloadList.first().localPath), refusal.isEmpty());
}

void tst_Trust::happyPath()
{
    // A fresh install (the newest full pack), then the patch chain step by step.
    for (const QString &installed : { QString(), QStringLiteral("1.0.0.1"), QStringLiteral("1.0.0.2") }) {
        QTemporaryDir install;
        GameUpdateContext ctx;
        ctx.setting.InstallPath = install.path();
        ctx.setting.GamePath = install.filePath("game");
        ctx.setting.CachePath = install.filePath("cache");
        ctx.setting.CurrentGameVersion = installed;
        const QString refused = hostRun(ctx);
        QVERIFY2(refused.isEmpty(), qPrintable(installed + ": " + refused));
        QCOMPARE(ctx.downloadList.size(), 1);
        const DownloadFile &got = ctx.downloadList.first();
        const QString published = QDir::cleanPath(m_newer + "/" + QUrl(got.url).path());
        QVERIFY2(installed.isEmpty() == got.fileName.startsWith("full_"), qPrintable(got.fileName));
        QCOMPARE(readFile(got.localPath), readFile(published));
    }
    // The repair manifest a repair plans from is listed as well.
    QString error;
    const QString repair = QStringLiteral("game/1.0.0.3/repair.txt");
    const QString repairText = fetchText(Global::Var::Host + "/" + repair, error);
    QVERIFY2(ReleaseTrust::CheckText(repair, repairText, error), qPrintable(error));
    QCOMPARE(m_settings.GetValueByKey(serialKey()), QStringLiteral("200"));
}

QTEST_GUILESS_MAIN(tst_Trust)
#include "tst_trust.moc"
