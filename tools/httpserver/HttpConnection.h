#pragma once

#include "HttpFaultRule.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>

class QIODevice;
class QTcpSocket;
class QTimer;

namespace HttpTest {

class HttpServer;

// One accepted connection: parses requests one after another (keep-alive) and
// streams each response body under the request's fault rule. A child of its socket.
class HttpConnection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnection)

public:
    HttpConnection(HttpServer *server, QTcpSocket *socket);
    ~HttpConnection() override;

private:
    void onReadyRead();
    bool parseNext();
    void respond();
    void sendHead(int status, const QByteArray &extraHeaders, qint64 contentLength);
    void pump();
    void endResponse();
    void dropConnection();
    void resetConnection();
    void abandonResponse();

    QPointer<HttpServer> m_server;
    QTcpSocket *m_socket;
    QTimer *m_rateTimer;
    QByteArray m_in;
    bool m_busy = false;
    bool m_keepAlive = true;
    bool m_dropping = false;

    // The request being answered.
    QByteArray m_method;
    QString m_path;
    QByteArray m_range;
    HttpFaultRule m_rule;

    // The body being streamed.
    std::unique_ptr<QIODevice> m_source;
    qint64 m_first = 0;
    qint64 m_remaining = 0;
    qint64 m_sent = 0;
    QElapsedTimer m_clock;
};

} // namespace HttpTest
