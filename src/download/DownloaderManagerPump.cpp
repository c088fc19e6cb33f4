// The timing side of DownloaderManager: speed limit, rate pump, speed tick,
// watchdog and the restart decision after a network failure.
#include "download/DownloaderManager.h"

#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "download/DownloadTimings.h"
#include "download/Downloader.h"
#include "util/Logger.h"

#include <QDebug>
#include <QTimer>

namespace Morvaniel {

namespace {
constexpr int kPumpDelayMs = 5;
constexpr qint64 kMaxPumpIntervalMs = 1000;
// 4294967295 KiB/s: no limit in practice, yet still a finite budget.
constexpr qint64 kUnlimitedBytesPerSecond = 4398046510080LL;
constexpr int kSpeedWindow = 12;
// Without a limit, the replies share this much buffer. The pump drains a
// reply at most once per pass, 5 ms apart, so a single reply's rate is bounded
// by its buffer per pass: 8 MiB held one connection to half of curl's rate on
// loopback, 16 MiB lets it keep up. Split between the replies, five parallel
// files hold no more than one does.
constexpr qint64 kUnlimitedReadBufferTotal = 16 * 1024 * 1024;
constexpr qint64 kUnlimitedReadBufferMin = 2 * 1024 * 1024;
} // namespace

void DownloaderManager::SetSpeedLimit()
{
    ClearRecordSpeed();
    PrivateSetSpeedLimit();
}

void DownloaderManager::ClearRecordSpeed()
{
    m_speedSamples.clear();
    m_speedRingIndex = 0;
}

void DownloaderManager::PrivateSetSpeedLimit()
{
    const std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    int limit = -1;
    // A limit of 0 would move no data at all while the pump keeps the watchdog
    // quiet: the run would hang for ever. Only a positive limit limits.
    if (ctx && ctx->bGameUpdate && ctx->setting.LimitSpeed > 0)
        limit = ctx->setting.LimitSpeed;
    m_speedLimit = limit;

    // Without a limit the buffer is still bounded: when the disk is slower than
    // the network an unbounded one grows by the difference, to gigabytes.
    int live = 0;
    for (const QPointer<downloader> &transfer : qAsConst(downloaderList))
        live += transfer ? 1 : 0;
    qint64 bufferSize = qMax(kUnlimitedReadBufferMin, kUnlimitedReadBufferTotal / qMax(1, live));
    // Under a limit, up to four seconds of data per reply, so that the socket
    // itself is throttled; a high limit gets no more than an unlimited run,
    // since four seconds at 20 MiB/s alone would hold 80 MiB per reply.
    if (limit > 0)
        bufferSize = qMin(qint64(limit) * 4096, bufferSize);
    for (const QPointer<downloader> &transfer : qAsConst(downloaderList)) {
        if (transfer)
            transfer->SetReadBufferSize(bufferSize);
    }
    Logger::LogInfo("Downloader", QString("limit is %1").arg(m_speedLimit));
}

void DownloaderManager::onReadyRead()
{
    if (bIdle)
        return;
    startDownloadedFlag = true;
    m_retryCount = 0;
    scheduleTransfer();
}

void DownloaderManager::scheduleTransfer()
{
    m_watchdogTimer->stop();
    m_watchdogTimer->start(DownloadTimings::Current().watchdogMs);
    SchedulePumpPass();
}

void DownloaderManager::SchedulePumpPass()
{
    if (!transferScheduled) {
        transferScheduled = true;
        QTimer::singleShot(kPumpDelayMs, this, SLOT(transfer()));
    }
}

void DownloaderManager::transfer()
{
    transferScheduled = false;
    if (bIdle)
        return;

    qint64 interval = kPumpDelayMs;
    qint64 reading = 0;
    if (!m_pumpClock.isValid()) {
        m_pumpClock.start();
    } else {
        reading = m_pumpClock.elapsed();
        interval = qMin(reading - m_lastPumpReading, kMaxPumpIntervalMs);
    }
    m_lastPumpReading = reading;

    qint64 budget = 0;
    if (m_speedLimit == -1)
        budget = interval * kUnlimitedBytesPerSecond / 1000;
    else
        budget = qint64(m_speedLimit) * 1024 * interval / 1000;
    if (budget <= 0) {
        // Two passes within the same millisecond. Nothing moved, so the
        // watchdog keeps counting: only data may hold it off.
        SchedulePumpPass();
        return;
    }

    // A copy: completions and errors raised inside ReadData change downloaderList.
    QVector<QPointer<downloader>> pending;
    for (const QPointer<downloader> &transfer : qAsConst(downloaderList)) {
        if (transfer && transfer->BytesAvailable() > 0)
            pending.append(transfer);
    }

    bool moreData = false;
    do {
        const qint64 chunk = qMax<qint64>(1, budget);
        moreData = false;
        for (int i = 0; i < pending.size() && budget > 0;) {
            const QPointer<downloader> transfer = pending.at(i);
            if (!transfer || transfer->IsFinished()) {
                pending.removeAt(i);
                continue;
            }
            const qint64 n = qMin(transfer->BytesAvailable(), chunk);
            if (n < 1) {
                pending.removeAt(i);
                continue;
            }
            const qint64 got = transfer->ReadData(qMin(n, budget));
            if (got > 0)
                budget -= got;
            if (!transfer || bIdle) {
                pending.removeAt(i);
                continue;
            }
            if (got > 0 && transfer->BytesAvailable() > 0)
                moreData = true;
            ++i;
        }
    } while (moreData && budget > 0 && !bIdle);

    if (bIdle)
        return;
    if (moreData || budget == 0)
        scheduleTransfer();
}

void DownloaderManager::onCalcSpeed()
{
    const qint64 delta = m_totalReceived - m_lastTotalReceived;
    m_lastTotalReceived = m_totalReceived;
    if (bIdle)
        return;

    qint64 sum = delta;
    for (qint64 sample : qAsConst(m_speedSamples))
        sum += sample;
    const qint64 count = 1 + m_speedSamples.size();
    // The window grows to 13 entries; then positions 0..11 rotate.
    if (m_speedSamples.size() <= kSpeedWindow) {
        m_speedSamples.append(delta);
    } else {
        m_speedSamples[m_speedRingIndex] = delta;
        m_speedRingIndex = (m_speedRingIndex + 1) % kSpeedWindow;
    }
    qDebug() << "m_bytesCurrentTotalReceived: " << m_bytesCurrentTotalReceived;

    m_info.speed = sum / count;
    m_bytesCurrentTotalReceived += delta;
    m_info.bError = false;
    m_info.bFinished = false;
    m_info.downloadedSize = m_bytesCurrentTotalReceived;
    m_info.totalSize = m_totalSize;
    m_info.progress = m_totalSize > 0 ? float(double(m_info.downloadedSize) / double(m_totalSize)) : 0.0f;
    if (m_info.speed > 0)
        m_info.remainTime = int((m_info.totalSize - m_info.downloadedSize) / m_info.speed);
    if (m_callback)
        m_callback(m_info);
}

void DownloaderManager::onTimeout()
{
    Logger::LogInfo("Downloader", "error is timeout");
    onError(StallTimeout, QString());
}

} // namespace Morvaniel
