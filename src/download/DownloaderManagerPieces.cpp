// Large files over several connections: the pieces of a file are transfers
// like any other (the rate pump, the watchdog and the restarts treat them
// alike); what is particular to them is planned, started and joined here.
#include "download/DownloaderManager.h"

#include "download/DownloadTimings.h"
#include "download/Downloader.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTimer>

namespace Morvaniel {

namespace {
constexpr int kMaxTransfers = 5;
// Appended per pass of the event loop: a few milliseconds of disk work.
constexpr qint64 kJoinStepBytes = 8 * 1024 * 1024;
} // namespace

void DownloaderManager::SetSplit(const DownloadSplit &split)
{
    m_split = split;
}

int DownloaderManager::MaxTransfers() const
{
    return qMax(kMaxTransfers, m_split.connections);
}

// Replaces every pending file that is (or was) fetched in pieces by its pieces.
void DownloaderManager::ExpandPieces()
{
    m_pieceGroups.clear();
    m_pieceOwner.clear();
    ++m_joinSerial;
    QList<DownloadFile> expanded;
    // One listing per folder: a patch list may hold thousands of small files.
    QHash<QString, QStringList> pieceNames;
    const auto hasPieces = [&pieceNames](const DownloadFile &file) {
        const QFileInfo info(file.localPath);
        auto names = pieceNames.find(info.path());
        if (names == pieceNames.end())
            names = pieceNames.insert(
                info.path(), QDir(info.path()).entryList({ QStringLiteral("*.piece") }, QDir::Files | QDir::Hidden));
        return !PieceGroup::piecesAmong(*names, info.fileName()).isEmpty();
    };
    for (const DownloadFile &file : qAsConst(m_pending)) {
        const bool refused = m_rangeRefused.contains(file.url);
        const bool large = m_split.connections > 1 && file.size >= 2 * m_split.minPieceBytes;
        if ((refused || !large) && !hasPieces(file)) {
            expanded.append(file);
            continue;
        }
        PieceGroup group = PieceGroup::plan(file, refused ? DownloadSplit() : m_split);
        if (refused && group.split()) {
            // Pieces of an earlier run are worth nothing from this server.
            for (int k = 1; k < group.pieces.size(); ++k)
                group.stale << group.pieces.at(k).path;
            group.pieces.resize(1);
        }
        for (const QString &stale : qAsConst(group.stale))
            QFileUtils::DeleteFileOrFolder(stale);
        if (!group.split()) {
            expanded.append(file);
            continue;
        }
        Logger::LogInfo(
            "Downloader", QString("%1 in %2 pieces").arg(file.localPath, QString::number(group.pieces.size())));
        for (const PieceGroup::Piece &piece : qAsConst(group.pieces)) {
            DownloadFile entry = file;
            entry.localPath = piece.path;
            entry.size = piece.end - piece.offset;
            expanded.append(entry);
            m_pieceOwner.insert(piece.path, file.localPath);
        }
        m_pieceGroups.insert(file.localPath, group);
    }
    m_pending = expanded;
}

void DownloaderManager::SetUpPiece(downloader &transfer, const QString &filePath)
{
    const auto owner = m_pieceOwner.constFind(filePath);
    if (owner == m_pieceOwner.constEnd())
        return;
    const PieceGroup &group = m_pieceGroups[*owner];
    for (int k = 0; k < group.pieces.size(); ++k) {
        if (group.pieces.at(k).path != filePath)
            continue;
        transfer.SetPiece(group.pieces.at(k).offset);
        if (k == 0)
            return;
        // One connection each: a network access manager keeps at most six per server.
        const int lanes = qMax(1, m_split.connections - 1);
        if (m_pieceNetworks.size() < lanes)
            m_pieceNetworks.resize(lanes);
        QPointer<QNetworkAccessManager> &network = m_pieceNetworks[(k - 1) % lanes];
        if (!network)
            network = new QNetworkAccessManager(this);
        transfer.SetNetwork(network);
        return;
    }
}

void DownloaderManager::PieceCompleted(const QString &filePath)
{
    const QString owner = m_pieceOwner.value(filePath);
    if (owner.isEmpty())
        return;
    PieceGroup &group = m_pieceGroups[owner];
    if (--group.unfinished > 0 || group.joining)
        return;
    group.joining = true;
    Logger::LogInfo("Downloader", QString("joining the pieces of %1").arg(owner));
    const quint64 serial = m_joinSerial;
    QTimer::singleShot(0, this, [this, owner, serial] { JoinPieces(owner, serial); });
}

void DownloaderManager::JoinPieces(const QString &file, quint64 serial)
{
    if (bIdle || serial != m_joinSerial)
        return; // paused or ended: the next run goes on from the file's size
    const auto group = m_pieceGroups.find(file);
    if (group == m_pieceGroups.end())
        return;
    QString error;
    if (!group->joinStep(kJoinStepBytes, error)) {
        Logger::LogInfo("WriteThread", error);
        onError(ShortWrite, QString());
        return;
    }
    // Disk work holds off the watchdog like data does.
    m_watchdogTimer->start(DownloadTimings::Current().watchdogMs);
    if (!group->joined()) {
        QTimer::singleShot(0, this, [this, file, serial] { JoinPieces(file, serial); });
        return;
    }
    m_pieceGroups.erase(group);
    StartNextDownload();
}

// The server sends whole files only: the file is fetched in one transfer
// from its size on, and its other pieces go.
void DownloaderManager::OnRangeIgnored(const QString &filePath)
{
    const QString owner = m_pieceOwner.value(filePath);
    if (bIdle || owner.isEmpty() || !m_pieceGroups.contains(owner))
        return;
    const PieceGroup group = m_pieceGroups.take(owner);
    m_rangeRefused.insert(group.whole.url);
    Logger::LogInfo("Downloader", QString("%1 ignores ranges; %2 in one piece").arg(group.whole.url, owner));
    for (int i = downloaderList.size() - 1; i >= 0; --i) {
        const QPointer<downloader> transfer = downloaderList.at(i);
        if (transfer && m_pieceOwner.value(transfer->GetFilePath()) != owner)
            continue;
        if (transfer) {
            transfer->Stop();
            transfer->deleteLater();
        }
        downloaderList.removeAt(i);
    }
    for (int i = m_pending.size() - 1; i >= 0; --i) {
        if (m_pieceOwner.value(m_pending.at(i).localPath) == owner)
            m_pending.removeAt(i);
    }
    qint64 discarded = 0;
    for (int k = 1; k < group.pieces.size(); ++k) {
        discarded += QFileUtils::GetFileSize(group.pieces.at(k).path);
        QFileUtils::DeleteFileOrFolder(group.pieces.at(k).path);
        m_pieceOwner.remove(group.pieces.at(k).path);
    }
    m_pieceOwner.remove(owner);
    OnBytesDiscarded(discarded);
    m_pending.prepend(group.whole);
    StartNextDownload();
}

void DownloaderManager::StopJoining()
{
    ++m_joinSerial;
}

} // namespace Morvaniel
