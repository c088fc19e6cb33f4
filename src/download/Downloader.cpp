#include "download/Downloader.h"

#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <QDebug>
#include <QFile>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace Morvaniel {

namespace {

const QString kFailureText = QStringLiteral("下载失败，请检查网络");
constexpr qint64 kReadPiece = 1024 * 1024;

// Which target files a transfer holds open for writing. Only for diagnostics:
// two transfers on one file are logged, not refused.
QMap<QString, bool> &openFileRegistry()
{
    static QMap<QString, bool> registry;
    return registry;
}

// The error Qt itself gives a reply with this status once the body is in; used
// when a status is refused before Qt has looked at it.
QNetworkReply::NetworkError errorForStatus(int status)
{
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        break;
    }
    if (status >= 400 && status < 500)
        return QNetworkReply::UnknownContentError;
    if (status >= 500 && status < 600)
        return QNetworkReply::UnknownServerError;
    return QNetworkReply::ProtocolFailure;
}

// First byte of "bytes first-last/total", or -1 when the header is malformed.
qint64 contentRangeStart(const QByteArray &header)
{
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes "))
        return -1;
    const int dash = value.indexOf('-');
    if (dash < 0)
        return -1;
    bool ok = false;
    const qint64 first = value.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok ? first : -1;
}

} // namespace

downloader::downloader(QObject *parent, QNetworkAccessManager *manager, qint64 *totalReceived)
    : QObject(parent)
    , m_totalReceived(totalReceived)
    , m_manager(manager)
{
}

downloader::~downloader()
{
    CloseFile();
    ReleaseReply();
}

void downloader::SetDownloadInfo(const QString &filePath, const QUrl &url, qint64 expectedSize)
{
    m_filePath = filePath;
    m_url = url;
    m_expectedSize = expectedSize;
    QFileUtils::CreateFolder(QFileUtils::GetParentPath(filePath));
    m_sizeAtStart = QFileUtils::GetFileSize(filePath);
    m_bytesReceived = 0;
}

void downloader::SetPiece(qint64 offset)
{
    m_piece = true;
    m_pieceOffset = offset;
}

bool downloader::IsFinished() const
{
    return m_sizeAtStart + m_bytesReceived >= m_expectedSize;
}

qint64 downloader::BytesAvailable() const
{
    return m_reply ? m_reply->bytesAvailable() : 0;
}

void downloader::SetReadBufferSize(qint64 size)
{
    m_readBufferSize = size;
    if (m_reply)
        m_reply->setReadBufferSize(size);
}

void downloader::Stop()
{
    m_stopped = true;
    KeepReceivedBytes();
    CloseFile();
    ReleaseReply();
}

void downloader::ReStartDownload()
{
    ReleaseReply();
    CloseFile();
    m_reported = false;
    m_stopped = false;
    m_replyEnded = false;
    m_responseChecked = false;

    if (!QFileUtils::IsFileExist(m_filePath)) {
        Logger::LogInfo("DownloadManager", "file is not exist " + m_filePath);
        m_sizeAtStart = 0;
    } else {
        m_sizeAtStart = QFileUtils::GetFileSize(m_filePath);
    }
    Logger::LogInfo("DownloadManager", QString("we start download %1").arg(m_filePath));

    if (m_sizeAtStart == m_expectedSize) {
        Logger::LogInfo("DownloadManager",
            QString("%1 is downloaded, url is %2 size is %3")
                .arg(m_filePath, m_url.toString(), QString::number(m_sizeAtStart)));
        m_reported = true;
        // Queued, so that a long list of finished files is walked by the event
        // loop one by one instead of by ever deeper recursion through the manager.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_stopped)
                    emit DownloadResult(FileComplete, QString(), m_filePath);
            },
            Qt::QueuedConnection);
        return;
    }

    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (m_piece) {
        // A closed range: the server stops at the piece's end and the connection stays usable.
        request.setRawHeader("Range",
            QStringLiteral("bytes=%1-%2")
                .arg(m_pieceOffset + m_sizeAtStart)
                .arg(m_pieceOffset + m_expectedSize - 1)
                .toLatin1());
    } else {
        request.setRawHeader("Range", QStringLiteral("bytes=%1-").arg(m_sizeAtStart).toLatin1());
    }
    m_bytesReceived = 0;

    Logger::LogInfo("DownloadManager",
        QString("download url is %1, received bytes=%2").arg(m_url.toString(), QString::number(m_sizeAtStart)));
    m_reply = m_manager->get(request);
    // At once: Qt's network thread starts reading as soon as the request is
    // posted, and over a fast link a bound that comes later finds the whole
    // body already buffered, past any speed limit.
    if (m_readBufferSize > 0)
        m_reply->setReadBufferSize(m_readBufferSize);
    qDebug() << "header:" << m_reply->rawHeaderPairs();
    connect(m_reply, &QNetworkReply::finished, this, &downloader::OnFinished);
    connect(m_reply, &QNetworkReply::readyRead, this, &downloader::OnReadyToTransfer);

    OpenFile(false);
}

bool downloader::OpenFile(bool truncate)
{
    CloseFile();
    m_file = new QFile(m_filePath, this);
    // Unbuffered: a full disk must show in the write that hit it, not in a
    // later flush after the bytes were already counted as stored.
    const QIODevice::OpenMode mode
        = QIODevice::WriteOnly | QIODevice::Unbuffered | (truncate ? QIODevice::Truncate : QIODevice::Append);
    const bool opened = m_file->open(mode);
    if (!opened)
        Logger::LogInfo("WriteThread", QString("open %1 failed: %2").arg(m_filePath, m_file->errorString()));

    QMap<QString, bool> &registry = openFileRegistry();
    if (registry.value(m_filePath, false))
        Logger::LogInfo("WriteThread", QString("m_filePath %1 is error").arg(m_filePath));
    else
        registry.insert(m_filePath, true);
    return opened;
}

void downloader::OnReadyToTransfer()
{
    if (!m_responseChecked && !AcceptResponse())
        return;
    emit ReadyToTransfer();
}

// A body is written only where it belongs: a 206 that starts at the size on
// disk, or a 200 (then from byte 0). Anything else - an error page, a redirect
// body, a range that does not match - must not reach the file.
bool downloader::AcceptResponse()
{
    if (!m_reply)
        return false;
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid()) {
        // Not HTTP (a local file or a data URL): there is no status to check.
        m_responseChecked = true;
        return true;
    }
    const int status = statusAttribute.toInt();
    if (status >= 300 && status < 400)
        return false; // a redirect being followed; its body is not ours
    if (status == 206) {
        const qint64 first = contentRangeStart(m_reply->rawHeader("Content-Range"));
        if (first != m_pieceOffset + m_sizeAtStart) {
            FailResponse(
                QString("206 from byte %1 for a file of %2 bytes").arg(first).arg(m_pieceOffset + m_sizeAtStart));
            return false;
        }
        m_responseChecked = true;
        return true;
    }
    if (status == 200) {
        if (m_pieceOffset > 0) {
            // The body starts at byte 0, not at this piece: none of it belongs here.
            Logger::LogInfo("Downloader",
                QString("%1 answered 200 to a request for a piece at %2")
                    .arg(m_url.toString(), QString::number(m_pieceOffset)));
            m_reported = true;
            ReleaseReply();
            emit RangeIgnored(m_filePath);
            return false;
        }
        if (m_sizeAtStart > 0) {
            // The server ignored the Range header: start the file again.
            Logger::LogInfo("Downloader",
                QString("%1 answered 200 to a range request, restarting %2 from 0").arg(m_url.toString(), m_filePath));
            const qint64 discarded = m_sizeAtStart;
            m_sizeAtStart = 0;
            OpenFile(true);
            emit BytesDiscarded(discarded);
        }
        m_responseChecked = true;
        return true;
    }
    FailResponse(QString("status %1").arg(status));
    return false;
}

void downloader::FailResponse(const QString &reason)
{
    const int status = m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
    ReportNetworkFailure(int(errorForStatus(status)), reason);
}

// Ends this request with code 2; the text carries Qt's error number.
void downloader::ReportNetworkFailure(int networkError, const QString &reason)
{
    const QString message = QString("%1 [code:%2]").arg(kFailureText).arg(networkError);
    qDebug() << "timeout errorStr" << message << reason << " >>> " << m_url;
    ReleaseReply();
    if (m_reported)
        return;
    m_reported = true;
    emit DownloadResult(NetworkFailure, message, m_filePath);
}

qint64 downloader::ReadData(qint64 maxBytes)
{
    if (!m_reply || m_reported)
        return 0;
    if (!m_responseChecked && !AcceptResponse())
        return 0;
    qint64 toRead = qMin(maxBytes, m_expectedSize - m_sizeAtStart - m_bytesReceived);
    qint64 total = 0;
    while (toRead > 0 && m_reply) {
        const QByteArray bytes = m_reply->read(qMin(toRead, kReadPiece));
        const qint64 n = bytes.size();
        if (n <= 0)
            break;
        total += n;
        toRead -= n;
        const qint64 written = m_file ? m_file->write(bytes) : -1;
        // Only stored bytes count: a full disk's report must not claim the rest.
        m_bytesReceived += qMax<qint64>(0, written);
        *m_totalReceived += qMax<qint64>(0, written);
        if (written < n) {
            Logger::LogInfo("WriteThread",
                QString("short write to %1: %2 of %3 bytes")
                    .arg(m_filePath, QString::number(written), QString::number(n)));
            m_reported = true;
            emit DownloadResult(ShortWrite, QString(), m_filePath);
            return total;
        }
    }
    if (m_sizeAtStart + m_bytesReceived >= m_expectedSize && !m_reported) {
        if (m_file)
            m_file->flush();
        m_reported = true;
        emit DownloadResult(FileComplete, QString(), m_filePath);
    }
    CheckEndedShort();
    return total;
}

// Qt ends a reply whose read buffer is bounded without an error when the
// server closes the connection early. Once such a reply is drained and the
// file is still short, it is the network failure it really was.
void downloader::CheckEndedShort()
{
    if (!m_replyEnded || m_reported || !m_reply || m_reply->bytesAvailable() > 0 || IsFinished())
        return;
    ReportNetworkFailure(
        int(QNetworkReply::RemoteHostClosedError), QString("body ended at %1").arg(m_sizeAtStart + m_bytesReceived));
}

// A transfer is stopped while its reply may still hold bytes that the pump has
// not moved yet: when another file's failure restarts the run, on pause. They
// are valid bytes of an accepted response, so they go to the file; otherwise
// every restart would fetch them again, and a server that cuts every
// connection early would keep a run busy without ever making progress.
// Nothing is reported from here: the manager is in the middle of stopping.
void downloader::KeepReceivedBytes()
{
    if (!m_reply || m_reported || !m_responseChecked || !m_file)
        return;
    qint64 toRead = qMin(m_reply->bytesAvailable(), m_expectedSize - m_sizeAtStart - m_bytesReceived);
    while (toRead > 0) {
        const QByteArray bytes = m_reply->read(qMin(toRead, kReadPiece));
        if (bytes.isEmpty())
            break;
        const qint64 written = m_file->write(bytes);
        if (written > 0) {
            m_bytesReceived += written;
            *m_totalReceived += written;
        }
        if (written < bytes.size())
            break; // a full disk keeps what fitted; the rest comes again
        toRead -= bytes.size();
    }
}

void downloader::OnFinished()
{
    if (!m_reply)
        return;
    const QNetworkReply::NetworkError error = m_reply->error();
    Logger::LogInfo("Downloader", QString("timeout error code is %1").arg(int(error)));
    if (error == QNetworkReply::OperationCanceledError)
        return;
    if (error == QNetworkReply::NoError) {
        // Completion is reported by ReadData once the expected size is on disk;
        // here only a wrong status without a body still needs refusing, and a
        // body that stopped short must not pass for a finished one.
        m_replyEnded = true;
        if (!m_responseChecked && !AcceptResponse())
            return;
        CheckEndedShort();
        return;
    }
    // Bytes that arrived before the failure are kept: the restart then resumes
    // after them instead of fetching them again.
    if (m_responseChecked && !m_reported)
        ReadData(BytesAvailable());
    if (m_reported) {
        ReleaseReply();
        return;
    }
    ReportNetworkFailure(int(error), QString());
}

void downloader::ReleaseReply()
{
    Logger::LogInfo("DownloaderManager", QString("filePtr<<<<<<<<< %1 :ReleaseReply").arg(m_filePath));
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        // Aborting emits finished at once; this object no longer cares.
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void downloader::CloseFile()
{
    if (!m_file)
        return;
    Logger::LogInfo("WriteThread", QString("filePtr<<<<<<<<< Close >>>>> %1").arg(m_filePath));
    m_file->close();
    m_file->deleteLater();
    m_file = nullptr;
    QMap<QString, bool> &registry = openFileRegistry();
    if (registry.value(m_filePath, false)) {
        registry.insert(m_filePath, false);
    } else {
        registry.insert(m_filePath, false);
        Logger::LogInfo("WriteThread", QString("m_filePath %1 is error value is 0").arg(m_filePath));
    }
}

} // namespace Morvaniel
