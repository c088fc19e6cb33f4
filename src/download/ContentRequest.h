#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;
class QTimer;

namespace Morvaniel {

// One content request of DownloaderManager, kept at a fixed index of its
// content list from GetContentByUrl until the list is cleared. timer, deadline
// and reply are owned by the manager (Qt parent) and released by it.
struct ContentRequest
{
    QString content;
    int timeCount = 0; // retries made so far
    int index = 0;
    QUrl url;
    bool bTimeout = false;
    QString postData; // empty: GET
    std::function<void(const QString &, int)> callback;
    QTimer *timer = nullptr;
    QNetworkReply *reply = nullptr;
    QPointer<QEventLoop> loop;
    bool bRunning = false;
    bool bWait = false;

    // The body as it arrives; decoded only once complete, since a character's
    // bytes may come in two pieces.
    QByteArray body;
    // A reply beyond this many (decoded) bytes ends the request at once.
    qint64 maxBytes = 0;
    // For byte requests: receives the raw body instead of callback's text.
    std::function<void(const QByteArray &, int)> bytesCallback;
    // Single-shot; bounds the whole request, retries included.
    QTimer *deadline = nullptr;
    bool bTooLarge = false;
    bool bDeadlinePassed = false;
    // The address as the caller gave it (no time stamp): what a signed release lists.
    QString source;
    // Tells this request from a later one at the same index, for timers
    // still queued when it ended.
    quint64 serial = 0;
};

// The result code of a content request whose reply grew past its bound.
constexpr int ContentTooLargeCode = 299; // QNetworkReply::UnknownContentError
// The result code of a content request ended by AbortContentRequests.
constexpr int ContentAbortedCode = 5; // QNetworkReply::OperationCanceledError

} // namespace Morvaniel
