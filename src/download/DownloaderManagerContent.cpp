// Content, header and image requests of DownloaderManager: small documents for
// the GUI, sharing the manager's network access manager but none of the
// download run's state.
#include "download/DownloaderManager.h"

#include "download/DownloadTimings.h"
#include "download/NetworkRequests.h"
#include "util/Logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace Morvaniel {

void DownloaderManager::GetContentByUrl(
    QString url, std::function<void(const QString &, int)> callback, const QString &postData, bool bWait)
{
    qDebug() << "url " << url;
    ClearContentVector();

    ContentRequest request;
    request.index = m_contentRequests.size();
    request.url = TimestampedUrl(url);
    request.postData = postData;
    request.callback = std::move(callback);
    request.bRunning = true;
    request.bWait = bWait;
    request.timer = new QTimer(this);
    request.timer->setSingleShot(true);
    const int index = request.index;
    connect(request.timer, &QTimer::timeout, request.timer, [this, index] { OnContentTimeout(index); });
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
    request.timer->start(DownloadTimings::Current().contentTimeoutMs);
    request.bTimeout = false;

    connect(reply, &QNetworkReply::readyRead, this, [this, index, reply] {
        // The body stays in the reply until it has finished: decoding chunk by
        // chunk would break characters whose bytes arrive in two pieces.
        if (index < m_contentRequests.size() && m_contentRequests.at(index).reply == reply)
            m_contentRequests.at(index).timer->start(DownloadTimings::Current().contentTimeoutMs);
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

void DownloaderManager::OnContentFinished(int index, QNetworkReply *reply)
{
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    if (index >= m_contentRequests.size() || !m_contentRequests.at(index).bRunning)
        return;
    ContentRequest &request = m_contentRequests[index];
    if (request.reply == reply)
        request.reply = nullptr;
    request.timer->stop();
    const QNetworkReply::NetworkError error = reply->error();
    qDebug() << "error" << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error) << reply->errorString();

    if (error == QNetworkReply::NoError) {
        request.content = QString::fromUtf8(reply->readAll());
        const std::function<void(const QString &, int)> callback = request.callback;
        const QString content = request.content;
        if (callback)
            callback(content, 0);
        // The callback may have started further requests; the list only grows then.
        ResetContentRequest(m_contentRequests[index]);
        return;
    }
    // A server that answers that the document is not there (404, 410) has
    // answered: asking again only delays the caller by the retry pauses.
    const bool answered = error == QNetworkReply::ContentNotFoundError || error == QNetworkReply::ContentGoneError;
    if (request.timeCount <= m_maxRetryCount && !answered) {
        qDebug() << "request url " << request.url << "error timecount" << request.timeCount;
        ++request.timeCount;
        request.content.clear();
        QTimer::singleShot(
            DownloadTimings::Current().contentRetryMs, this, [this, index] { PrivateGetContentByUrl(index); });
        return;
    }
    const int code = request.bTimeout ? int(QNetworkReply::TimeoutError) : int(error);
    qDebug() << reply->errorString();
    for (const QNetworkReply::RawHeaderPair &pair : reply->rawHeaderPairs())
        qDebug() << "head" << pair.first << ":" << pair.second;
    const std::function<void(const QString &, int)> callback = request.callback;
    if (callback)
        callback(QString(), code);
    ResetContentRequest(m_contentRequests[index]);
}

void DownloaderManager::ResetContentRequest(ContentRequest &request)
{
    request.content.clear();
    request.timeCount = 0;
    request.url.clear();
    request.postData.clear();
    request.callback = nullptr;
    if (request.timer) {
        request.timer->stop();
        request.timer->deleteLater();
        request.timer = nullptr;
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
// nothing happens (no retry, no time-out of its own).
void FetchImage(QNetworkAccessManager *network, const QUrl &url, std::function<void(const QByteArray &)> onBytes)
{
    QNetworkReply *reply = network->get(BuildContentRequest(url));
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, onBytes] {
        reply->deleteLater();
        if (reply->error() == QNetworkReply::NoError)
            onBytes(reply->readAll());
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
