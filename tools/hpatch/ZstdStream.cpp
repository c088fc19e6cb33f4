#include "ZstdStream.h"

#include "FileIo.h"

#include <zstd_errors.h>

#include <algorithm>

namespace hpatch {

namespace {

constexpr size_t PendingSize = size_t(1) << 20;

Result zstdError(size_t ret, const std::string &what)
{
    const int code = ZSTD_getErrorCode(ret) == ZSTD_error_memory_allocation ? OutOfMemory : Failed;
    return failure(code, what + ": " + ZSTD_getErrorName(ret));
}

} // namespace

ZstdReader::~ZstdReader()
{
    ZSTD_freeDCtx(m_ctx);
}

bool ZstdReader::open(const unsigned char *data, size_t size)
{
    if (!m_ctx)
        m_ctx = ZSTD_createDCtx();
    if (!m_ctx)
        return false;
    ZSTD_DCtx_reset(m_ctx, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(m_ctx, ZSTD_d_windowLogMax, StreamWindowLog);
    m_in = { data, size, 0 };
    m_hint = 0;
    m_error.clear();
    m_outOfMemory = false;
    return true;
}

size_t ZstdReader::readSome(unsigned char *dst, size_t n)
{
    if (failed() || n == 0)
        return 0;
    ZSTD_outBuffer o = { dst, n, 0 };
    while (o.pos == 0) {
        if (m_hint == 0 && m_in.pos == m_in.size)
            return 0; // the stream's clean end
        const size_t before = m_in.pos;
        const size_t ret = ZSTD_decompressStream(m_ctx, &o, &m_in);
        if (ZSTD_isError(ret)) {
            m_outOfMemory = ZSTD_getErrorCode(ret) == ZSTD_error_memory_allocation;
            m_error = ZSTD_getErrorName(ret);
            return 0;
        }
        m_hint = ret;
        if (o.pos == 0 && m_in.pos == before) {
            m_error = "a stream ends early";
            return 0;
        }
    }
    return o.pos;
}

bool ZstdReader::read(unsigned char *dst, size_t n)
{
    while (n > 0) {
        const size_t got = readSome(dst, n);
        if (got == 0) {
            if (!failed())
                m_error = "a stream ends early";
            return false;
        }
        dst += got;
        n -= got;
    }
    return true;
}

bool ZstdReader::finish()
{
    unsigned char extra = 0;
    if (readSome(&extra, 1) != 0)
        m_error = "a stream holds more than its segment uses";
    return !failed() && m_hint == 0 && m_in.pos == m_in.size;
}

ZstdWriter::~ZstdWriter()
{
    ZSTD_freeCCtx(m_ctx);
}

Result ZstdWriter::open(int fd, const std::string &path, int level, int windowLog)
{
    m_ctx = ZSTD_createCCtx();
    if (!m_ctx)
        return failure(OutOfMemory, "cannot create a compression context");
    m_fd = fd;
    m_path = path;
    size_t ret = ZSTD_CCtx_setParameter(m_ctx, ZSTD_c_compressionLevel, level);
    if (!ZSTD_isError(ret))
        ret = ZSTD_CCtx_setParameter(m_ctx, ZSTD_c_windowLog, windowLog);
    // A damaged stream shows as such, not only as a wrong result at the end.
    if (!ZSTD_isError(ret))
        ret = ZSTD_CCtx_setParameter(m_ctx, ZSTD_c_checksumFlag, 1);
    if (ZSTD_isError(ret))
        return zstdError(ret, "cannot set up compression");
    m_pending.reserve(PendingSize);
    m_out.resize(ZSTD_CStreamOutSize());
    return {};
}

Result ZstdWriter::write(const unsigned char *data, size_t size)
{
    while (size > 0) {
        const size_t n = std::min(size, PendingSize - m_pending.size());
        m_pending.insert(m_pending.end(), data, data + n);
        data += n;
        size -= n;
        if (m_pending.size() == PendingSize) {
            const Result r = drain(ZSTD_e_continue);
            if (!r.ok())
                return r;
        }
    }
    return {};
}

Result ZstdWriter::finish()
{
    return drain(ZSTD_e_end);
}

Result ZstdWriter::drain(ZSTD_EndDirective mode)
{
    ZSTD_inBuffer in = { m_pending.data(), m_pending.size(), 0 };
    size_t remaining = 0;
    do {
        ZSTD_outBuffer o = { m_out.data(), m_out.size(), 0 };
        remaining = ZSTD_compressStream2(m_ctx, &o, &in, mode);
        if (ZSTD_isError(remaining))
            return zstdError(remaining, "compression failed");
        if (const int err = writeAll(m_fd, m_out.data(), o.pos))
            return errnoFailure(err, "cannot write", m_path);
        m_written += o.pos;
    } while (mode == ZSTD_e_end ? remaining != 0 : in.pos < in.size);
    m_pending.clear();
    return {};
}

} // namespace hpatch
