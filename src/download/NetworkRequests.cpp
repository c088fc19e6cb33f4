#include "download/NetworkRequests.h"

#include "core/Global.h"

#include <QDateTime>
#include <QSslConfiguration>
#include <QSslSocket>

namespace Morvaniel {

QNetworkRequest BuildContentRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setProtocol(QSsl::AnyProtocol);
    // Manifests and announcements decide what gets installed: a forged answer
    // must not be accepted silently.
    ssl.setPeerVerifyMode(Global::Var::bVerifyPeer ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    request.setSslConfiguration(ssl);
    return request;
}

QUrl TimestampedUrl(const QString &url)
{
    const QString format
        = url.contains(QLatin1Char('?')) ? QStringLiteral("%1&timestamp=%2") : QStringLiteral("%1?timestamp=%2");
    return QUrl::fromUserInput(format.arg(url).arg(QDateTime::currentDateTimeUtc().toSecsSinceEpoch()));
}

} // namespace Morvaniel
