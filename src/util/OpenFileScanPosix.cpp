// POSIX side of OpenFileScan: the files every other process holds open, read
// from /proc/<pid>/fd.
#ifndef _WIN32

#include "util/OpenFileScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sys/stat.h>

OpenFileScan OpenFileScan::take()
{
    OpenFileScan scan;
    const QString self = QString::number(QCoreApplication::applicationPid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        // Processes come and go during the walk, and other users' tables may be
        // closed to us: whatever cannot be read is simply not in the snapshot.
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            struct stat st;
            const QByteArray link = QFile::encodeName(fdDir + QLatin1Char('/') + fd);
            if (::stat(link.constData(), &st) == 0 && S_ISREG(st.st_mode))
                scan.m_openFiles.insert(qMakePair(quint64(st.st_dev), quint64(st.st_ino)));
        }
    }
    return scan;
}

bool OpenFileScan::isOpenElsewhere(const QString &path) const
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return m_openFiles.contains(qMakePair(quint64(st.st_dev), quint64(st.st_ino)));
}

#endif
