#pragma once

#include "MorvanielGlobal.h"
#include "core/ErrorCode.h"
#include "core/Records.h"
#include "download/ContentRequest.h"
#include "download/DownloadCallbackInfo.h"
#include "download/DownloadPieces.h"
#include "download/DownloadSplit.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVector>

#include <functional>

class QNetworkAccessManager;
class QTimer;

namespace Morvaniel {

class GameUpdateContext;
class downloader;

// The single scheduler of package downloads, and the server of small content
// and image requests. Lives on the GUI thread; everything it does is driven by
// signals, timers and queued calls there. Up to five transfers run at once;
// their bytes reach disk through a rate pump under the speed limit. One
// callback receives progress once a second and exactly one final report.
class MORVANIEL_EXPORT DownloaderManager : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DownloaderManager)

public:
    // Created on first call, parented to the application object.
    static DownloaderManager *GetInstance();
    ~DownloaderManager() override;

    void RegistCallbackFunc(std::function<void(DownloadCallbackInfo &)> fn);
    // A fresh run: empties the download root folder first.
    void StartDownload(GameUpdateContext &ctx);
    void PauseDownload(GameUpdateContext &ctx);
    // Continues partial files with Range requests.
    void ResumeDownload(GameUpdateContext &ctx);
    void StartNextDownload();
    void PreStartDownload(GameUpdateContext &ctx);

    // Re-reads bGameUpdate and LimitSpeed from the current context.
    void SetSpeedLimit();
    // Large files over several connections (DownloadSplit); applies from the
    // next start or resume. Pieces an earlier run left are taken up again
    // whatever the setting.
    void SetSplit(const DownloadSplit &split);

    // Content and image requests: see DownloaderManagerContent.cpp.
    void GetContentByUrl(
        QString url, std::function<void(const QString &, int)> callback, const QString &postData, bool bWait);
    // A GET whose raw body reaches the callback (bytes, 0), or (empty, code) on
    // failure; retries and time-outs as GetContentByUrl. A body past maxBytes
    // (or past the size a signed release lists for url) ends the request with
    // ContentTooLargeCode.
    void GetContentBytesByUrl(QString url, qint64 maxBytes, std::function<void(const QByteArray &, int)> callback);
    // Ends every content request in flight at once, each through its callback
    // with ContentAbortedCode.
    void AbortContentRequests();
    void PrivateGetContentByUrl(int index);
    void ClearContentVector();
    void GetHeaderByUrl(
        QString url, const QSet<QString> &headerNames, std::function<void(const QMap<QString, QString> &)> callback);
    void GetImage(QString url, std::function<void(const QByteArray &)> callback);
    void GetImageByUrl(QString url, std::function<void(const char *, int)> callback);

    int GetCurrentDownloaderListSize() const;

public slots:
    void transfer();
    void scheduleTransfer();

private slots:
    void onTimeout();
    void onCalcSpeed();
    void onReadyRead();
    void onDownloadResult(Morvaniel::ErrorCode code, QString errStr, QString filename);
    void onError(Morvaniel::ErrorCode errorCodem, QString errString = QString());

private:
    explicit DownloaderManager(QObject *parent);

    void CalculateTotalSize(GameUpdateContext &ctx);
    bool RefuseConflictingList();
    void ContinueRun(GameUpdateContext &ctx);
    void PrivateStartRequest(const QUrl &url, const QString &filePath, qint64 size);
    void FinishDownload();
    void ReleaseDownloaderList();
    void ResetAccessible();
    void ClearRecordSpeed();
    void PrivateSetSpeedLimit();
    void SchedulePumpPass();
    void OnRestartTimer();
    void AccountReceivedBytes();
    void OnBytesDiscarded(qint64 bytes);
    void StartContentRequest(const QString &url, ContentRequest &request, qint64 cap);
    void OnContentBytes(ContentRequest &request);
    void OnContentTimeout(int index);
    void OnContentDeadline(int index);
    void EndContentRequest(int index, int code);
    void OnContentFinished(int index, QNetworkReply *reply);
    void ResetContentRequest(ContentRequest &request);
    // Large files: see DownloaderManagerPieces.cpp.
    int MaxTransfers() const;
    void ExpandPieces();
    void SetUpPiece(downloader &transfer, const QString &filePath);
    void PieceCompleted(const QString &filePath);
    void JoinPieces(const QString &file, quint64 serial);
    void OnRangeIgnored(const QString &filePath);
    void StopJoining();

    static DownloaderManager *m_pDownloaderInstance;

    std::function<void(DownloadCallbackInfo &)> m_callback;
    DownloadCallbackInfo m_info;
    QPointer<QNetworkAccessManager> m_network;
    QPointer<QTimer> m_watchdogTimer;
    QPointer<QTimer> m_speedTimer;
    QPointer<QTimer> m_restartTimer;
    bool bIdle = true;
    QUrl m_downloadUrl;
    QString m_filePath;
    QList<DownloadFile> m_pending; // the list without repeated entries
    QString m_conflictingPath; // a file the list gives two contents, or empty
    QString m_unlistedUrl; // with signed releases on: a file the release does not list
    QVector<QPointer<downloader>> downloaderList;
    qint64 m_bytesCurrentTotalReceived = 0;
    QString m_rootFolder;
    bool bReported = false;
    qint64 m_totalReceived = 0;
    qint64 m_lastTotalReceived = 0;
    qint64 m_totalSize = 0;

    // Rate pump, speed window and retries.
    int m_speedLimit = 0; // KiB/s, -1 = none
    QElapsedTimer m_pumpClock;
    qint64 m_lastPumpReading = 0;
    bool transferScheduled = false;
    QVector<qint64> m_speedSamples;
    int m_speedRingIndex = 0;
    bool startDownloadedFlag = false;
    int m_retryCount = 0;
    const int m_maxRetryCount = 3;
    bool m_restartPending = false;

    // Files fetched in pieces, by their local path, and each piece's file.
    DownloadSplit m_split;
    QHash<QString, PieceGroup> m_pieceGroups;
    QHash<QString, QString> m_pieceOwner;
    QSet<QString> m_rangeRefused; // addresses that answered a piece with the whole file
    quint64 m_joinSerial = 0; // a join step of an older run finds it changed
    QVector<QPointer<QNetworkAccessManager>> m_pieceNetworks;

    QList<ContentRequest> m_contentRequests;
    quint64 m_contentSerial = 0;
};

} // namespace Morvaniel
