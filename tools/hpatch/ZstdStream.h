#pragma once

// zstd streams with a bounded window: the difference coding writes its three
// streams through ZstdWriter and reads them back through ZstdReader, which
// refuses frames that would need a window beyond StreamWindowLog, so a patch
// cannot make the reader allocate more than a few MiB per stream.

#include "HPatch.h"

#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hpatch {

constexpr int StreamWindowLog = 23;

class ZstdReader
{
public:
    ZstdReader() = default;
    ZstdReader(const ZstdReader &) = delete;
    ZstdReader &operator=(const ZstdReader &) = delete;
    ~ZstdReader();

    // Reads the stream held in [data, data + size). False without memory.
    bool open(const unsigned char *data, size_t size);
    // Decodes up to n bytes; 0 at the end of the stream or after a failure.
    size_t readSome(unsigned char *dst, size_t n);
    // Decodes exactly n bytes; false when the stream is damaged or shorter.
    bool read(unsigned char *dst, size_t n);
    // True when the stream ended cleanly: nothing left to decode, no bytes
    // after the last frame.
    bool finish();

    bool failed() const { return !m_error.empty(); }
    bool outOfMemory() const { return m_outOfMemory; }
    const std::string &error() const { return m_error; }

private:
    ZSTD_DCtx *m_ctx = nullptr;
    ZSTD_inBuffer m_in = { nullptr, 0, 0 };
    size_t m_hint = 0;
    std::string m_error;
    bool m_outOfMemory = false;
};

class ZstdWriter
{
public:
    ZstdWriter() = default;
    ZstdWriter(const ZstdWriter &) = delete;
    ZstdWriter &operator=(const ZstdWriter &) = delete;
    ~ZstdWriter();

    // Compresses into fd (at its current position); path names it in messages.
    Result open(int fd, const std::string &path, int level, int windowLog);
    Result write(const unsigned char *data, size_t size);
    Result finish();
    uint64_t compressedSize() const { return m_written; }

private:
    Result drain(ZSTD_EndDirective mode);

    ZSTD_CCtx *m_ctx = nullptr;
    int m_fd = -1;
    std::string m_path;
    std::vector<unsigned char> m_pending;
    std::vector<unsigned char> m_out;
    uint64_t m_written = 0;
};

} // namespace hpatch
