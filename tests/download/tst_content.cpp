#include "../support/DataRows.h"
#include "../support/TestSupport.h"
#include "tst_download.h"

#include "TestCertificate.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/Global.h"
#include "download/DownloaderManager.h"
#include "download/NetworkRequests.h"
#include "trust/ReleaseListing.h"
#include "util/Blake2b.h"
#include "util/DocumentLimits.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QtTest>

using namespace Morvaniel;
using HttpTest::HttpFaultRule;
using HttpTest::HttpServer;
using TestSupport::textRow;

void tst_Download::contentRetriesThenSucceeds()
{
    const QString text = QStringLiteral("héllo 世界 — news");
    m_server->addFile("/info.json", text.toUtf8());
    HttpFaultRule broken;
    broken.status = 500;
    broken.body = "oops";
    m_server->setRuleForPathRequest("/info.json", 0, broken);
    m_server->setRuleForPathRequest("/info.json", 1, broken);

    QStringList results;
    QList<int> codes;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/info.json"),
        [&](const QString &c, int code) {
            results << c;
            codes << code;
        },
        QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
    QTest::qWait(200);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first(), text);
    QCOMPARE(codes.first(), 0);
    QCOMPARE(m_server->requestCount(), 3);
}

void tst_Download::contentFailures_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("expectedCode");
    QTest::addColumn<int>("attempts");
    QTest::newRow("server never answers") << true << 0 << 4 << 5;
    QTest::newRow("500 every time") << false << 500 << 401 << 5;
    // Not there is an answer: asking four more times only delays the caller.
    QTest::newRow("404 is an answer") << false << 404 << 203 << 1;
}

void tst_Download::contentFailures()
{
    QFETCH(bool, silent);
    QFETCH(int, status);
    QFETCH(int, expectedCode);
    QFETCH(int, attempts);
    HttpFaultRule rule;
    rule.silent = silent;
    rule.status = status;
    m_server->setRule("/gone.txt", rule);

    QList<int> codes;
    QStringList results;
    QElapsedTimer clock;
    clock.start();
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/gone.txt"),
        [&](const QString &c, int code) {
            results << c;
            codes << code;
        },
        QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 1, 20000);
    QTest::qWait(300);
    QCOMPARE(codes.size(), 1);
    QCOMPARE(codes.first(), expectedCode);
    QVERIFY(results.first().isEmpty());
    QCOMPARE(m_server->requestCount(), attempts);
    const DownloadTimings t = shortTimings();
    if (silent)
        QVERIFY(clock.elapsed() >= 5 * t.contentTimeoutMs + 4 * t.contentRetryMs);
}

void tst_Download::contentPostBodyIsUtf8_data()
{
    QTest::addColumn<QString>("postData");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("post") << QStringLiteral("name=名前&value=ü") << QByteArray("POST");
    QTest::newRow("empty body is a get") << QString() << QByteArray("GET");
}

void tst_Download::contentPostBodyIsUtf8()
{
    QFETCH(QString, postData);
    QFETCH(QByteArray, method);
    m_server->addFile("/api", "ok");
    QStringList results;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/api"), [&](const QString &c, int) { results << c; }, postData, false);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
    QCOMPARE(results.first(), QStringLiteral("ok"));
    QCOMPARE(m_server->requests().first().method, method);
    QCOMPARE(m_server->requests().first().body, postData.toUtf8());
}

void tst_Download::contentWaitReturnsAfterTheAttempt()
{
    m_server->addFile("/wait.txt", "waited");
    HttpFaultRule late;
    late.headerDelayMs = shortTimings().contentTimeoutMs / 3;
    m_server->setRule("/wait.txt", late);
    QStringList results;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/wait.txt"), [&](const QString &c, int) { results << c; }, QString(), true);
    QCOMPARE(results, QStringList{ "waited" });
}

void tst_Download::concurrentContentRequestsKeepTheirOwnResults()
{
    m_server->addFile("/slow.txt", "slow");
    m_server->addFile("/fast.txt", "fast");
    HttpFaultRule late;
    late.headerDelayMs = shortTimings().contentTimeoutMs / 3; // late, yet within the time-out
    m_server->setRule("/slow.txt", late);
    QMap<QString, QString> results;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/slow.txt"), [&](const QString &c, int) { results.insert("slow", c); }, QString(), false);
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/fast.txt"), [&](const QString &c, int) { results.insert("fast", c); }, QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 10000);
    QCOMPARE(results.value("slow"), QStringLiteral("slow"));
    QCOMPARE(results.value("fast"), QStringLiteral("fast"));
    // Both have ended: the next request starts from an empty list and still works.
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/fast.txt"), [&](const QString &c, int) { results.insert("again", c); }, QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(results.value("again"), QStringLiteral("fast"), 10000);
}

void tst_Download::timestampRule_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("separator");
    textRow("no query", "http://127.0.0.1/a.json", "?timestamp=");
    textRow("with query", "http://127.0.0.1/a.json?x=1", "&timestamp=");
}

void tst_Download::timestampRule()
{
    QFETCH(QString, url);
    QFETCH(QString, separator);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QString result = TimestampedUrl(url).toString();
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY2(result.startsWith(url + separator), qPrintable(result));
    const qint64 seconds = result.mid(url.size() + separator.size()).toLongLong();
    QVERIFY(seconds >= before && seconds <= after);
}

void tst_Download::timestampKeepsPercentEscapes_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("escaped slash and plus") << "/esc/a%2Fb%2Bc.txt";
    QTest::newRow("escape that reads like a placeholder") << "/esc/a%1Ab.txt";
}

void tst_Download::timestampKeepsPercentEscapes()
{
    QFETCH(QString, path);
    // The server serves by the decoded path; the escapes matter on the wire.
    m_server->addFile(QUrl::fromPercentEncoding(path.toLatin1()), "escaped");
    QStringList results;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url(path), [&](const QString &c, int) { results << c; }, QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
    QCOMPARE(results.first(), QStringLiteral("escaped"));
    const QString target = QString::fromLatin1(m_server->requests().first().target);
    const QRegularExpression expected('^' + QRegularExpression::escape(path) + "\\?timestamp=\\d+$");
    QVERIFY2(expected.match(target).hasMatch(), qPrintable(target));
}

void tst_Download::certificateChecksFollowTheSwitch_data()
{
    QTest::addColumn<bool>("verifyPeer");
    QTest::newRow("checked by default: a forged server is refused") << true;
    QTest::newRow("switched off for a self-signed test server") << false;
}

void tst_Download::certificateChecksFollowTheSwitch()
{
    QFETCH(bool, verifyPeer);
    if (TestSupport::runsUnderWine())
        QSKIP("Wine's Schannel does not complete the handshake of a TLS server (the test server's side)");
    if (!m_server->setTls(TestCertificate::kCertificatePem, TestCertificate::kPrivateKeyPem))
        QSKIP("Qt has no TLS backend here");
    m_server->addFile("/manifest.txt", "real manifest");
    Global::Var::bVerifyPeer = verifyPeer;

    QList<int> codes;
    QStringList results;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/manifest.txt"),
        [&](const QString &c, int code) {
            results << c;
            codes << code;
        },
        QString(), false);
    QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 1, 20000);
    if (verifyPeer) {
        QCOMPARE(codes.first(), int(QNetworkReply::SslHandshakeFailedError));
        QVERIFY(results.first().isEmpty());
        QCOMPARE(m_server->requestCount(), 0); // nothing was ever sent
    } else {
        QCOMPARE(codes.first(), 0);
        QCOMPARE(results.first(), QStringLiteral("real manifest"));
    }
}

void tst_Download::imagesAndHeaders()
{
    const QByteArray image = content(5000, 14);
    m_server->addFile("/img.png", image);

    QByteArray viaGetImage;
    GetDownloadComponent()->GetImage(m_server->url("/img.png"), [&](const QByteArray &b) { viaGetImage = b; });
    QTRY_COMPARE_WITH_TIMEOUT(viaGetImage, image, 10000);

    QByteArray viaByUrl;
    GetDownloadComponent()->GetImageByUrl(
        m_server->url("/img.png"), [&](const char *data, int size) { viaByUrl = QByteArray(data, size); });
    QTRY_COMPARE_WITH_TIMEOUT(viaByUrl, image, 10000);
    QVERIFY(m_server->requests().last().target.contains("?timestamp="));

    int calls = 0;
    GetDownloadComponent()->GetImage(m_server->url("/missing.png"), [&](const QByteArray &) { ++calls; });
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount("/missing.png"), 1, 10000);
    QTest::qWait(200);
    QCOMPARE(calls, 0);

    QMap<QString, QString> headers;
    bool called = false;
    DownloaderManager::GetInstance()->GetHeaderByUrl(m_server->url("/img.png"),
        { "Content-Length", "accept-ranges", "X-Missing" }, [&](const QMap<QString, QString> &h) {
            headers = h;
            called = true;
        });
    QTRY_VERIFY_WITH_TIMEOUT(called, 10000);
    QCOMPARE(m_server->requests().last().method, QByteArray("HEAD"));
    QCOMPARE(headers.value("Content-Length"), QStringLiteral("5000"));
    QCOMPARE(headers.value("accept-ranges"), QStringLiteral("bytes"));
    QVERIFY(!headers.contains("X-Missing"));
}

void tst_Download::contentRequestsAreBounded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expectedCode");
    QTest::newRow("endless signed manifest stops past its signed size") << "signed" << ContentTooLargeCode;
    // A compressed reply is taken as sent: a few bytes never become gigabytes.
    QTest::newRow("compressed reply is not inflated") << "inflated" << 0;
    QTest::newRow("a byte request past its own bound") << "bytes" << ContentTooLargeCode;
    QTest::newRow("an unsigned document past the fixed cap") << "unsigned" << ContentTooLargeCode;
    QTest::newRow("a server that drips a byte a second meets the deadline") << "drip" << 4;
}

// Every fetch of a document is bounded in bytes and in time, whatever the
// server sends: none is retried once its server has shown what it does.
void tst_Download::contentRequestsAreBounded()
{
    QFETCH(QString, kind);
    QFETCH(int, expectedCode);
    const QString path = QStringLiteral("/game/manifest.txt");
    if (kind == QLatin1String("signed")) {
        m_server->addFile(path, QByteArray(4 * 1024 * 1024, 'x'));
        ReleaseListing::setRequired(true);
        ReleaseListing::install(m_server->url(QString()), { { "game/manifest.txt", { 496, QByteArray(32, 'd') } } });
    } else if (kind == QLatin1String("inflated")) {
        // 80 MiB of zeros in about 80 KiB on the wire.
        HttpFaultRule deflated;
        deflated.status = 200;
        deflated.body = qCompress(QByteArray(80 * 1024 * 1024, '\0'), 9).mid(4);
        deflated.extraHeaders = "Content-Encoding: deflate\r\n";
        m_server->setRule(path, deflated);
    } else if (kind == QLatin1String("bytes")) {
        m_server->addFile(path, QByteArray(5000, 'x'));
    } else if (kind == QLatin1String("unsigned")) {
        m_server->addFile(path, QByteArray(int(MaxUnsignedDocumentBytes + 1024 * 1024), 'x'));
    } else {
        m_server->addFile(path, QByteArray(1024, 'x'));
        HttpFaultRule drip;
        drip.bytesPerSecond = 1;
        m_server->setRule(path, drip);
        DownloadTimings t = shortTimings();
        t.contentTimeoutMs = 5000; // a byte a second never trips it
        t.contentDeadlineMs = 3000;
        DownloadTimings::SetForTests(t);
    }

    QList<int> codes;
    QList<qint64> sizes;
    if (kind == QLatin1String("bytes")) {
        GetDownloadComponent()->GetContentBytesByUrl(m_server->url(path), 1000, [&](const QByteArray &b, int code) {
            sizes << b.size();
            codes << code;
        });
    } else {
        GetDownloadComponent()->GetContentByUrl(
            m_server->url(path),
            [&](const QString &c, int code) {
                sizes << c.size();
                codes << code;
            },
            QString(), false);
    }
    QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 1, 30000);
    QTest::qWait(300);
    ReleaseListing::setRequired(false);
    ReleaseListing::clear();
    QCOMPARE(codes, QList<int>{ expectedCode });
    if (expectedCode == 0)
        QVERIFY2(sizes.first() < 1024 * 1024, qPrintable(QString::number(sizes.first())));
    else
        QCOMPARE(sizes.first(), qint64(0));
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->requests().first().headers.value("accept-encoding"), QByteArray("identity"));
}

void tst_Download::contentAbortEndsEveryRequestOnce()
{
    HttpFaultRule silent;
    silent.silent = true;
    m_server->setRule("/slow.json", silent);
    QList<int> codes;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/slow.json"), [&](const QString &, int code) { codes << code; }, QString(), false);
    GetDownloadComponent()->GetContentBytesByUrl(
        m_server->url("/slow.json"), 100, [&](const QByteArray &, int code) { codes << code; });
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), 2, 10000);
    GetDownloadComponent()->AbortContentRequests();
    QCOMPARE(codes, (QList<int>{ ContentAbortedCode, ContentAbortedCode }));
    // No retry or time-out of the ended requests follows.
    QTest::qWait(2 * shortTimings().contentTimeoutMs);
    QCOMPARE(codes.size(), 2);
    QCOMPARE(m_server->requestCount(), 2);
}

// A byte request hands over what the server sent, byte-order mark and all; a
// text request decodes it. With a signed listing, only the exact listed bytes
// count as checked, and a listed file's reply is bounded by its listed size.
void tst_Download::contentBytesAreTheServersOwn()
{
    const QByteArray signedText = "line 1\nline 2\n";
    const QByteArray withMark = "\xEF\xBB\xBF" + signedText;
    m_server->addFile("/game/a.txt", signedText);
    m_server->addFile("/game/b.txt", withMark);
    m_server->addFile("/news.txt", withMark);
    const ListedFile listed{ signedText.size(), Blake2b::hash(signedText) };
    ReleaseListing::setRequired(true);
    ReleaseListing::install(m_server->url(QString()), { { "game/a.txt", listed }, { "game/b.txt", listed } });

    QMap<QString, QPair<QByteArray, int>> results;
    for (const QString path : { "/news.txt", "/game/b.txt" }) {
        GetDownloadComponent()->GetContentBytesByUrl(
            m_server->url(path), 1000, [&results, path](const QByteArray &b, int code) {
                results[path] = { b, code };
            });
    }
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 10000);
    QCOMPARE(results.value("/news.txt"), qMakePair(withMark, 0));
    QCOMPARE(results.value("/game/b.txt"), qMakePair(QByteArray(), ContentTooLargeCode));
    QVERIFY(!ReleaseListing::isChecked(signedText));
    QString text;
    GetDownloadComponent()->GetContentByUrl(
        m_server->url("/game/a.txt"), [&](const QString &t, int) { text = t; }, QString(), false);
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 10000);
    QVERIFY(ReleaseListing::isChecked(signedText));
    QVERIFY(ReleaseListing::textUsable(text, QStringLiteral("a.txt"), QStringLiteral("test")));
    ReleaseListing::setRequired(false);
    ReleaseListing::clear();
}
