#include "blocks/TaskScratch.h"

#include <zstd.h>

namespace Morvaniel {

TaskScratch::TaskScratch() = default;

TaskScratch::~TaskScratch()
{
    ZSTD_freeDCtx(m_unpacker);
}

char *TaskScratch::buffer(std::size_t size)
{
    if (m_buffer.size() < size)
        m_buffer.resize(size);
    return m_buffer.data();
}

ZSTD_DCtx_s *TaskScratch::unpacker()
{
    if (!m_unpacker)
        m_unpacker = ZSTD_createDCtx();
    return m_unpacker;
}

} // namespace Morvaniel
