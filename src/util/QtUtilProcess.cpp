// QtUtil: launcher configuration files, processes and disk space.
#include "util/QtUtil.h"

#include "util/Platform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <cstdio>
#include <vector>

namespace QtUtil {

namespace {

// The files come from Windows editors: a byte-order mark must not become part of a value.
QString readUtf8File(QFile &file)
{
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

std::vector<Platform::ProcessEntry> processTable()
{
    std::vector<Platform::ProcessEntry> entries;
    if (!Platform::ListProcesses(entries)) {
        std::fputs("CreateToolhelp32Snapshot()调用失败!\n", stdout);
        std::fflush(stdout);
    }
    return entries;
}

} // namespace

bool GetConfigFileData(const QString &profilePath, const QString &channelArgsPath, QMap<QString, QString> &data)
{
    QFile profileFile(profilePath);
    QFile channelFile(channelArgsPath);
    if (!profileFile.exists() || !channelFile.exists())
        return false;
    if (!profileFile.open(QIODevice::ReadOnly | QIODevice::Text)
        || !channelFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    const QString profile = readUtf8File(profileFile);
    qDebug().noquote().nospace() << "profile " << profile;
    const QStringList parts = profile.split(QLatin1Char('*'));
    if (parts.size() != 5)
        return false;

    QString channelArgs = readUtf8File(channelFile);
    qDebug().noquote() << channelArgs;
    // Compared after trimming: an editor's final line break must not turn the
    // "no arguments" marker into the argument "*".
    if (channelArgs.simplified() == QLatin1String("*")) {
        qDebug() << "no channel args";
        channelArgs.clear();
    }

    data.insert(QStringLiteral("CHANNELARGS"), channelArgs.simplified());
    data.insert(QStringLiteral("LAUNCHER_VERSION"), parts.at(1).simplified());
    data.insert(QStringLiteral("LAUNCHER_CHANNEL"), parts.at(2).simplified());
    data.insert(QStringLiteral("GAME_CHANNEL"), parts.at(3).simplified());
    data.insert(QStringLiteral("INFO_CHANNEL"), parts.at(4).simplified());
    return true;
}

quint32 GetPIDByPathExeName(const QString &exePath)
{
    const std::uint32_t pid = Platform::FindProcessByPath(processTable(), exePath.toStdString());
    if (pid != 0)
        qDebug().noquote().nospace() << "path is " << exePath << " pid " << pid;
    return pid;
}

bool GetProcessFullPathAndCheck(quint32 pid, QString &path)
{
    std::string found;
    if (!Platform::GetProcessImagePath(pid, found))
        return false;
    path = QString::fromStdString(found);
    return true;
}

void KillProcess(const QString &folder, const QString &exeName)
{
    std::vector<Platform::ProcessEntry> entries;
    if (!Platform::ListProcesses(entries) || entries.empty()) {
        qWarning() << "==== Process32First error";
        return;
    }
    // Process images are absolute paths; a relative folder means one below the program's.
    const QString cleanFolder = folder.trimmed().isEmpty()
        ? QString()
        : QDir::cleanPath(
            QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QDir::fromNativeSeparators(folder)));
    Platform::ProcessEntry target;
    if (cleanFolder.isEmpty()
        || !Platform::FindProcessUnderFolder(entries, cleanFolder.toStdString(), exeName.toStdString(), target))
        return;
    qInfo().noquote().nospace() << "kill process " << target.pid;
    if (!Platform::TerminateProcessById(target.pid))
        qWarning().noquote() << QStringLiteral("kill process error:%1 ").arg(QString::fromStdString(target.name));
}

qint64 GetStorage(const QString &path)
{
    // The volume whose root is the longest leading part of the path holds it,
    // whether or not the path exists yet: "D:/Games/new" finds D:, and a folder
    // with a volume mounted on it finds that volume rather than its parent's.
    QString wanted = QDir::fromNativeSeparators(path.trimmed()).toUpper();
    if (wanted.isEmpty())
        return 0;
    if (!wanted.endsWith(QLatin1Char('/')))
        wanted += QLatin1Char('/');
    qint64 available = 0;
    int bestLength = -1;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        QString root = volume.rootPath().toUpper();
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (root.size() > bestLength && wanted.startsWith(root)) {
            bestLength = root.size();
            available = qMax<qint64>(0, volume.bytesAvailable());
        }
    }
    return available;
}

} // namespace QtUtil
