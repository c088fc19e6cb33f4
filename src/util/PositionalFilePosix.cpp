// POSIX side of PositionalFile: pread, pwrite, ftruncate, fdatasync, rename.
#ifndef _WIN32

#include "util/PositionalFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Morvaniel {

namespace {

bool fail(PositionalFile::Error &error, const QString &what, const QString &path)
{
    const int err = errno;
    error.diskFull = err == ENOSPC || err == EFBIG || err == EDQUOT;
    error.text = QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err)));
    return false;
}

} // namespace

PositionalFile::~PositionalFile()
{
    close();
}

bool PositionalFile::open(const QString &path, Mode mode, Error &error)
{
    close();
    m_path = path;
    const int flags = (mode == ReadOnly ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC;
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(error, QStringLiteral("cannot open"), path);
    m_handle = fd;
    return true;
}

void PositionalFile::close()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

bool PositionalFile::isOpen() const
{
    return m_handle >= 0;
}

bool PositionalFile::readAt(qint64 offset, void *data, qint64 length, Error &error) const
{
    char *p = static_cast<char *>(data);
    while (length > 0) {
        const ssize_t n = ::pread(int(m_handle), p, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(error, QStringLiteral("cannot read"), m_path);
        if (n == 0) {
            error.diskFull = false;
            error.text = QStringLiteral("cannot read %1: it ends before offset %2").arg(m_path).arg(offset);
            return false;
        }
        p += n;
        offset += n;
        length -= n;
    }
    return true;
}

bool PositionalFile::writeAt(qint64 offset, const void *data, qint64 length, Error &error)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(int(m_handle), p, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return fail(error, QStringLiteral("cannot write"), m_path);
        }
        p += n;
        offset += n;
        length -= n;
    }
    return true;
}

bool PositionalFile::resize(qint64 size, Error &error)
{
    int r;
    do
        r = ::ftruncate(int(m_handle), off_t(size));
    while (r < 0 && errno == EINTR);
    return r == 0 || fail(error, QStringLiteral("cannot resize"), m_path);
}

qint64 PositionalFile::size() const
{
    struct stat st;
    return ::fstat(int(m_handle), &st) == 0 ? qint64(st.st_size) : -1;
}

bool PositionalFile::sync(Error &error)
{
    int r;
    do
        r = ::fdatasync(int(m_handle));
    while (r < 0 && errno == EINTR);
    return r == 0 || fail(error, QStringLiteral("cannot flush"), m_path);
}

bool PositionalFile::replace(const QString &source, const QString &target, Error &error)
{
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    return fail(error, QStringLiteral("cannot move %1 to").arg(source), target);
}

} // namespace Morvaniel

#endif
