#include "FileServer.h"

#include "FileConnection.h"
#include "ResponsePlan.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

namespace Http {

// Hands out QSslSocket connections in server mode once a certificate is set.
class TlsCapableServer : public QTcpServer
{
public:
    explicit TlsCapableServer(QObject *parent)
        : QTcpServer(parent)
    {
    }
    QSslCertificate certificate;
    QSslKey key;
    bool tls() const { return !certificate.isNull(); }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!tls()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        // A client that refuses the certificate just goes away.
        connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), socket,
            [socket] { socket->abort(); });
        socket->startServerEncryption();
        addPendingConnection(socket);
    }
};

namespace {

// Read-only random-access device whose bytes are computed from the offset.
class GeneratedDevice : public QIODevice
{
public:
    explicit GeneratedDevice(qint64 size)
        : m_size(size)
    {
    }
    qint64 size() const override { return m_size; }
    bool isSequential() const override { return false; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, m_size - pos());
        if (n <= 0)
            return 0;
        // Within one aligned run of 256 bytes only the low byte of the offset
        // changes, so the rest of the mix is computed once per run: fast enough
        // to feed a loopback benchmark.
        const quint64 start = quint64(pos());
        qint64 i = 0;
        while (i < n) {
            const quint64 o = start + quint64(i);
            const quint64 high = o & ~quint64(0xff);
            const quint8 mix = quint8((high >> 8) ^ (high >> 16) ^ (high >> 24) ^ (high >> 32));
            const qint64 runEnd = qMin<qint64>(n, i + qint64(0x100 - (o & 0xff)));
            for (; i < runEnd; ++i)
                data[i] = char(quint8((quint8(start + quint64(i)) ^ mix) * 31u + 7u));
        }
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_size;
};

QString normalisedPath(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

} // namespace

FileServer::FileServer(QObject *parent)
    : QObject(parent)
    , m_server(new TlsCapableServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FileServer::onNewConnection);
}

FileServer::~FileServer() = default;

bool FileServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void FileServer::close()
{
    m_server->close();
    // Accepted sockets are children of the listening server.
    const QList<QTcpSocket *> sockets = m_server->findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets)
        socket->abort();
}

bool FileServer::setTls(const QByteArray &certificatePem, const QByteArray &privateKeyPem)
{
    if (!QSslSocket::supportsSsl())
        return false;
    const QSslCertificate certificate(certificatePem, QSsl::Pem);
    const QSslKey key(privateKeyPem, QSsl::Rsa, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        return false;
    m_server->certificate = certificate;
    m_server->key = key;
    return true;
}

quint16 FileServer::port() const
{
    return m_server->serverPort();
}

QString FileServer::url(const QString &path) const
{
    const QString scheme = m_server->tls() ? QStringLiteral("https") : QStringLiteral("http");
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme, QString::number(port()), normalisedPath(path));
}

void FileServer::setRoot(const QString &folder)
{
    m_root = folder;
}

void FileServer::addFile(const QString &path, const QByteArray &data)
{
    m_files.insert(normalisedPath(path), data);
}

void FileServer::addGeneratedFile(const QString &path, qint64 size)
{
    m_generated.insert(normalisedPath(path), size);
}

char FileServer::generatedByte(qint64 offset)
{
    // Mixes several bytes of the offset so that a shifted or repeated block
    // never matches the expected content by accident.
    const quint64 o = quint64(offset);
    return char(quint8((o ^ (o >> 8) ^ (o >> 16) ^ (o >> 24) ^ (o >> 32)) * 31u + 7u));
}

QByteArray FileServer::generatedBytes(qint64 offset, qint64 count)
{
    QByteArray out(int(count), Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        out[int(i)] = generatedByte(offset + i);
    return out;
}

int FileServer::requestCount(const QString &path) const
{
    if (path.isEmpty())
        return m_requests.size();
    int n = 0;
    for (const Request &r : m_requests)
        n += r.path == normalisedPath(path) ? 1 : 0;
    return n;
}

void FileServer::resetStatistics()
{
    m_requests.clear();
    m_maxActive = m_active;
}

std::unique_ptr<ResponsePlan> FileServer::registerRequest(Request &request)
{
    request.index = m_nextIndex++;
    m_requests.append(request);
    ++m_active;
    m_maxActive = qMax(m_maxActive, m_active);
    std::unique_ptr<ResponsePlan> plan = planResponse(request);
    emit requestReceived(request.index);
    return plan;
}

std::unique_ptr<ResponsePlan> FileServer::planResponse(Request &)
{
    return std::make_unique<ResponsePlan>();
}

void FileServer::responseEnded()
{
    --m_active;
}

void FileServer::noteSent(const QString &path, qint64 endOffset, qint64 bytes)
{
    qint64 &end = m_sentEnd[path];
    end = qMax(end, endOffset);
    m_bytesSent += bytes;
}

std::unique_ptr<QIODevice> FileServer::openSource(const QString &path) const
{
    std::unique_ptr<QIODevice> device;
    if (m_files.contains(path)) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_files.value(path));
        device = std::move(buffer);
    } else if (m_generated.contains(path)) {
        device = std::make_unique<GeneratedDevice>(m_generated.value(path));
    } else if (!m_root.isEmpty()) {
        // Nothing outside the root is served, whatever the request says.
        const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.contains(QStringLiteral("..")) || parts.isEmpty())
            return nullptr;
        const QString local = QDir(m_root).filePath(parts.join(QLatin1Char('/')));
        if (!QFileInfo(local).isFile())
            return nullptr;
        device = std::make_unique<QFile>(local);
    } else {
        return nullptr;
    }
    if (!device->open(QIODevice::ReadOnly))
        return nullptr;
    return device;
}

void FileServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        new FileConnection(this, socket); // owned by the socket
    }
}

} // namespace Http
