#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace HostFlow {

// One run at a time on an install folder, across processes: a lock file in
// the folder, held for the whole run. A lock whose holder died is taken over.
class InstallLock
{
public:
    InstallLock();
    ~InstallLock();
    InstallLock(const InstallLock &) = delete;
    InstallLock &operator=(const InstallLock &) = delete;

    static QString lockFileName() { return QStringLiteral("morvaniel-install.lock"); }

    // False with error ("another update is running on <folder> (pid N)", or
    // why the folder takes no lock) when another run holds it.
    bool acquire(const QString &folder, QString &error, bool &busy);
    void release();

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace HostFlow
