#include "FileConnection.h"

#include "FileServer.h"
#include "ResponsePlan.h"
#include "SocketReset.h"

#include <QIODevice>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace Http {

namespace {

// Bytes queued in the socket before the pump waits for bytesWritten: keeps
// memory flat when the client reads slowly.
constexpr qint64 kQueueLimit = 256 * 1024;
constexpr qint64 kChunk = 64 * 1024;
constexpr int kMaxHeaderBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// "bytes=a-b,c-,..." (every range "a-b" or "a-"); false for anything else
// (then the whole file is sent). Ranges past the end are left out; none left
// means unsatisfiable (empty list, true).
bool parseRanges(const QByteArray &value, qint64 size, QVector<QPair<qint64, qint64>> &ranges)
{
    ranges.clear();
    if (!value.startsWith("bytes="))
        return false;
    const QList<QByteArray> items = value.mid(6).split(',');
    if (items.size() > 256)
        return false;
    for (const QByteArray &item : items) {
        const QByteArray range = item.trimmed();
        const int dash = range.indexOf('-');
        if (dash <= 0)
            return false;
        bool ok = false;
        const qint64 first = range.left(dash).toLongLong(&ok);
        if (!ok || first < 0)
            return false;
        const QByteArray tail = range.mid(dash + 1);
        qint64 last = size - 1;
        if (!tail.isEmpty()) {
            last = tail.toLongLong(&ok);
            if (!ok || last < first)
                return false;
            last = qMin(last, size - 1);
        }
        if (first < size)
            ranges.append(qMakePair(first, last));
    }
    return true;
}

const QByteArray Boundary = "MORVANIEL_BYTERANGES";

} // namespace

FileConnection::FileConnection(FileServer *server, QTcpSocket *socket)
    : QObject(socket)
    , m_server(server)
    , m_socket(socket)
    , m_paceTimer(new QTimer(this))
{
    m_paceTimer->setSingleShot(true);
    connect(m_paceTimer, &QTimer::timeout, this, &FileConnection::pump);
    connect(socket, &QTcpSocket::readyRead, this, &FileConnection::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &FileConnection::pump);
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &FileConnection::onReadyRead);
}

FileConnection::~FileConnection()
{
    if (m_busy && m_server)
        m_server->responseEnded();
}

void FileConnection::onReadyRead()
{
    m_in.append(m_socket->readAll());
    while (!m_busy && !m_dropping && parseNext()) { }
}

bool FileConnection::parseNext()
{
    const int headerEnd = m_in.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (m_in.size() > kMaxHeaderBytes)
            dropConnection();
        return false;
    }
    const QList<QByteArray> lines = m_in.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    FileServer::Request request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qint64 bodySize = request.headers.value("content-length", "0").toLongLong();
    if (m_in.size() - headerEnd - 4 < bodySize)
        return false;
    request.body = m_in.mid(headerEnd + 4, int(bodySize));
    m_in.remove(0, headerEnd + 4 + int(bodySize));
    request.path = QUrl::fromPercentEncoding(request.target.split('?').value(0));

    m_keepAlive = request.headers.value("connection").toLower() != "close";
    m_busy = true;
    if (!m_server) {
        dropConnection();
        return false;
    }
    m_plan = m_server->registerRequest(request);
    m_method = request.method;
    m_path = request.path;
    m_range = request.headers.value("range");
    const int delayMs = m_plan->delayMs();
    if (delayMs < 0)
        return false; // busy for good: nothing more is read or answered
    if (delayMs > 0)
        QTimer::singleShot(delayMs, this, &FileConnection::respond);
    else
        respond();
    return true;
}

void FileConnection::sendHead(int status, const QByteArray &extraHeaders, qint64 contentLength)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Server: morvaniel-httpserver\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += extraHeaders;
    head += m_keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    m_socket->write(head);
}

void FileConnection::respond()
{
    const bool head = m_method == "HEAD";
    const ResponsePlan::Reply reply = m_plan->reply();
    if (reply.status != 0) {
        sendHead(reply.status, reply.headers, reply.body.size());
        if (!head)
            m_socket->write(reply.body);
        endResponse();
        return;
    }
    if (m_method != "GET" && m_method != "HEAD" && m_method != "POST") {
        sendHead(400, QByteArray(), 0);
        endResponse();
        return;
    }
    m_source = m_server ? m_server->openSource(m_path) : nullptr;
    if (!m_source) {
        const QByteArray body = "not found";
        sendHead(404, "Content-Type: text/plain\r\n", body.size());
        if (!head)
            m_socket->write(body);
        endResponse();
        return;
    }
    const qint64 size = m_source->size();
    int status = 200;
    QByteArray extra = "Accept-Ranges: bytes\r\n";
    QVector<QPair<qint64, qint64>> ranges;
    m_segments.clear();
    if (!m_range.isEmpty() && parseRanges(m_range, size, ranges)) {
        if (ranges.isEmpty()) {
            sendHead(416, "Content-Range: bytes */" + QByteArray::number(size) + "\r\n", 0);
            m_source.reset();
            endResponse();
            return;
        }
        status = 206;
        if (ranges.size() == 1) {
            extra += "Content-Type: application/octet-stream\r\nContent-Range: bytes "
                + QByteArray::number(ranges[0].first) + '-' + QByteArray::number(ranges[0].second) + '/'
                + QByteArray::number(size) + "\r\n";
            m_segments.append(Segment{ QByteArray(), ranges[0].first, ranges[0].second - ranges[0].first + 1 });
        } else {
            // Several ranges: one part each, as RFC 7233 lays them out.
            extra += "Content-Type: multipart/byteranges; boundary=" + Boundary + "\r\n";
            for (const auto &r : qAsConst(ranges)) {
                const QByteArray head = "\r\n--" + Boundary
                    + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes "
                    + QByteArray::number(r.first) + '-' + QByteArray::number(r.second) + '/' + QByteArray::number(size)
                    + "\r\n\r\n";
                m_segments.append(Segment{ head, r.first, r.second - r.first + 1 });
            }
            m_segments.append(Segment{ "\r\n--" + Boundary + "--\r\n", 0, 0 });
        }
    } else {
        extra += "Content-Type: application/octet-stream\r\n";
        m_segments.append(Segment{ QByteArray(), 0, size });
    }
    qint64 length = 0;
    for (const Segment &segment : qAsConst(m_segments))
        length += segment.literal.size() + segment.length;
    sendHead(status, extra, length);
    if (head) {
        m_source.reset();
        m_segments.clear();
        endResponse();
        return;
    }
    m_remaining = length;
    m_sent = 0;
    m_clock.start();
    pump();
}

void FileConnection::pump()
{
    if (!m_source || m_dropping)
        return;
    const ResponsePlan::Pace pace = m_plan->pace(m_sent, m_clock.elapsed());
    qint64 allowed = qMin(m_remaining, pace.budget);
    while (allowed > 0 && m_socket->bytesToWrite() < kQueueLimit && !m_segments.isEmpty()) {
        Segment &segment = m_segments.first();
        QByteArray chunk;
        if (!segment.literal.isEmpty()) {
            chunk = segment.literal.left(int(qMin<qint64>(allowed, segment.literal.size())));
            segment.literal.remove(0, chunk.size());
        } else if (segment.length > 0) {
            if (m_source->pos() != segment.first && !m_source->seek(segment.first)) {
                dropConnection();
                return;
            }
            chunk = m_source->read(qMin(qMin(kChunk, allowed), segment.length));
            if (chunk.isEmpty()) {
                dropConnection(); // the source shrank under us
                return;
            }
            if (m_server)
                m_server->noteSent(m_path, segment.first + chunk.size(), chunk.size());
            segment.first += chunk.size();
            segment.length -= chunk.size();
        }
        if (segment.literal.isEmpty() && segment.length == 0)
            m_segments.removeFirst();
        if (chunk.isEmpty())
            continue;
        m_socket->write(chunk);
        m_sent += chunk.size();
        m_remaining -= chunk.size();
        allowed -= chunk.size();
    }

    if (m_remaining == 0) {
        m_source.reset();
        endResponse();
        return;
    }
    if (allowed > 0)
        return; // the socket's queue is full; bytesWritten calls again
    switch (pace.then) {
    case ResponsePlan::Then::Wait:
        if (!m_paceTimer->isActive())
            m_paceTimer->start(pace.waitMs);
        break;
    case ResponsePlan::Then::Hold:
        break;
    case ResponsePlan::Then::Drop:
    case ResponsePlan::Then::Reset:
        // Let the bytes already promised reach the client, then cut the line.
        if (m_socket->bytesToWrite() == 0) {
            if (pace.then == ResponsePlan::Then::Reset)
                resetConnection();
            else
                dropConnection();
        }
        break;
    }
}

void FileConnection::endResponse()
{
    if (!m_busy)
        return;
    m_busy = false;
    if (m_server)
        m_server->responseEnded();
    if (!m_keepAlive) {
        m_socket->disconnectFromHost();
        return;
    }
    if (!m_in.isEmpty())
        QTimer::singleShot(0, this, &FileConnection::onReadyRead);
}

void FileConnection::abandonResponse()
{
    m_dropping = true;
    m_source.reset();
    m_paceTimer->stop();
    if (m_busy) {
        m_busy = false;
        if (m_server)
            m_server->responseEnded();
    }
}

void FileConnection::resetConnection()
{
    abandonResponse();
    setResetOnClose(m_socket);
    m_socket->abort();
}

void FileConnection::dropConnection()
{
    // A connection cut in the middle of a body: the client sees fewer bytes than
    // Content-Length promised and then the end of the stream.
    abandonResponse();
    m_socket->disconnectFromHost();
    // Whatever the peer still has in flight is refused with a reset.
    QTimer::singleShot(200, m_socket, [socket = m_socket] {
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            setResetOnClose(socket);
            socket->abort();
        }
    });
}

} // namespace Http
