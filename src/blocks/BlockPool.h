#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Morvaniel {

class TaskScratch;

// The threads that check, unpack and write blocks, so that hashing and disk
// work never hold up the thread that owns the block worker. Urgent tasks (the
// blocks that arrived from the network, whose memory the network waits for)
// run before the others.
class BlockPool
{
public:
    // Runs on a pool thread with that thread's working memory.
    using Task = std::function<void(TaskScratch &)>;

    explicit BlockPool(int threads);
    // Drops what is queued and waits for the running tasks.
    ~BlockPool();
    BlockPool(const BlockPool &) = delete;
    BlockPool &operator=(const BlockPool &) = delete;

    void post(Task task, bool urgent);
    // Drops the queued tasks; returns how many.
    int clearQueued();
    // Blocks until nothing is queued or running.
    void waitIdle();

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Task> m_urgent;
    std::deque<Task> m_normal;
    int m_running = 0;
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

} // namespace Morvaniel
