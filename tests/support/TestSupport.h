#pragma once

// Helpers that several test executables share: files with known content, their
// digests, folder snapshots and a record of every log line. Header-only, so that no test build needs a change.

#include "testdata/TestData.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMap>
#include <QString>
#include <QStringList>

#include <mutex>

namespace TestSupport {

// Whether this Windows program runs under Wine, whose behaviour differs from
// Windows in a few places the tests name.
inline bool runsUnderWine()
{
#ifdef Q_OS_WIN
    return QLibrary::resolve(QStringLiteral("ntdll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Writes bytes to path, creating its folder.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QString md5Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// Every readable file below root (links to files followed), relative path -> content.
inline QMap<QString, QByteArray> treeContent(const QString &root)
{
    QMap<QString, QByteArray> out;
    const QDir dir(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            out.insert(dir.relativeFilePath(path), f.readAll());
    }
    return out;
}

// The paths in which two trees differ (missing, extra or other bytes).
inline QStringList treeDifferences(const QString &expected, const QString &actual)
{
    const QMap<QString, QByteArray> want = treeContent(expected);
    const QMap<QString, QByteArray> have = treeContent(actual);
    QStringList out;
    for (auto it = want.constBegin(); it != want.constEnd(); ++it)
        if (have.value(it.key()) != it.value() || !have.contains(it.key()))
            out << it.key();
    for (auto it = have.constBegin(); it != have.constEnd(); ++it)
        if (!want.contains(it.key()))
            out << QStringLiteral("extra ") + it.key();
    return out;
}

// Every file below from, written to the same place below to.
inline bool copyTree(const QString &from, const QString &to)
{
    const QMap<QString, QByteArray> files = treeContent(from);
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        if (!writeFile(QDir(to).filePath(it.key()), it.value()))
            return false;
    return true;
}

// A program the build puts beside the test executable.
inline QString programPath(const QString &name)
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name + QStringLiteral(".exe");
#else
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
#endif
}

// Content generators, shared with the benchmarks.
using TestData::randomBytes;
using TestData::wordText;

// Every message of the process while installed, so that a test can look for a
// log line. Worker threads log too, so the list is guarded, with a std::mutex
// because ThreadSanitizer sees through it.
class LogRecorder
{
public:
    static void install() { s_previous = qInstallMessageHandler(record); }
    static void uninstall() { qInstallMessageHandler(s_previous); }
    static void clear()
    {
        std::lock_guard<std::mutex> locker(s_lock);
        s_messages.clear();
    }
    // How many recorded messages contain part.
    static int count(const QString &part)
    {
        std::lock_guard<std::mutex> locker(s_lock);
        return s_messages.filter(part).size();
    }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        {
            std::lock_guard<std::mutex> locker(s_lock);
            s_messages.append(text);
        }
        if (s_previous)
            s_previous(type, context, text);
    }

    static inline std::mutex s_lock;
    static inline QStringList s_messages;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace TestSupport
