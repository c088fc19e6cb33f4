#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>

class QIODevice;
class QTcpSocket;
class QTimer;

namespace Http {

class FileServer;
class ResponsePlan;

// One accepted connection: parses requests one after another (keep-alive) and
// answers each as the server's plan for it says. A child of its socket.
class FileConnection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FileConnection)

public:
    FileConnection(FileServer *server, QTcpSocket *socket);
    ~FileConnection() override;

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

    QPointer<FileServer> m_server;
    QTcpSocket *m_socket;
    QTimer *m_paceTimer;
    QByteArray m_in;
    bool m_busy = false;
    bool m_keepAlive = true;
    bool m_dropping = false;

    // The request being answered.
    QByteArray m_method;
    QString m_path;
    QByteArray m_range;
    std::unique_ptr<ResponsePlan> m_plan;

    // The body being streamed: literal bytes (the parts' headers of a
    // multipart answer), each followed by a range of the file.
    struct Segment
    {
        QByteArray literal;
        qint64 first = 0;
        qint64 length = 0;
    };
    std::unique_ptr<QIODevice> m_source;
    QVector<Segment> m_segments;
    qint64 m_remaining = 0;
    qint64 m_sent = 0;
    QElapsedTimer m_clock;
};

} // namespace Http
