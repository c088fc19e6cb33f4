// Content, header and image requests of DownloaderManager: small documents for
// the GUI, sharing the manager's network access manager but none of the
// download run's state.
#include "download/DownloaderManager.h"

#include "download/DownloadTimings.h"
#include "download/NetworkRequests.h"
#include "util/DocumentLimits.h"
#include "util/Logger.h"
#include "util/TrustedRelease.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

namespace Morvaniel {

namespace {

// The most a request for url may read: the size the accepted signed release
// lists for it, else cap.
qint64 contentLimit(const QString &url, qint64 cap)
{
    ListedFile listed;
    if (TrustedRelease::required() && TrustedRelease::lookup(url, listed))
        return qMin(listed.size, cap);
    return cap;
}

} // namespace

void DownloaderManager::GetContentByUrl(
    QString url, std::function<void(const QString &, int)> callback, const QString &postData, bool bWait)
{
    qDebug() << "url " << url;
    ContentRequest request;
    request.postData = postData;
    request.callback = std::move(callback);
    request.bWait = bWait;
    StartContentRequest(url, request, MaxUnsignedDocumentBytes);
}

void DownloaderManager::GetContentBytesByUrl(
    QString url, qint64 maxBytes, std::function<void(const QByteArray &, int)> callback)
{
    qDebug() << "url " << url;
    ContentRequest request;
    request.bytesCallback = std::move(callback);
    StartContentRequest(url, request, qBound<qint64>(0, maxBytes, MaxUnsignedDocumentBytes));
}

void DownloaderManager::StartContentRequest(const QString &url, ContentRequest &request, qint64 cap)
{
    ClearContentVector();
    request.index = m_contentRequests.size();
    request.serial = ++m_contentSerial;
    request.source = url;
    request.url = TimestampedUrl(url);
    request.maxBytes = contentLimit(url, cap);
    request.bRunning = true;
    request.timer = new QTimer(this);
    request.timer->setSingleShot(true);
    request.deadline = new QTimer(this);
    request.deadline->setSingleShot(true);
    const int index = request.index;
    connect(request.timer, &QTimer::timeout, request.timer, [this, index] { OnContentTimeout(index); });
    connect(request.deadline, &QTimer::timeout, request.deadline, [this, index] { OnContentDeadline(index); });
    request.deadline->start(DownloadTimings::Current().contentDeadlineMs);
    m_contentRequests.append(request);
    PrivateGetContentByUrl(index);
}

void DownloaderManager::PrivateGetContentByUrl(int index)
{
    if (index < 0 || index >= m_contentRequests.size() || !m_contentRequests.at(index).bRunning)
        return;
    ResetAccessible();
    ContentRequest &request = m_contentRequests[index];
    Logger::LogInfo("Downloader", QString("download content from url is %1").arg(request.url.toString()));

    const QNetworkRequest netRequest = BuildContentRequest(request.url);
    QNetworkReply *reply = nullptr;
    if (!request.postData.isEmpty()) {
        qDebug() << "postData" << request.postData;
        reply = m_network->post(netRequest, request.postData.toUtf8());
    } else {
        reply = m_network->get(netRequest);
    }
    request.reply = reply;
    request.body.clear();
    request.timer->start(DownloadTimings::Current().contentTimeoutMs);
    request.bTimeout = false;

    connect(reply, &QNetworkReply::readyRead, this, [this, index, reply] {
        if (index < m_contentRequests.size() && m_contentRequests.at(index).reply == reply)
            OnContentBytes(m_contentRequests[index]);
    });
    connect(reply, &QNetworkReply::finished, this, [this, index, reply] { OnContentFinished(index, reply); });

    // Only the first attempt is waited for; later attempts start from a timer
    // and nobody is blocked on them.
    if (request.bWait && request.timeCount == 0) {
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        request.loop = &loop;
        loop.exec();
    }
}

// Bytes are taken out of the reply as they come, so that a reply past its
// bound ends before it fills the memory (the count is of decoded bytes: a
// compressed reply is held to what it inflates to).
void DownloaderManager::OnContentBytes(ContentRequest &request)
{
    request.timer->start(DownloadTimings::Current().contentTimeoutMs);
    request.body += request.reply->readAll();
    if (request.body.size() <= request.maxBytes || request.bTooLarge)
        return;
    request.bTooLarge = true;
    Logger::LogInfo("Downloader",
        QString("content of %1 is larger than %2 bytes").arg(request.source, QString::number(request.maxBytes)));
    // abort() ends the reply through OnContentFinished.
    request.reply->abort();
}

void DownloaderManager::OnContentTimeout(int index)
{
    if (index >= m_contentRequests.size() || !m_contentRequests.at(index).reply)
        return;
    ContentRequest &request = m_contentRequests[index];
    qDebug() << QString("the %1 timer is timeout!").arg(index);
    request.timer->stop();
    request.bTimeout = true;
    QNetworkReply *reply = request.reply;
    QPointer<QEventLoop> loop = request.loop;
    request.loop = nullptr;
    // abort() ends the reply through OnContentFinished, which records the failure.
    reply->abort();
    if (index < m_contentRequests.size() && m_contentRequests.at(index).reply == reply)
        m_contentRequests[index].reply = nullptr;
    reply->deleteLater();
    if (loop)
        loop->quit();
}

// However the server paces its bytes, the request ends: a reply that drips a
// byte now and then never trips the inactivity timer.
void DownloaderManager::OnContentDeadline(int index)
{
    if (index >= m_contentRequests.size() || !m_contentRequests.at(index).bRunning)
        return;
    Logger::LogInfo("Downloader",
        QString("content of %1 did not arrive within %2 ms")
            .arg(m_contentRequests.at(index).source)
            .arg(DownloadTimings::Current().contentDeadlineMs));
    m_contentRequests[index].bDeadlinePassed = true;
    EndContentRequest(index, int(QNetworkReply::TimeoutError));
}

void DownloaderManager::AbortContentRequests()
{
    QVector<QPair<int, quint64>> running;
    for (const ContentRequest &request : qAsConst(m_contentRequests))
        if (request.bRunning)
            running.append(qMakePair(request.index, request.serial));
    // A callback may start requests; only the ones running now end here.
    for (const auto &entry : qAsConst(running)) {
        if (entry.first < m_contentRequests.size() && m_contentRequests.at(entry.first).serial == entry.second
            && m_contentRequests.at(entry.first).bRunning) {
            Logger::LogInfo(
                "Downloader", QString("content request for %1 aborted").arg(m_contentRequests.at(entry.first).source));
            EndContentRequest(entry.first, ContentAbortedCode);
        }
    }
}

void DownloaderManager::OnContentFinished(int index, QNetworkReply *reply)
{
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    if (index >= m_contentRequests.size() || !m_contentRequests.at(index).bRunning)
        return;
    ContentRequest &request = m_contentRequests[index];
    if (request.reply == reply) {
        // What arrived with the end of the reply has had no readyRead of its own.
        if (reply->error() == QNetworkReply::NoError)
            OnContentBytes(request);
        request.reply = nullptr;
    }
    request.timer->stop();
    const QNetworkReply::NetworkError error = reply->error();
    qDebug() << "error" << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error) << reply->errorString();

    if (request.bTooLarge) {
        // The same server would send the same reply again.
        EndContentRequest(index, ContentTooLargeCode);
        return;
    }
    if (error == QNetworkReply::NoError) {
        EndContentRequest(index, 0);
        return;
    }
    if (request.timeCount <= m_maxRetryCount) {
        qDebug() << "request url " << request.url << "error timecount" << request.timeCount;
        ++request.timeCount;
        request.content.clear();
        const quint64 serial = request.serial;
        QTimer::singleShot(DownloadTimings::Current().contentRetryMs, this, [this, index, serial] {
            if (index < m_contentRequests.size() && m_contentRequests.at(index).serial == serial)
                PrivateGetContentByUrl(index);
        });
        return;
    }
    const int code = request.bTimeout ? int(QNetworkReply::TimeoutError) : int(error);
    qDebug() << reply->errorString();
    for (const QNetworkReply::RawHeaderPair &pair : reply->rawHeaderPairs())
        qDebug() << "head" << pair.first << ":" << pair.second;
    EndContentRequest(index, code);
}

// The one end of every content request: its callback once, then the request
// is reset in place.
void DownloaderManager::EndContentRequest(int index, int code)
{
    ContentRequest &request = m_contentRequests[index];
    const QByteArray body = code == 0 ? request.body : QByteArray();
    if (code == 0 && TrustedRelease::checkFetched(request.source, body) == TrustedRelease::FetchCheck::Differs)
        Logger::LogInfo("Downloader", QString("content of %1 differs from the signed release").arg(request.source));
    request.content = code == 0 ? QString::fromUtf8(body) : QString();
    const QString content = request.content;
    const auto callback = request.callback;
    const auto bytesCallback = request.bytesCallback;
    QPointer<QEventLoop> loop = request.loop;
    request.loop = nullptr;
    ResetContentRequest(request);
    if (loop)
        loop->quit();
    // The callback may start further requests; the list only grows then.
    if (bytesCallback)
        bytesCallback(body, code);
    else if (callback)
        callback(content, code);
}

void DownloaderManager::ResetContentRequest(ContentRequest &request)
{
    request.content.clear();
    request.body.clear();
    request.timeCount = 0;
    request.url.clear();
    request.postData.clear();
    request.callback = nullptr;
    request.bytesCallback = nullptr;
    for (QTimer **timer : { &request.timer, &request.deadline }) {
        if (*timer) {
            (*timer)->stop();
            (*timer)->deleteLater();
            *timer = nullptr;
        }
    }
    if (request.reply) {
        QNetworkReply *reply = request.reply;
        request.reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    request.bRunning = false;
}

void DownloaderManager::ClearContentVector()
{
    for (const ContentRequest &request : qAsConst(m_contentRequests)) {
        if (request.bRunning)
            return;
    }
    m_contentRequests.clear();
}

void DownloaderManager::GetHeaderByUrl(
    QString url, const QSet<QString> &headerNames, std::function<void(const QMap<QString, QString> &)> callback)
{
    ResetAccessible();
    QNetworkReply *reply = m_network->head(BuildContentRequest(QUrl::fromUserInput(url)));
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::metaDataChanged, timer, [timer] { timer->start(); });
    timer->start(DownloadTimings::Current().contentTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, [reply, headerNames, callback] {
        reply->deleteLater();
        QMap<QString, QString> values;
        if (reply->error() == QNetworkReply::NoError) {
            for (const QString &name : headerNames) {
                if (reply->hasRawHeader(name.toLatin1()))
                    values.insert(name, QString::fromLatin1(reply->rawHeader(name.toLatin1())));
            }
        }
        if (callback)
            callback(values);
    });
}

namespace {

// Sends an image request; on success the callback gets the bytes, on an error
// nothing happens (no retry). A picture past MaxImageBytes, or one that takes
// longer than a content request may, counts as an error.
void FetchImage(QNetworkAccessManager *network, const QUrl &url, std::function<void(const QByteArray &)> onBytes)
{
    QNetworkReply *reply = network->get(BuildContentRequest(url));
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(DownloadTimings::Current().contentDeadlineMs);
    auto body = std::make_shared<QByteArray>();
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body] {
        *body += reply->readAll();
        if (body->size() > MaxImageBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, body, onBytes] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError)
            return;
        *body += reply->readAll();
        if (body->size() <= MaxImageBytes)
            onBytes(*body);
    });
}

} // namespace

// Image requests may come from any thread: the work moves to the application's.
void DownloaderManager::GetImage(QString url, std::function<void(const QByteArray &)> callback)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [network = m_network, url, callback] {
        if (!network)
            return;
        QUrl target(url);
        qDebug() << "GetImage url is " << target << " is relative:" << target.isRelative();
        // A scheme-relative address ("//host/path") is fetched over HTTPS.
        if (target.isRelative())
            target.setScheme(QStringLiteral("https"));
        FetchImage(network, target, [callback](const QByteArray &bytes) {
            if (callback)
                callback(bytes);
        });
    });
}

void DownloaderManager::GetImageByUrl(QString url, std::function<void(const char *, int)> callback)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [network = m_network, url, callback] {
        if (!network)
            return;
        Logger::LogInfo("Downloader", QString("image url is %1").arg(url));
        FetchImage(network, TimestampedUrl(url), [callback](const QByteArray &bytes) {
            if (callback)
                callback(bytes.constData(), bytes.size());
        });
    });
}

} // namespace Morvaniel
