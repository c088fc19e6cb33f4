#pragma once

// Another program holding a file open, as a running game or a virus scanner
// does, until release() or the holder goes. On POSIX a shell keeps the file on
// a descriptor (the checker finds it under /proc); on Windows a handle that
// shares reading only, which makes any writer's open fail as it does when a
// game runs.

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace TestSupport {

class FileHolder
{
    Q_DISABLE_COPY(FileHolder)

public:
    FileHolder() = default;
    ~FileHolder() { release(); }

    // True once the file is held.
    bool hold(const QString &path)
    {
#ifdef Q_OS_WIN
        m_handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return m_handle != INVALID_HANDLE_VALUE;
#else
        m_process.start(
            QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec sleep 120"), path });
        if (!m_process.waitForStarted(10000))
            return false;
        const QString fd = QStringLiteral("/proc/%1/fd/3").arg(m_process.processId());
        const QString target = QFileInfo(path).canonicalFilePath();
        for (int i = 0; i < 200 && QFileInfo(fd).canonicalFilePath() != target; ++i)
            QTest::qWait(50);
        return QFileInfo(fd).canonicalFilePath() == target;
#endif
    }

    void release()
    {
#ifdef Q_OS_WIN
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
#else
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
#endif
    }

private:
#ifdef Q_OS_WIN
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    QProcess m_process;
#endif
};

} // namespace TestSupport
