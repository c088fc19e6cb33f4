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
    // Qt inflates a compressed body by itself, a whole received chunk at a
    // time: a few KiB on the wire can become gigabytes before a bound is
    // checked. Asked for no encoding, it hands over the body as sent.
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

QUrl TimestampedUrl(const QString &url)
{
    // Concatenated, not formatted: a URL's percent escapes ("%2F", "%1A") are
    // no placeholders and must reach the server as they are.
    const QString separator
        = url.contains(QLatin1Char('?')) ? QStringLiteral("&timestamp=") : QStringLiteral("?timestamp=");
    return QUrl::fromUserInput(url + separator + QString::number(QDateTime::currentDateTimeUtc().toSecsSinceEpoch()));
}

} // namespace Morvaniel
