#include "util/Logger.h"

#include "util/QFileUtils.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <mutex>

namespace Logger {

namespace {

const bool *g_switch = nullptr;
QtMessageHandler g_previousHandler = nullptr;
bool g_previousStored = false;
QString g_logStamp;
QString g_logPath;
QString g_customLogPath;

// Set while this thread runs the handler: a message raised from inside it
// (a file helper's debug line during preparation) must not come back in and
// wait on the write lock this thread already holds.
thread_local bool t_inHandler = false;

// A standard mutex rather than QMutex: the thread sanitizer sees its locking,
// so the test runs under it check the logger for real.
std::mutex &writeLock()
{
    static std::mutex lock;
    return lock;
}

QString typePrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug/");
    case QtWarningMsg:
        return QStringLiteral("Warning/");
    case QtCriticalMsg:
        return QStringLiteral("Critical/");
    case QtFatalMsg:
        return QStringLiteral("Fatal/");
    case QtInfoMsg:
        return QStringLiteral("Info/");
    }
    return QString();
}

QString position(const QMessageLogContext &context)
{
    QString file = QString::fromLocal8Bit(context.file);
    const int cut = file.lastIndexOf(QLatin1Char('\\'));
    if (cut >= 0)
        file = file.mid(cut + 1);
    // Concatenated: a "%" in the file name must not take the line number's place.
    return file + QLatin1Char('(') + QString::number(context.line) + QLatin1Char(')');
}

// Runs once per process, under the write lock: archives the previous log and
// gives the custom log a clean place.
void prepareLogFiles()
{
    const QDateTime now = QDateTime::currentDateTime();
    g_logStamp = now.toString(QStringLiteral("yyyyMMddhhmm"));
    QDir logDir(QStringLiteral("log"));
    if (!logDir.exists())
        QDir().mkpath(QStringLiteral("log"));
    const QString logFolder = logDir.absolutePath();
    g_logPath = QFileUtils::CombinePath(logFolder, QStringLiteral("launcher.log"));
    if (QFile::exists(g_logPath))
        QFile::rename(g_logPath,
            QFileUtils::CombinePath(logFolder, QStringLiteral("log_") + g_logStamp + QStringLiteral(".log")));
    g_customLogPath = QStringLiteral("ZRD64/CSLog/customLog.txt");
    QFileUtils::CreateFolder(QStringLiteral("ZRD64/CSLog/"));
    if (QFile::exists(g_customLogPath))
        QFile::remove(g_customLogPath);
}

void LogMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (t_inHandler) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    if (!g_switch || !*g_switch)
        return;
    t_inHandler = true;
    if (g_previousHandler)
        g_previousHandler(type, context, message);

    {
        std::lock_guard<std::mutex> locker(writeLock());
        const QString time = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd hh:mm:ss.zzz"));
        const QString line = QStringLiteral("%1: %2%3: %4").arg(time, typePrefix(type), position(context), message);
        if (g_logStamp.isEmpty())
            prepareLogFiles();
        QFile file(g_logPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            QTextStream stream(&file);
            // Fixed to UTF-8 so that the Chinese texts read back the same on every system.
            stream.setCodec("UTF-8");
            stream << line << "\r\n";
            stream.flush();
            file.close();
        }
    }
    t_inHandler = false;
}

void logTagged(const QString &tag, const QString &text)
{
    QMessageLogger(nullptr, 0, nullptr).debug() << QStringLiteral("[%1]:%2").arg(tag, text) << Qt::endl;
}

} // namespace

void LogInfo(const QString &tag, const QString &text)
{
    logTagged(tag, text);
}

void LogDebug(const QString &tag, const QString &text)
{
    logTagged(tag, text);
}

void LogWarning(const QString &tag, const QString &text)
{
    logTagged(tag, text);
}

void LogCritical(const QString &tag, const QString &text)
{
    logTagged(tag, text);
}

void LogFatal(const QString &tag, const QString &text)
{
    const QByteArray message = QStringLiteral("[%1]:%2").arg(tag, text).toLatin1();
    QMessageLogger(nullptr, 0, nullptr).fatal("%s", message.constData());
}

void FollowSwitch(const bool *on)
{
    g_switch = on;
}

void LogToFile(bool on)
{
    if (!on) {
        qInstallMessageHandler(nullptr);
        return;
    }
    const QtMessageHandler replaced = qInstallMessageHandler(LogMessageHandler);
    if (!g_previousStored) {
        g_previousHandler = replaced;
        g_previousStored = true;
    }
}

} // namespace Logger
