#include "util/DualDigest.h"

#include <QThread>

namespace Morvaniel {

namespace {

// Below this a hand-over costs more than the hashing it moves.
constexpr qint64 MinParallelLength = 64 * 1024;

} // namespace

DualDigest::DualDigest(bool strong)
{
    if (!strong)
        return;
    m_blake2b.reset(new Blake2b);
    if (QThread::idealThreadCount() > 1)
        m_helper = std::thread([this] { helperLoop(); });
}

DualDigest::~DualDigest()
{
    if (!m_helper.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_helper.join();
}

void DualDigest::helperLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_jobPending; });
        if (m_quit)
            return;
        const char *data = m_job;
        const qint64 length = m_jobLength;
        lock.unlock();
        m_blake2b->addData(data, length);
        lock.lock();
        m_jobPending = false;
        m_wake.notify_all();
    }
}

void DualDigest::addData(const char *data, qint64 length)
{
    if (!m_blake2b) {
        m_md5.addData(data, length);
        return;
    }
    if (!m_helper.joinable() || length < MinParallelLength) {
        m_blake2b->addData(data, length);
        m_md5.addData(data, length);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_job = data;
        m_jobLength = length;
        m_jobPending = true;
    }
    m_wake.notify_all();
    m_md5.addData(data, length);
    // The caller may reuse its buffer once this returns.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_jobPending; });
}

QByteArray DualDigest::md5()
{
    return m_md5.result();
}

QByteArray DualDigest::blake2b()
{
    return m_blake2b ? m_blake2b->result() : QByteArray();
}

} // namespace Morvaniel
