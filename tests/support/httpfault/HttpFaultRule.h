#pragma once

#include <QByteArray>
#include <QString>

namespace HttpTest {

// How the server misbehaves for one request. A default rule serves the file
// correctly. Fields combine: a delayed, rate-limited 206 that stalls is fine.
struct HttpFaultRule
{
    bool ignoreRange = false; // answer 200 with the whole file even to a Range request
    int status = 0; // non-zero: answer with this status and `body` instead of the file
    QByteArray body;
    QByteArray extraHeaders; // with status: further header lines, each ending in "\r\n"
    QString redirectTo; // non-empty: 302 to this path (or absolute URL)
    qint64 bytesPerSecond = 0; // body rate; 0 = as fast as the socket takes it
    qint64 stallAfter = -1; // stop sending body bytes after this many, keep the connection open
    qint64 resetAfter = -1; // reset the connection (RST) after this many body bytes
    bool hardReset = false; // with resetAfter: RST at once, no orderly close before it
    int headerDelayMs = 0; // wait before the status line
    bool silent = false; // read the request, never answer
};

} // namespace HttpTest
