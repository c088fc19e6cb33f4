#pragma once

// The download area's one test class; its cases live in tst_download.cpp
// (package downloads) and tst_content.cpp (content, image and header requests).
#include "HttpServer.h"

#include "core/GameUpdateContext.h"
#include "download/DownloadCallbackInfo.h"
#include "download/DownloadTimings.h"

#include "../support/DownloadRecorder.h"

#include <QList>
#include <QObject>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class tst_Download : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyListSucceedsAtOnce();
    void failureBeforeAnyDataIsNotRetried();
    void sevenEntriesRunFiveAtATime();
    void resumeAsksForTheRest_data();
    void resumeAsksForTheRest();
    void pauseThenStartOrResume_data();
    void pauseThenStartOrResume();
    void failureAfterDataRestarts_data();
    void failureAfterDataRestarts();
    void fourFailuresWithoutDataGiveCode2();
    void resumeWhileARestartWaits_data();
    void resumeWhileARestartWaits();
    void shortWriteGivesCode5();
    void failureReportCountsTheBytesOnDisk();
    void speedLimit_data();
    void speedLimit();
    void versionPrefixIsInsertedIntoUrl();
    void startNeverEmptiesAClimbingRoot();
    void entriesOfOneLocalFile_data();
    void entriesOfOneLocalFile();
    void stallGivesCode3WithTheRealWatchdog();
    void logLinesKeepPercentSignsOfUrlAndPath();
    void largeFileInPieces_data();
    void largeFileInPieces();

    void contentRetriesThenSucceeds();
    void contentFailures_data();
    void contentFailures();
    void contentPostBodyIsUtf8_data();
    void contentPostBodyIsUtf8();
    void contentWaitReturnsAfterTheAttempt();
    void concurrentContentRequestsKeepTheirOwnResults();
    void timestampRule_data();
    void timestampRule();
    void timestampKeepsPercentEscapes_data();
    void timestampKeepsPercentEscapes();
    void certificateChecksFollowTheSwitch_data();
    void certificateChecksFollowTheSwitch();
    void generatedFilesResumeByteExact();
    void imagesAndHeaders();
    void contentRequestsAreBounded_data();
    void contentRequestsAreBounded();
    void contentAbortEndsEveryRequestOnce();
    void contentBytesAreTheServersOwn();

private:
    Morvaniel::DownloadFile addEntry(const QString &name, const QByteArray &content, const QString &path = QString());
    static QByteArray content(int size, int seed);
    bool waitFinal(int timeoutMs);
    // Durations short enough for retry series to end in seconds.
    static Morvaniel::DownloadTimings shortTimings();
    // Runs a list in a fresh child process (DownloadListChild); its output.
    static QByteArray runChild(const QStringList &args);

    std::unique_ptr<HttpTest::HttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestSupport::DownloadRecorder> m_recorder;
    std::shared_ptr<Morvaniel::GameUpdateContext> m_ctx;
    QString m_cache;
};
