#include "blocks/BlockPool.h"

#include "blocks/TaskScratch.h"

namespace Morvaniel {

BlockPool::BlockPool(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { loop(); });
}

BlockPool::~BlockPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_urgent.clear();
        m_normal.clear();
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

void BlockPool::post(Task task, bool urgent)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        (urgent ? m_urgent : m_normal).push_back(std::move(task));
    }
    m_wake.notify_one();
}

int BlockPool::clearQueued()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int n = int(m_urgent.size() + m_normal.size());
    m_urgent.clear();
    m_normal.clear();
    if (m_running == 0)
        m_idle.notify_all();
    return n;
}

void BlockPool::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_running == 0 && m_urgent.empty() && m_normal.empty(); });
}

void BlockPool::loop()
{
    TaskScratch scratch;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_urgent.empty() || !m_normal.empty(); });
        if (m_quit)
            return;
        std::deque<Task> &queue = m_urgent.empty() ? m_normal : m_urgent;
        Task task = std::move(queue.front());
        queue.pop_front();
        ++m_running;
        lock.unlock();
        task(scratch);
        task = nullptr;
        lock.lock();
        --m_running;
        if (m_running == 0 && m_urgent.empty() && m_normal.empty())
            m_idle.notify_all();
    }
}

} // namespace Morvaniel
