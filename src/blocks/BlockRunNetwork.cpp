// The network side of BlockRun: ranged requests for bundles over several
// connections, the answers cut into block frames, the watchdog, retries and
// the speed limit.
#include "blocks/BlockRun.h"
#include "blocks/BlockTransfer.h"

#include "download/NetworkRequests.h"
#include "util/Logger.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <limits>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("BlockRun");

// Connections per network access manager: Qt opens at most six to one host
// for each manager.
constexpr int LanesPerManager = 6;
constexpr qint64 ReadChunk = 256 * 1024;
constexpr qint64 UnlimitedBuffer = 2 * 1024 * 1024;
// Fetched frames waiting for the pool; above this the sockets wait instead.
constexpr qint64 MaxUnpackBytes = 64 * 1024 * 1024;
constexpr qint64 StallMs = 30000;
constexpr int MaxFailuresInRow = 8;
// Every request must finish within 60 s plus its bytes at this rate.
constexpr qint64 FloorRate = 64 * 1024;
constexpr qint64 Unlimited = std::numeric_limits<qint64>::max();

} // namespace

void BlockRun::setUpNetwork()
{
    const int lanes = qBound(1, m_setup.job.connections, 32);
    for (int i = 0; i < (lanes + LanesPerManager - 1) / LanesPerManager; ++i)
        m_managers.append(new QNetworkAccessManager(this));
}

int BlockRun::activeTransfers() const
{
    int n = 0;
    for (const auto &t : m_transfers)
        n += t->ended ? 0 : 1;
    return n;
}

void BlockRun::reapTransfers()
{
    m_transfers.erase(std::remove_if(m_transfers.begin(), m_transfers.end(),
                          [](const std::unique_ptr<Transfer> &t) { return t->ended; }),
        m_transfers.end());
}

void BlockRun::regroup()
{
    for (const BundleRequest &r : qAsConst(m_requests))
        for (quint32 b : r.blocks)
            m_extra.insert(b);
    m_requests.clear();
}

void BlockRun::dispatch()
{
    if (m_ending != Running)
        return;
    const qint64 now = m_clock.elapsed();
    if (now < m_retryAtMs) {
        if (!m_dispatchTimed) {
            m_dispatchTimed = true;
            QTimer::singleShot(int(m_retryAtMs - now), this, [this] {
                m_dispatchTimed = false;
                dispatch();
            });
        }
        return;
    }
    const int lanes = qBound(1, m_setup.job.connections, 32);
    while (activeTransfers() < lanes && m_ending == Running) {
        if (m_requests.isEmpty() && !m_extra.isEmpty()) {
            const QVector<quint32> blocks(m_extra.cbegin(), m_extra.cend());
            m_extra.clear();
            for (const BundleRequest &r : GroupBundleRequests(m_target, blocks, m_shape))
                m_requests.append(r);
        }
        if (m_requests.isEmpty())
            break;
        BundleRequest request = m_requests.takeFirst();
        // Only blocks someone still waits for.
        QVector<quint32> wanted;
        for (quint32 b : qAsConst(request.blocks)) {
            m_queued.remove(b);
            if (m_waiting.contains(b) && !m_inFlight.contains(b))
                wanted.append(b);
        }
        if (wanted.isEmpty())
            continue;
        if (wanted.size() != request.blocks.size()) {
            const QVector<BundleRequest> again = GroupBundleRequests(m_target, wanted, m_shape);
            for (int i = again.size() - 1; i >= 0; --i)
                m_requests.prepend(again[i]);
            for (quint32 b : qAsConst(wanted))
                m_queued.insert(b);
            continue;
        }
        startTransfer(request);
    }
}

void BlockRun::startTransfer(const BundleRequest &request)
{
    QString base = m_setup.job.channelUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QLatin1Char('/') + BlockIndex::bundlePath(m_target.bundles[int(request.bundle)].digest));
    QNetworkRequest nr = BuildContentRequest(url);
    nr.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    nr.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QByteArray range = "bytes=";
    for (int i = 0; i < request.ranges.size(); ++i)
        range += (i ? "," : "") + QByteArray::number(request.ranges[i].begin) + '-'
            + QByteArray::number(request.ranges[i].end - 1);
    nr.setRawHeader("Range", range); // the request asks for no encoding: bytes as they lie in the bundle

    auto t = std::make_unique<Transfer>();
    t->request = request;
    for (quint32 b : request.blocks) {
        const IndexBlock &block = m_target.blocks[int(b)];
        Transfer::Frame frame;
        frame.block = b;
        frame.begin = block.bundleOffset;
        frame.end = block.bundleOffset + block.packedSize;
        t->frames.append(frame);
        m_inFlight.insert(b);
        m_queued.remove(b);
    }
    std::sort(t->frames.begin(), t->frames.end(),
        [](const Transfer::Frame &a, const Transfer::Frame &b) { return a.begin < b.begin; });
    t->left = t->frames.size();
    const qint64 now = m_clock.elapsed();
    t->lastDataMs = now;
    const qint64 lanes = qBound(1, m_setup.job.connections, 32);
    const qint64 floor = m_limitBytes > 0 ? qMax<qint64>(1024, m_limitBytes / lanes / 4) : FloorRate;
    t->deadlineMs = now + 60000 + request.bytes() * 1000 / floor;

    QNetworkAccessManager *manager = m_managers[m_nextManager++ % m_managers.size()];
    QNetworkReply *reply = manager->get(nr);
    reply->setReadBufferSize(m_limitBytes > 0 ? qMax<qint64>(64 * 1024, m_limitBytes / lanes) : UnlimitedBuffer);
    t->reply = reply;
    Transfer *raw = t.get();
    connect(reply, &QNetworkReply::readyRead, this, &BlockRun::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, [this, raw] { onTransferFinished(raw); });
    m_transfers.push_back(std::move(t));
}

void BlockRun::onReadyRead()
{
    readTransfers();
}

void BlockRun::readTransfers()
{
    if (m_ending != Running)
        return;
    qint64 budget = Unlimited;
    if (m_limitBytes > 0) {
        const qint64 now = m_clock.elapsed();
        m_tokens = qMin(double(m_limitBytes), m_tokens + double(m_limitBytes) * double(now - m_tokensAtMs) / 1000.0);
        m_tokensAtMs = now;
        budget = qint64(m_tokens);
    }
    const qint64 before = budget;
    bool waiting = false;
    for (std::size_t i = 0; i < m_transfers.size(); ++i) {
        Transfer &t = *m_transfers[i];
        if (!t.ended && !readTransfer(t, budget, false) && t.reply && t.reply->bytesAvailable() > 0)
            waiting = true;
    }
    if (m_limitBytes > 0)
        m_tokens -= double(before - budget);
    reapTransfers();
    // Held back by the limit: look again shortly. Held back by the pool: its results call again.
    if (waiting && budget <= 0 && !m_pumpTimer) {
        m_pumpTimer = new QTimer(this);
        m_pumpTimer->setSingleShot(true);
        connect(m_pumpTimer, &QTimer::timeout, this, [this] {
            m_pumpTimer->deleteLater();
            m_pumpTimer = nullptr;
            readTransfers();
        });
        m_pumpTimer->start(20);
    }
    dispatch();
    maybeComplete();
}

// Reads what the transfer's answer holds, within budget and the pool's
// backlog (force: all of it, when the answer is over). False when it
// stopped with bytes left to read.
bool BlockRun::readTransfer(Transfer &t, qint64 &budget, bool force)
{
    if (!t.reply)
        return true;
    if (!t.begun && !beginTransfer(t))
        return true;
    if (!t.begun)
        return true;
    while (!t.ended && t.reply && t.reply->bytesAvailable() > 0) {
        if (!force && (budget <= 0 || m_unpackBytes >= MaxUnpackBytes)) {
            t.lastDataMs = m_clock.elapsed(); // data is there: not a stall
            return false;
        }
        const qint64 n = qMin(t.reply->bytesAvailable(), force ? ReadChunk : qMin(ReadChunk, budget));
        const QByteArray bytes = t.reply->read(n);
        if (bytes.isEmpty())
            break;
        m_wire += bytes.size();
        budget -= bytes.size();
        t.lastDataMs = m_clock.elapsed();
        QString error;
        const bool ok = t.parser.feed(
            bytes.constData(), bytes.size(),
            [this, &t](qint64 offset, const char *data, qint64 length) { takeBytes(t, offset, data, length); }, error);
        if (!ok) {
            transferFailed(t, error);
            return true;
        }
        if (t.left == 0) {
            // Everything asked for is here: whatever the server still sends is not read.
            endTransfer(t);
            return true;
        }
    }
    return true;
}

bool BlockRun::beginTransfer(Transfer &t)
{
    const QVariant status = t.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false; // no answer yet
    const QVariant length = t.reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 bundleSize = m_target.bundles[int(t.request.bundle)].size;
    const ByteRange first = t.request.ranges.first();
    const ByteRange last = t.request.ranges.last();
    // The parts' own headers and boundaries: a few hundred bytes each at most.
    const qint64 limit = last.end - first.begin + 1024 * t.request.ranges.size() + 4096;
    // A bundle of another length than its index gives is not the one the
    // index was cut from: retrying would only ask it again.
    const qint64 stated = RangeReplyParser::statedFileSize(
        status.toInt(), t.reply->rawHeader("Content-Range"), length.isValid() ? length.toLongLong() : -1);
    if (stated >= 0 && stated != bundleSize) {
        fail(BlockError::Tampered,
            QStringLiteral("%1 is served with %2 bytes, its index gives %3: the server's bundle is damaged or forged")
                .arg(t.reply->url().toString())
                .arg(stated)
                .arg(bundleSize));
        return false;
    }
    QString error;
    if (!t.parser.begin(status.toInt(), t.reply->rawHeader("Content-Type"), t.reply->rawHeader("Content-Range"),
            length.isValid() ? length.toLongLong() : -1, bundleSize, limit, error)) {
        transferFailed(t, QStringLiteral("%1: %2").arg(t.reply->url().toString(), error));
        return false;
    }
    t.begun = true;
    if (t.parser.kind() == RangeReplyParser::Whole && !m_shape.wholeBundle) {
        Logger::LogInfo(Tag,
            QStringLiteral("%1 answered a ranged request with the whole file: one request per bundle from now on")
                .arg(t.reply->url().host()));
        m_shape.wholeBundle = true;
        regroup();
    }
    return true;
}

void BlockRun::takeBytes(Transfer &t, qint64 offset, const char *data, qint64 length)
{
    const qint64 end = offset + length;
    auto it = std::upper_bound(
        t.frames.begin(), t.frames.end(), offset, [](qint64 value, const Transfer::Frame &s) { return value < s.end; });
    for (; it != t.frames.end() && it->begin < end; ++it) {
        Transfer::Frame &s = *it;
        if (s.done)
            continue;
        // A frame fills in order; bytes it already has, or bytes past a gap, are not taken.
        const qint64 at = s.begin + s.filled;
        const qint64 from = qMax(offset, at);
        const qint64 to = qMin(end, s.end);
        if (from != at || to <= from)
            continue;
        if (s.data.isEmpty())
            s.data.resize(int(s.end - s.begin));
        std::memcpy(s.data.data() + s.filled, data + (from - offset), std::size_t(to - from));
        s.filled += to - from;
        if (s.filled == s.end - s.begin)
            blockArrived(t, int(it - t.frames.begin()));
    }
}

void BlockRun::blockArrived(Transfer &t, int frame)
{
    Transfer::Frame &s = t.frames[frame];
    s.done = true;
    --t.left;
    const quint32 block = s.block;
    const IndexBlock &b = m_target.blocks[int(block)];
    QVector<quint32> pieces;
    QVector<BlockTasks::Destination> to;
    for (quint32 number : m_waiting.value(block)) {
        Piece &p = m_pieces[int(number)];
        if (p.state != Piece::Pending)
            continue;
        p.state = Piece::Busy;
        pieces.append(number);
        const FileState &fs = m_fileStates[int(p.planFile)];
        to.append(BlockTasks::Destination{ fs.path, m_target.refs[int(p.ref)].offset, fs.size });
    }
    if (pieces.isEmpty()) {
        m_inFlight.remove(block);
        return;
    }
    const QByteArray packed = std::move(s.data);
    s.data = QByteArray();
    m_unpackBytes += packed.size();
    FileTable *files = m_files.get();
    const BlockDigest digest = b.digest;
    const quint32 size = b.size;
    post(
        [files, packed, size, digest, to, pieces, block](TaskScratch &scratch) {
            Result r;
            r.kind = Result::Block;
            r.id = block;
            r.pieces = pieces;
            r.bytes = packed.size();
            r.outcome = BlockTasks::decode(*files, scratch, packed, size, digest, to);
            return r;
        },
        true);
}

void BlockRun::onBlock(const Result &r)
{
    m_unpackBytes -= r.bytes;
    const quint32 block = r.id;
    m_inFlight.remove(block);
    const IndexBlock &b = m_target.blocks[int(block)];
    if (r.outcome.code == BlockTasks::Outcome::WriteFailed) {
        fail(BlockError::Disk, r.outcome.error);
        return;
    }
    if (r.outcome.code != BlockTasks::Outcome::Ok) {
        for (quint32 number : r.pieces)
            m_pieces[int(number)].state = Piece::Pending;
        const int times = ++m_corrupt[block];
        const QString text = QStringLiteral("block %1 of bundle %2 does not match its digest")
                                 .arg(b.digest.hex(), m_target.bundles[int(b.bundle)].digest.hex());
        if (times >= 2) {
            fail(BlockError::Tampered, text + QStringLiteral(" (twice): the server's bundle is damaged or forged"));
            return;
        }
        Logger::LogWarning(Tag, text + QStringLiteral("; fetching it again"));
        if (!m_queued.contains(block)) {
            m_extra.insert(block);
            m_queued.insert(block);
        }
        return;
    }
    m_failuresInRow = 0;
    m_fetchDone += b.packedSize;
    for (quint32 number : r.pieces)
        pieceDone(number);
    // Pieces that began to wait for the block after it was handed to the pool
    // take it from where it was just written.
    qint64 offset = 0;
    const QString written = pieceTarget(r.pieces.first(), offset);
    for (quint32 number : m_waiting.value(block)) {
        Piece &p = m_pieces[int(number)];
        if (p.state != Piece::Pending)
            continue;
        p.source = PieceSource::Copy;
        p.copyFrom = written;
        p.sourceOffset = offset;
        m_localTotal += b.size;
        m_localQueue.append(number);
    }
    m_waiting.remove(block);
}

void BlockRun::onTransferFinished(Transfer *t)
{
    if (t->ended || m_ending != Running)
        return;
    qint64 budget = Unlimited;
    readTransfer(*t, budget, true);
    if (!t->ended) {
        if (t->left == 0) {
            endTransfer(*t);
        } else {
            const QNetworkReply *reply = t->reply;
            const int status = reply ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
            QString why = reply && reply->error() != QNetworkReply::NoError
                ? reply->errorString()
                : QStringLiteral("the answer ended before its blocks");
            if (status && status != 200 && status != 206)
                why = QStringLiteral("%1 answered %2").arg(reply->url().toString()).arg(status);
            transferFailed(*t, why);
        }
    }
    reapTransfers();
    dispatch();
    maybeComplete();
}

void BlockRun::transferFailed(Transfer &t, const QString &why)
{
    if (t.ended)
        return;
    ++m_failuresInRow;
    m_lastFailure = why;
    Logger::LogWarning(Tag, QStringLiteral("request failed (%1 in a row): %2").arg(m_failuresInRow).arg(why));
    for (const Transfer::Frame &s : qAsConst(t.frames)) {
        if (s.done)
            continue;
        m_inFlight.remove(s.block);
        if (m_waiting.contains(s.block) && !m_queued.contains(s.block)) {
            m_extra.insert(s.block);
            m_queued.insert(s.block);
        }
    }
    endTransfer(t);
    if (m_failuresInRow > MaxFailuresInRow) {
        fail(BlockError::Network, QStringLiteral("the block store cannot be reached: %1").arg(why));
        return;
    }
    m_retryAtMs = m_clock.elapsed() + qMin(1000 * m_failuresInRow, 8000);
}

void BlockRun::endTransfer(Transfer &t)
{
    t.ended = true;
    if (QNetworkReply *reply = t.reply) {
        reply->disconnect(this);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
    t.reply = nullptr;
    t.frames.clear();
}

// Ends every transfer; they are dropped from the list at the next reap, since
// a caller up the stack may hold one.
void BlockRun::abortTransfers()
{
    for (const auto &t : m_transfers)
        if (!t->ended)
            endTransfer(*t);
}

void BlockRun::watchTransfers()
{
    const qint64 now = m_clock.elapsed();
    for (const auto &t : m_transfers) {
        if (t->ended)
            continue;
        if (now - t->lastDataMs > StallMs)
            transferFailed(*t, QStringLiteral("no data for %1 s").arg(StallMs / 1000));
        else if (now > t->deadlineMs)
            transferFailed(*t, QStringLiteral("the request took longer than it may"));
    }
    reapTransfers();
}

void BlockRun::setSpeedLimit(int kib)
{
    m_limitBytes = kib > 0 ? qint64(kib) * 1024 : 0;
    m_tokens = 0;
    m_tokensAtMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    const qint64 lanes = qBound(1, m_setup.job.connections, 32);
    for (const auto &t : m_transfers)
        if (t->reply)
            t->reply->setReadBufferSize(
                m_limitBytes > 0 ? qMax<qint64>(64 * 1024, m_limitBytes / lanes) : UnlimitedBuffer);
    if (m_ending == Running)
        readTransfers();
}

} // namespace Morvaniel
