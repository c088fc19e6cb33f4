#pragma once

#include "MorvanielGlobal.h"

#include <QNetworkRequest>
#include <QString>
#include <QUrl>

namespace Morvaniel {

// The request every content, header and image request is sent with: redirects
// followed, network preferred over cache, certificates checked unless the host
// turned Global::Var::bVerifyPeer off, no compressed body asked for (nothing
// the server sends is inflated).
QNetworkRequest BuildContentRequest(const QUrl &url);

// url with "timestamp=<seconds since 1970 UTC>" added as a query parameter.
QUrl TimestampedUrl(const QString &url);

} // namespace Morvaniel
