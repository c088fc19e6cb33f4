#pragma once

// Helpers of the host tests: a private application folder for the command-line
// host, a way to run it, nginx on a free loopback port, and tree comparison.

#include "../support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace HostTest {

using TestSupport::treeContent;

using TestSupport::treeDifferences;

// The host keeps config.ini beside its executable. A copy of it in a folder of
// the test's own, with the tools it starts linked beside it, keeps every test
// run away from the config.ini of build/bin.
class CliFolder
{
public:
    // held: 7z and hpatchz are the held tool (tests/support/HeldTool.cpp) in
    // front of the real ones, which MORVANIEL_TEST_HOLD makes wait.
    bool create(const QString &folder, bool held = false)
    {
        const QString bin = QCoreApplication::applicationDirPath();
        m_exe = QDir(folder).filePath(QStringLiteral("morvaniel"));
        if (!QDir().mkpath(folder) || !QFile::copy(QDir(bin).filePath(QStringLiteral("morvaniel")), m_exe))
            return false;
        QFile::setPermissions(m_exe, QFile::permissions(m_exe) | QFile::ExeOwner);
        for (const QString &tool : { QStringLiteral("7z"), QStringLiteral("hpatchz"), QStringLiteral("hdiffz") }) {
            const bool inFront = held && tool != QLatin1String("hdiffz");
            const QString real = QFileInfo(QDir(bin).filePath(tool)).canonicalFilePath();
            if (!QFile::link(real, QDir(folder).filePath(inFront ? QStringLiteral("real-") + tool : tool)))
                return false;
            if (inFront && !QFile::copy(QDir(bin).filePath(QStringLiteral("held_tool")), QDir(folder).filePath(tool)))
                return false;
        }
        return true;
    }
    QString exe() const { return m_exe; }

    // Runs a command to its end (bounded); returns the exit code, -1 when it
    // did not end in time.
    int run(const QStringList &args, QByteArray *output = nullptr, int timeoutMs = 60000,
        QByteArray *errors = nullptr) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        // Nothing this test holds reaches a run that did not ask for it.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("MORVANIEL_TEST_HOLD"));
        p.setProcessEnvironment(env);
        p.start(m_exe, args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (output)
            *output = p.readAllStandardOutput();
        if (errors)
            *errors = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private:
    QString m_exe;
};

// nginx serving root on a free loopback port, with a configuration written
// into a folder of the test's own; stopped with the object.
class Nginx
{
public:
    ~Nginx() { stop(); }

    // Empty when nginx is missing or did not come up; error says why.
    QString start(const QString &root, const QString &folder, QString &error)
    {
        const QString nginx = QStandardPaths::findExecutable(QStringLiteral("nginx"),
            { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin") });
        if (nginx.isEmpty()) {
            error = QStringLiteral("nginx is not installed (./run.sh test installs nginx-light)");
            return QString();
        }
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            error = QStringLiteral("no free loopback port");
            return QString();
        }
        const quint16 port = probe.serverPort();
        probe.close();
        QDir().mkpath(folder + QStringLiteral("/logs"));
        const QString conf = folder + QStringLiteral("/nginx.conf");
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
            // As root, nginx hands the work to "nobody", who may not read a
            // private temporary folder; it keeps root here instead.
#ifdef Q_OS_UNIX
        const QByteArray user = geteuid() == 0 ? "user root;\n" : "";
#else
        const QByteArray user;
#endif
        f.write(user + "daemon off;\npid " + folder.toUtf8() + "/pid;\nerror_log " + folder.toUtf8()
            + "/err.log;\nevents {}\nhttp {\n  access_log off;\n  server {\n    listen 127.0.0.1:"
            + QByteArray::number(port) + ";\n    root " + root.toUtf8() + ";\n  }\n}\n");
        f.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(nginx, { QStringLiteral("-c"), conf, QStringLiteral("-p"), folder });
        for (int i = 0; i < 100; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(100))
                return QStringLiteral("http://127.0.0.1:%1").arg(port);
            if (m_process.state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        error = QStringLiteral("nginx did not start: ") + QString::fromLocal8Bit(m_process.readAll());
        stop();
        return QString();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

} // namespace HostTest
