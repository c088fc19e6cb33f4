#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;

namespace Http {

class ResponsePlan;
class TlsCapableServer;

// A small HTTP/1.1 file server on 127.0.0.1. It serves a root folder,
// in-memory files and generated files (content computed from the offset, so
// gigabytes cost no disk), answers GET, HEAD and POST with Range (206 and
// Content-Range, several ranges as multipart/byteranges, 416 past the end),
// keeps connections alive and can speak TLS.
// Every request is logged. A subclass decides how single requests are answered
// by overriding planResponse().
// Lives on the thread that creates it; move it to a thread of its own before
// listen() when the client would otherwise block the same event loop.
class FileServer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FileServer)

public:
    struct Request
    {
        int index = 0; // order of arrival over the server's life, from 0
        QByteArray method;
        QString path; // decoded path without the query
        QByteArray target; // request target as sent, query included
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    explicit FileServer(QObject *parent = nullptr);
    ~FileServer() override;

    // Listens on 127.0.0.1; port 0 picks a free port.
    bool listen(quint16 port = 0);
    // Stops listening and cuts every open connection, as a server that goes
    // down does; listen(port()) afterwards brings it back on the same port.
    void close();
    // Serve HTTPS with this certificate and key (PEM) from now on; false when
    // the PEM does not parse or Qt has no TLS backend.
    bool setTls(const QByteArray &certificatePem, const QByteArray &privateKeyPem);
    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    QString url(const QString &path) const;

    // Files under folder are served by their relative path; ".." is refused.
    void setRoot(const QString &folder);
    void addFile(const QString &path, const QByteArray &data);
    void addGeneratedFile(const QString &path, qint64 size);
    // The content of generated files: byte i is generatedByte(i).
    static char generatedByte(qint64 offset);
    static QByteArray generatedBytes(qint64 offset, qint64 count);

    QList<Request> requests() const { return m_requests; }
    int requestCount(const QString &path = QString()) const;
    // Responses being sent right now, and the most there ever were at once.
    int activeResponses() const { return m_active; }
    int maxActiveResponses() const { return m_maxActive; }
    void resetStatistics();
    // The highest end offset of body bytes handed to a socket for path over the
    // server's life (0 before any): what a client may have had in flight.
    qint64 sentEnd(const QString &path) const { return m_sentEnd.value(path); }
    qint64 bytesSent() const { return m_bytesSent; }

    // Used by the connections. registerRequest() logs the request and returns
    // the plan for its answer; the request may come back changed by the plan.
    std::unique_ptr<ResponsePlan> registerRequest(Request &request);
    void responseEnded();
    void noteSent(const QString &path, qint64 endOffset, qint64 bytes);
    // An open device positioned at 0 for path, or null when nothing is there.
    std::unique_ptr<QIODevice> openSource(const QString &path) const;

signals:
    void requestReceived(int index);

protected:
    // How to answer request, which is already logged and is served as it
    // stands when this returns: an override may change it (requests() keeps it
    // as it arrived). The default plan serves plainly.
    virtual std::unique_ptr<ResponsePlan> planResponse(Request &request);

private:
    void onNewConnection();

    TlsCapableServer *m_server = nullptr;
    QString m_root;
    QHash<QString, QByteArray> m_files;
    QHash<QString, qint64> m_generated;
    QList<Request> m_requests;
    QHash<QString, qint64> m_sentEnd;
    qint64 m_bytesSent = 0;
    int m_nextIndex = 0;
    int m_active = 0;
    int m_maxActive = 0;
};

} // namespace Http
