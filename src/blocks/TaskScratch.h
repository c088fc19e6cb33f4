#pragma once

#include <cstddef>
#include <vector>

struct ZSTD_DCtx_s;

namespace Morvaniel {

// The working memory of one pool thread, made when the thread starts and
// freed when it ends: a buffer grown to the largest block it handled, and a
// zstd context. (Not thread_local: the Windows build's thread-local objects
// with destructors are not safe in every toolchain.)
class TaskScratch
{
public:
    TaskScratch();
    ~TaskScratch();
    TaskScratch(const TaskScratch &) = delete;
    TaskScratch &operator=(const TaskScratch &) = delete;

    char *buffer(std::size_t size);
    ZSTD_DCtx_s *unpacker();

private:
    std::vector<char> m_buffer;
    ZSTD_DCtx_s *m_unpacker = nullptr;
};

} // namespace Morvaniel
