#pragma once

// The immutable attribute, as chattr +i sets it: the one way to make a file
// undeletable for root, who ignores permission bits.

#include <QFile>
#include <QString>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace TestSupport {

// Sets or clears FS_IMMUTABLE_FL as chattr does. Returns false where the file
// system or the machine does not allow it.
inline bool setImmutable(const QString &path, bool on)
{
#ifndef Q_OS_LINUX
    Q_UNUSED(path)
    Q_UNUSED(on)
    return false; // the attribute is ext4's
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
#endif
}

// Clears the flag again whatever way the test ends.
class ImmutableGuard
{
public:
    explicit ImmutableGuard(const QString &path)
        : m_path(path)
        , m_ok(setImmutable(path, true))
    {
    }
    ~ImmutableGuard()
    {
        if (m_ok)
            setImmutable(m_path, false);
    }
    ImmutableGuard(const ImmutableGuard &) = delete;
    ImmutableGuard &operator=(const ImmutableGuard &) = delete;
    bool ok() const { return m_ok; }

private:
    QString m_path;
    bool m_ok;
};

} // namespace TestSupport
