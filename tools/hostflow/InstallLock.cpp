#include "InstallLock.h"

#include <QDir>
#include <QLockFile>

namespace HostFlow {

InstallLock::InstallLock() = default;

InstallLock::~InstallLock()
{
    release();
}

bool InstallLock::acquire(const QString &folder, QString &error, bool &busy)
{
    release();
    busy = false;
    const QString dir = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create the install folder %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    auto lock = std::make_unique<QLockFile>(QDir(dir).filePath(lockFileName()));
    // A run may take hours: only a holder that is gone makes the lock stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        lock->getLockInfo(&pid, &host, &application);
        busy = true;
        error = QStringLiteral("another update is running on %1 (pid %2)")
                    .arg(QDir::toNativeSeparators(dir), QString::number(pid));
    } else {
        error = QStringLiteral("cannot lock the install folder %1").arg(QDir::toNativeSeparators(dir));
    }
    return false;
}

void InstallLock::release()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

} // namespace HostFlow
