#pragma once

// Helpers shared by the patch tests: files from bytes, folder snapshots and
// the immutable attribute (root ignores permission bits, not this flag).

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QString>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace PatchTest {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray randomBytes(quint32 seed, int size)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(gen.generate() & 0xff);
    return bytes;
}

// Every file below dir by relative path, with its content.
inline QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), readFile(path));
    }
    return files;
}

// Sets or clears FS_IMMUTABLE_FL as chattr does. Returns false where the file
// system or the machine does not allow it.
inline bool setImmutable(const QString &path, bool on)
{
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

} // namespace PatchTest
