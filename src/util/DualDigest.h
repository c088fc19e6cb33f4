#pragma once

#include "util/Blake2b.h"
#include "util/Md5.h"

#include <QByteArray>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Morvaniel {

// MD5 and, when asked for, BLAKE2b over the same bytes in one pass. Verifying
// a signed release hashes every archive twice; done one after the other that
// would cost the sum of both, so BLAKE2b runs on a helper thread over the same
// chunk while MD5 runs on the caller's, and each call returns when both are done.
class DualDigest
{
public:
    explicit DualDigest(bool strong);
    ~DualDigest();
    DualDigest(const DualDigest &) = delete;
    DualDigest &operator=(const DualDigest &) = delete;

    void addData(const char *data, qint64 length);
    // Each once, after the last addData.
    QByteArray md5();
    QByteArray blake2b(); // empty when not asked for

private:
    void helperLoop();

    Md5 m_md5;
    std::unique_ptr<Blake2b> m_blake2b;
    std::thread m_helper;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    const char *m_job = nullptr;
    qint64 m_jobLength = 0;
    bool m_jobPending = false;
    bool m_quit = false;
};

} // namespace Morvaniel
