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
#include "planning/SolveGuideManifest.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "trust/ReleasePolicy.h"
#include "trust/ReleaseTrust.h"
#include "util/Blake2b.h"
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
    void judgeRelease_data();
    void judgeRelease();
    void duplicateKeysAreRefused();
    void textsAreCheckedAsFetched();
    void archiveCheckedByItsSignedDigest_data();
    void archiveCheckedByItsSignedDigest();
    void happyPath();

private:
    bool publishSample(const QString &input, const QString &out, qint64 serial, const QString &nextKey = QString());
    QByteArray fetch(const QString &path);
    // ReleaseTrust::Accept as a host does it: against what the install accepted
    // before, which it keeps when the (here: every) run succeeds.
    bool accept(const QByteArray &document, const QByteArray &signature, ReleaseDocument &doc, QString &error);
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
    AcceptedRelease m_accepted;
};

bool tst_Trust::accept(const QByteArray &document, const QByteArray &signature, ReleaseDocument &doc, QString &error)
{
    AcceptedRelease remember;
    if (!ReleaseTrust::Accept(document, signature, Channel, m_accepted, remember, doc, error))
        return false;
    m_accepted = remember;
    return true;
}

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
    m_accepted = AcceptedRelease();
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
    if (!accept(fetch(ReleaseTrust::DocumentPath(Channel)), fetch(ReleaseTrust::SignaturePath(Channel)), doc, error))
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
    QVERIFY2(accept(readFile(m_newer + "/game/release.json"), readFile(m_newer + "/game/release.json.sig"), doc, error),
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

// What one attack works on: the served copy of the newer publication, and
// the hooks it may set into the host's run.
struct AttackScene
{
    QString www;
    QString pack; // the newest full pack's server path
    qint64 packSize = 0;
    std::function<void(GameUpdateContext &)> beforeDownload;
    std::function<void(GameUpdateContext &)> beforeVerify;
};
using Tamper = std::function<void(AttackScene &)>;
Q_DECLARE_METATYPE(Tamper)

// Each row: how the attacker tampers with what is served, what the refusal
// says, and whether the document itself was refused (then no setting changes).
void tst_Trust::attacks_data()
{
    QTest::addColumn<Tamper>("tamper");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("documentRefused");
    const auto attack = [](const char *name, Tamper tamper, const char *refusal, bool documentRefused = false) {
        QTest::newRow(name) << tamper << QString::fromUtf8(refusal) << documentRefused;
    };
    const QString older = m_older;
    const QString newer = m_newer;
    const QString oldKey = m_oldKey;
    attack(
        "archive replaced, guide MD5 updated",
        [newer](AttackScene &s) {
            const QByteArray evil(int(s.packSize), 'x');
            QByteArray guide = readFile(s.www + "/game/manifest.txt");
            writeFile(s.www + "/" + s.pack, evil);
            writeFile(s.www + "/game/manifest.txt",
                guide.replace(md5Of(readFile(newer + "/" + s.pack)).toLatin1(), md5Of(evil).toLatin1()));
        },
        "game/manifest.txt");
    // Stands in for an MD5 collision: the archive checked is not the published
    // one, yet its MD5 is what the list asks for.
    attack(
        "archive with a matching MD5",
        [](AttackScene &s) {
            s.beforeVerify = [](GameUpdateContext &ctx) {
                const QByteArray evil("Game.exe of the attacker");
                writeFile(ctx.downloadList.first().localPath, evil);
                ctx.downloadList.first().md5 = md5Of(evil);
            };
        },
        "not the archive of the signed release (BLAKE2b)");
    attack(
        "guide points at an older version",
        [older](AttackScene &s) { writeFile(s.www + "/game/manifest.txt", readFile(older + "/game/manifest.txt")); },
        "game/manifest.txt");
    // The signed bytes behind a byte-order mark: decoded, the text is the
    // signed one; the bytes are not.
    attack(
        "guide with a byte-order mark",
        [](AttackScene &s) {
            writeFile(s.www + "/game/manifest.txt", "\xEF\xBB\xBF" + readFile(s.www + "/game/manifest.txt"));
        },
        "(code 299)");
    attack(
        "file manifest edited",
        [](AttackScene &s) {
            QByteArray manifest = readFile(s.www + "/game/1.0.0.3/manifest.txt");
            writeFile(s.www + "/game/1.0.0.3/manifest.txt", manifest.replace('0', '1'));
        },
        "game/1.0.0.3/manifest.txt");
    attack(
        "older document replayed",
        [this, older](AttackScene &s) {
            m_accepted.serial = 200;
            for (const QString &f : { QStringLiteral("release.json"), QStringLiteral("release.json.sig") }) {
                QFile::remove(s.www + "/game/" + f);
                QFile::copy(older + "/game/" + f, s.www + "/game/" + f);
            }
        },
        "older than the accepted 200", true);
    attack(
        "expired document",
        [oldKey](AttackScene &s) {
            resign(s.www, oldKey, [](ReleaseDocument &d) { d.expires = QDateTime::currentDateTimeUtc().addSecs(-60); });
        },
        "expired at", true);
    attack(
        "unknown key",
        [this](AttackScene &s) { resign(s.www, m_strangerKey, [](ReleaseDocument &d) { d.serial = 1000; }); },
        "not signed by a trusted key", true);
    // A genuine signature over the launcher channel's document.
    attack(
        "another channel's document",
        [oldKey](AttackScene &s) {
            resign(s.www, oldKey, [](ReleaseDocument &d) {
                d.channel = QStringLiteral("Launcher");
                d.files.clear();
            });
        },
        "for channel Launcher, not game", true);
    attack(
        "body longer than listed",
        [](AttackScene &s) {
            writeFile(s.www + "/" + s.pack, QByteArray(int(s.packSize) + (1 << 20), 'y'));
            // Even a plan that expects more gets no more than the signed size.
            s.beforeDownload = [](GameUpdateContext &ctx) { ctx.downloadList.first().size += 1 << 20; };
            s.beforeVerify = [size = s.packSize](GameUpdateContext &ctx) {
                // The transfer stopped at the listed size, not at the body's end.
                QCOMPARE(QFileInfo(ctx.downloadList.first().localPath).size(), size);
            };
        },
        "archive verification failed");
    // The newer document and guide, the older publication's newest version.
    attack(
        "two publications mixed",
        [older](AttackScene &s) {
            QDir(s.www + "/game/" + Newest).removeRecursively();
            copyTree(older + "/game/" + Newest, s.www + "/game/" + Newest);
        },
        "game/1.0.0.3/manifest.txt");
}

void tst_Trust::attacks()
{
    QFETCH(Tamper, tamper);
    QFETCH(QString, refusal);
    QFETCH(bool, documentRefused);
    QTemporaryDir served;
    QVERIFY(copyTree(m_newer, served.path()));
    AttackScene scene;
    scene.www = served.path();
    scene.pack = newestFullPack(scene.www);
    QVERIFY(!scene.pack.isEmpty());
    scene.packSize = QFileInfo(scene.www + "/" + scene.pack).size();
    tamper(scene);
    m_server.setRoot(scene.www);

    const qint64 serialBefore = m_accepted.serial;
    QTemporaryDir install;
    GameUpdateContext ctx;
    ctx.setting.InstallPath = install.path();
    ctx.setting.GamePath = install.filePath("game");
    ctx.setting.CachePath = install.filePath("cache");
    QVERIFY(QDir().mkpath(ctx.setting.GamePath));
    const QString refused = hostRun(ctx, scene.beforeVerify, scene.beforeDownload);
    QVERIFY2(refused.contains(refusal), qPrintable(refused));
    QVERIFY(QDir(ctx.setting.GamePath).isEmpty());
    // A refused document changes no setting; one refused later kept what it was accepted with.
    QCOMPARE(m_accepted.serial, documentRefused ? serialBefore : qint64(200));
    QCOMPARE(m_accepted.nextKey, QString());
    // Nothing accepted means nothing checks out afterwards either.
    QString error;
    if (documentRefused)
        QVERIFY(!ReleaseTrust::CheckBytes("game/manifest.txt", readFile(m_newer + "/game/manifest.txt"), error));
}

// One case of the acceptance rule, judged as a pure function: the document
// signed by signer (a key of this test: "old", "new", "stranger"), the
// host's keys, and what the install accepted before.
struct Judgement
{
    QString signer = QStringLiteral("old");
    QStringList trusted{ QStringLiteral("old") };
    qint64 serial = 300;
    QString nextKey; // the key the document hands over to
    qint64 beforeSerial = 200;
    QString beforeNextKey;
    bool beforeDigestOfAnother = false; // the accepted serial was a document of other bytes
    qint64 expiresInSeconds = 3600;
    QString error; // the refusal; empty when accepted
    qint64 rememberSerial = 300;
    QString rememberNextKey;
};
Q_DECLARE_METATYPE(Judgement)

void tst_Trust::judgeRelease_data()
{
    QTest::addColumn<Judgement>("j");
    const auto judge = [](const char *name, const std::function<void(Judgement &)> &change) {
        Judgement j;
        change(j);
        QTest::newRow(name) << j;
    };
    judge("a newer serial is accepted and kept", [](Judgement &) {});
    judge("an older serial is a replay", [](Judgement &j) {
        j.serial = 100;
        j.error = QStringLiteral("has serial 100, older than the accepted 200");
    });
    judge("the accepted serial with its own bytes", [](Judgement &j) {
        j.serial = j.beforeSerial;
        j.rememberSerial = j.beforeSerial;
    });
    judge("the accepted serial with other bytes", [](Judgement &j) {
        j.serial = j.beforeSerial;
        j.beforeDigestOfAnother = true;
        j.error = QStringLiteral("has the accepted serial 200 but other content");
    });
    judge("expired at the given time", [](Judgement &j) {
        j.expiresInSeconds = -1;
        j.error = QStringLiteral("expired at");
    });
    judge("an unknown key", [](Judgement &j) {
        j.signer = QStringLiteral("stranger");
        j.error = QStringLiteral("not signed by a trusted key");
    });
    judge("a hand-over is recorded", [](Judgement &j) {
        j.nextKey = QStringLiteral("new");
        j.rememberNextKey = QStringLiteral("new");
    });
    judge("after a hand-over the old key signs nothing", [](Judgement &j) {
        j.trusted = QStringList{ QStringLiteral("old"), QStringLiteral("new") };
        j.beforeNextKey = QStringLiteral("new");
        j.error = QStringLiteral("not signed by a trusted key");
    });
    judge("after a hand-over the new key signs", [](Judgement &j) {
        j.signer = QStringLiteral("new");
        j.trusted = QStringList{ QStringLiteral("new") };
        j.beforeNextKey = QStringLiteral("new");
        j.rememberNextKey = QStringLiteral("new");
    });
    // The keys the host passes bound what is accepted: a hand-over narrows
    // them and never replaces them.
    judge("a hand-over to a key the host does not trust", [](Judgement &j) {
        j.signer = QStringLiteral("new");
        j.beforeNextKey = QStringLiteral("new");
        j.error = QStringLiteral("was handed over to new, which is not a trusted key");
    });
    judge("a third key instead of the handed-over one", [](Judgement &j) {
        j.signer = QStringLiteral("stranger");
        j.trusted = QStringList{ QStringLiteral("stranger") };
        j.beforeNextKey = QStringLiteral("new");
        j.error = QStringLiteral("was handed over to new, which is not a trusted key");
    });
}

void tst_Trust::judgeRelease()
{
    QFETCH(Judgement, j);
    QMap<QString, QString> publicKeys;
    QMap<QString, QByteArray> secretKeys;
    QString error;
    for (const auto &key : { qMakePair(QStringLiteral("old"), m_oldKey), qMakePair(QStringLiteral("new"), m_newKey),
             qMakePair(QStringLiteral("stranger"), m_strangerKey) }) {
        publicKeys[key.first] = QString::fromLatin1(readFile(key.second + ".pub")).trimmed();
        QVERIFY(ReleaseKeys::ReadSecretKeyFile(key.second, secretKeys[key.first], error));
    }
    const auto keyText = [&](const QString &name) { return name.isEmpty() ? QString() : publicKeys.value(name); };
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);

    ReleaseDocument doc;
    QVERIFY(ReleaseDocument::parse(readFile(m_newer + "/game/release.json"), doc, error));
    doc.serial = j.serial;
    doc.expires = now.addSecs(j.expiresInSeconds);
    doc.nextKey = keyText(j.nextKey);
    const QByteArray json = doc.toJson();
    AcceptedRelease before;
    before.serial = j.beforeSerial;
    before.nextKey = keyText(j.beforeNextKey);
    before.digest = QString::fromLatin1(Blake2b::hash(j.beforeDigestOfAnother ? json + " " : json).toHex());
    QStringList trusted;
    for (const QString &name : qAsConst(j.trusted))
        trusted << publicKeys.value(name);

    const ReleaseVerdict v
        = JudgeRelease(json, ReleaseKeys::Sign(json, secretKeys.value(j.signer)), Channel, trusted, before, now);
    QVERIFY2(v.accepted == j.error.isEmpty(), qPrintable(v.error));
    QVERIFY2(v.error.contains(QString(j.error).replace(QLatin1String("new"), keyText(QStringLiteral("new")))),
        qPrintable(v.error));
    if (!v.accepted) {
        QCOMPARE(v.remember, before);
        return;
    }
    QCOMPARE(v.document.serial, j.serial);
    QCOMPARE(v.remember.serial, j.rememberSerial);
    QCOMPARE(v.remember.nextKey, keyText(j.rememberNextKey));
    QCOMPARE(v.remember.digest, QString::fromLatin1(Blake2b::hash(json).toHex()));
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
    QVERIFY(!accept(json, ReleaseKeys::Sign(json, secret), doc, error));
    QVERIFY2(error.contains("duplicate key \"serial\""), qPrintable(error));
    QCOMPARE(m_accepted.serial, qint64(0));
}

// A text counts as checked only when the bytes the server sent were the signed
// ones: decoding drops a byte-order mark, and a planner never trusts a text
// nobody checked.
void tst_Trust::textsAreCheckedAsFetched()
{
    ReleaseDocument doc;
    QString error;
    QVERIFY2(accept(readFile(m_newer + "/game/release.json"), readFile(m_newer + "/game/release.json.sig"), doc, error),
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
    QCOMPARE(m_accepted.serial, qint64(200));
}

QTEST_GUILESS_MAIN(tst_Trust)
#include "tst_trust.moc"
