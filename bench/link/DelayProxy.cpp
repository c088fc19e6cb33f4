// A TCP relay that adds a fixed delay in each direction, so that a loopback
// link has the round-trip time of a real one (netem is not in this kernel).
// Every byte read on one side is written on the other delayMs later; reading
// goes on meanwhile, so the delay adds latency without taking throughput, up
// to a bounded backlog per direction (then the sender waits, as TCP would).
//
//   linkbench-proxy <listen port> <target port> <one-way delay ms>
// Prints "ready" once it listens; runs until killed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t ChunkBytes = 256 * 1024;
constexpr std::size_t MaxBacklog = 32 * 1024 * 1024;

struct Chunk
{
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction of one connection.
class Pipe
{
public:
    Pipe(int from, int to, std::chrono::milliseconds delay)
        : m_from(from)
        , m_to(to)
        , m_delay(delay)
    {
    }

    void run()
    {
        std::thread writer([this] { write(); });
        read();
        writer.join();
    }

private:
    void read()
    {
        for (;;) {
            std::vector<char> bytes(ChunkBytes);
            const ssize_t n = ::recv(m_from, bytes.data(), bytes.size(), 0);
            std::unique_lock<std::mutex> lock(m_mutex);
            if (n <= 0) {
                m_closed = true;
                m_wake.notify_all();
                return;
            }
            bytes.resize(std::size_t(n));
            m_room.wait(lock, [this] { return m_backlog < MaxBacklog || m_broken; });
            if (m_broken)
                return;
            m_backlog += bytes.size();
            m_queue.push_back(Chunk{ Clock::now() + m_delay, std::move(bytes) });
            m_wake.notify_all();
        }
    }

    void write()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_closed; });
            if (m_queue.empty()) {
                ::shutdown(m_to, SHUT_WR);
                return;
            }
            const Clock::time_point due = m_queue.front().due;
            if (Clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            Chunk chunk = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            std::size_t sent = 0;
            bool failed = false;
            while (sent < chunk.bytes.size()) {
                const ssize_t n = ::send(m_to, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    failed = true;
                    break;
                }
                sent += std::size_t(n);
            }
            lock.lock();
            m_backlog -= chunk.bytes.size();
            m_room.notify_all();
            if (failed) {
                m_broken = true;
                ::shutdown(m_from, SHUT_RDWR);
                return;
            }
        }
    }

    int m_from;
    int m_to;
    std::chrono::milliseconds m_delay;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_room;
    std::deque<Chunk> m_queue;
    std::size_t m_backlog = 0;
    bool m_closed = false;
    bool m_broken = false;
};

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void relay(int client, int targetPort, std::chrono::milliseconds delay)
{
    const int server = connectTo(targetPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Pipe up(client, server, delay);
    Pipe down(server, client, delay);
    std::thread t([&up] { up.run(); });
    down.run();
    t.join();
    ::close(client);
    ::close(server);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: linkbench-proxy <listen port> <target port> <one-way delay ms>\n");
        return 2;
    }
    const int listenPort = std::atoi(argv[1]);
    const int targetPort = std::atoi(argv[2]);
    const std::chrono::milliseconds delay(std::atoi(argv[3]));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(listenPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0) {
        std::perror("linkbench-proxy");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
        if (client < 0)
            continue;
        std::thread(relay, client, targetPort, delay).detach();
    }
}
