#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;
class QTimer;

namespace Morvaniel {

// One content request of DownloaderManager, kept at a fixed index of its
// content list from GetContentByUrl until the list is cleared. timer and reply
// are owned by the manager (Qt parent) and released by it.
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
};

} // namespace Morvaniel
