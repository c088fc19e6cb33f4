#pragma once

#include "MorvanielGlobal.h"
#include "core/ErrorCode.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;

namespace Morvaniel {

// Fetches one file over HTTP GET and appends it to its local target, continuing
// a partial file with a Range request. It never reads the reply by itself: it
// announces waiting data (ReadyToTransfer) and the manager's rate pump pulls it
// through ReadData, which writes straight to the file. Ends with one
// DownloadResult: 1 complete, 2 network failure, 5 short write.
class downloader : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(downloader)

public:
    // manager and totalReceived belong to the caller and must outlive this object.
    downloader(QObject *parent, QNetworkAccessManager *manager, qint64 *totalReceived);
    ~downloader() override;

    void SetDownloadInfo(const QString &filePath, const QUrl &url, qint64 expectedSize);
    // A piece of a larger file: the local file holds the remote bytes from
    // offset on, expectedSize of them, and the request asks for no more.
    // A server that answers such a request with the whole file (status 200)
    // while offset is past 0 ends the transfer with RangeIgnored.
    void SetPiece(qint64 offset);
    // Requests go through network from now on (it must outlive this object).
    void SetNetwork(QNetworkAccessManager *network) { m_manager = network; }
    QString GetFilePath() const { return m_filePath; }
    bool IsFinished() const;
    qint64 BytesAvailable() const;
    // Reads at most maxBytes (never past the expected size) and writes them.
    qint64 ReadData(qint64 maxBytes);
    // Kept for every reply of this transfer, restarts included; 0 is unbounded.
    void SetReadBufferSize(qint64 size);
    void Stop();

signals:
    void DownloadResult(Morvaniel::ErrorCode code, QString errStr, QString filename);
    void ReadyToTransfer();
    // A whole-file answer to a Range request replaced these bytes of a partial file.
    void BytesDiscarded(qint64 bytes);
    // A piece past the file's start was answered with the whole file.
    void RangeIgnored(QString filename);

public slots:
    void OnFinished();
    void ReStartDownload();
    void OnReadyToTransfer();

private:
    bool AcceptResponse();
    void FailResponse(const QString &reason);
    void ReportNetworkFailure(int networkError, const QString &reason);
    void CheckEndedShort();
    void KeepReceivedBytes();
    void ReleaseReply();
    void CloseFile();
    bool OpenFile(bool truncate);

    qint64 *m_totalReceived;
    QString m_filePath;
    QUrl m_url;
    QFile *m_file = nullptr;
    QPointer<QNetworkReply> m_reply;
    QNetworkAccessManager *m_manager;
    qint64 m_bytesReceived = 0;
    qint64 m_expectedSize = 0;
    qint64 m_sizeAtStart = 0;
    qint64 m_readBufferSize = 0;
    qint64 m_pieceOffset = 0;
    bool m_piece = false;
    bool m_responseChecked = false;
    bool m_reported = false;
    bool m_stopped = false;
    bool m_replyEnded = false; // finished without an error
};

} // namespace Morvaniel
