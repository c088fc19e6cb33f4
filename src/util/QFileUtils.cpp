#include "util/QFileUtils.h"

#include "util/FolderGuard.h"
#include "util/Md5.h"
#include "util/Platform.h"

#include <QCoreApplication>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextStream>

#include <new>
#include <zlib.h>

namespace QFileUtils {

namespace {

constexpr qint64 Md5ChunkSize = 256 * 1024;
constexpr qint64 Crc32ChunkSize = 1024 * 1024;

const QDir::Filters VisibleEntries = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot;
const QDir::SortFlags ByName = QDir::Name | QDir::IgnoreCase;

// Paths from Windows hosts and manifests use backslashes; they are separators on
// every platform this library runs on.
QString toSlashes(const QString &path)
{
    QString p = QDir::fromNativeSeparators(path);
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

bool hasSeparator(const QString &path)
{
    return path.contains(QLatin1Char('/')) || path.contains(QLatin1Char('\\'));
}

// Whether two names reach one file: spelled alike once cleaned (letter case
// ignored where the system ignores it), or resolving to the same file through
// links or a differently spelled folder. Copying or moving a file onto itself
// would first remove the destination, which is the source. A destination that
// is itself a link is no name of the source: it is replaced, and removing a
// link never touches what it points to.
bool isSameFile(const QString &from, const QString &to)
{
    using Morvaniel::FolderGuard::ComparablePath;
    if (ComparablePath(from) == ComparablePath(to))
        return true;
    if (QFileInfo(to).isSymLink())
        return false;
    const QString canonical = QFileInfo(from).canonicalFilePath();
    return !canonical.isEmpty() && ComparablePath(canonical) == ComparablePath(QFileInfo(to).canonicalFilePath());
}

// Creates the folder a file is about to be written to. A bare file name has no
// folder of its own to create.
bool ensureParentOf(const QString &filePath)
{
    if (!hasSeparator(filePath))
        return true;
    const QString parent = GetParentPath(filePath);
    return QDir(parent).exists() || QDir().mkpath(parent);
}

} // namespace

QString CombinePath(const QString &a, const QString &b)
{
    QString left = toSlashes(a);
    if (!left.endsWith(QLatin1Char('/')))
        left += QLatin1Char('/');
    QString right = toSlashes(b);
    if (right.startsWith(QLatin1Char('/')))
        right.remove(0, 1);
    return left + right;
}

QString GetParentPath(const QString &path)
{
    QString p = path;
    while (p.endsWith(QLatin1Char('/')) || p.endsWith(QLatin1Char('\\')))
        p.chop(1);
    const int cut = qMax(p.lastIndexOf(QLatin1Char('/')), p.lastIndexOf(QLatin1Char('\\')));
    if (cut < 0)
        return p;
    return p.left(cut + 1);
}

QString AbsoluteToRelativePath(const QString &base, const QString &path)
{
    const QString p = toSlashes(path);
    const int at = p.lastIndexOf(base);
    if (at < 0)
        return p;
    QString rest = p.mid(at + base.size());
    if (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 1);
    return rest;
}

QString ApplicationProgram(const QString &base)
{
    return CombinePath(QCoreApplication::applicationDirPath(),
        QString::fromStdString(Platform::ExecutableFileName(base.toStdString())));
}

bool IsFileExist(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool IsDirExist(const QString &path)
{
    return !path.isEmpty() && QDir(path).exists();
}

bool IsDirEmpty(const QString &path)
{
    const QDir dir(path);
    if (path.isEmpty() || !dir.exists())
        return true;
    return dir.entryList(VisibleEntries).isEmpty();
}

qint64 GetFileSize(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

bool IsIgnoreFile(const QString &path, const QVector<QString> &suffixes)
{
    if (suffixes.isEmpty())
        return false;
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : name.mid(dot + 1);
    return suffixes.contains(suffix);
}

bool FileIsUsing(const QString &path)
{
    if (!QFileInfo::exists(path))
        return false;
    QFile file(path);
    if (file.open(QIODevice::ReadWrite)) {
        file.close();
        return false;
    }
    qDebug() << path << " is using";
    return true;
}

void getFileListUnderDir(const QString &dir, QStringList &list)
{
    const QFileInfoList entries = QDir(dir).entryInfoList(VisibleEntries, ByName);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            getFileListUnderDir(entry.absoluteFilePath(), list);
        else
            list.append(entry.absoluteFilePath());
    }
}

QString GetFileMD5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << path << " open error.";
        return QString();
    }
    const qint64 size = file.size();
    Morvaniel::Md5 hash;
    QByteArray chunk(static_cast<int>(Md5ChunkSize), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(chunk.data(), qMin(Md5ChunkSize, size - done));
        // The file shrank (or the read failed) under us: its digest is unknown.
        if (got <= 0)
            return QString();
        hash.addData(chunk.constData(), got);
        done += got;
    }
    return QString::fromLatin1(hash.result().toHex());
}

quint32 GetFileCRC32(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    QByteArray chunk(static_cast<int>(Crc32ChunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), Crc32ChunkSize);
        if (got <= 0)
            break;
        crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.constData()), static_cast<uInt>(got));
    }
    return static_cast<quint32>(crc);
}

QByteArray ReadBytes(const QString &path)
{
    if (!QFileInfo::exists(path))
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    try {
        return file.readAll();
    } catch (const std::bad_alloc &) {
        qFatal("%s", "ReadBytes(), open file error.");
    }
    return QByteArray();
}

QString ReadText(const QString &path)
{
    const QByteArray bytes = ReadBytes(path);
    if (bytes.isEmpty())
        return QLatin1String("");
    return QString::fromUtf8(bytes);
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    ensureParentOf(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // A full disk may show only when the buffer is flushed or the file closed.
    bool ok = file.write(bytes) == bytes.size();
    ok = file.flush() && ok;
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

void WriteText(const QString &path, const QString &text)
{
    if (text.isEmpty())
        return;
    WriteBytes(path, text.toUtf8());
}

void WriteUTF8(const QString &path, const QString &text, bool withBom)
{
    if (text.isEmpty())
        return;
    ensureParentOf(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    {
        QTextStream stream(&file);
        stream.setCodec("utf-8");
        if (withBom)
            stream << QChar(0xFEFF);
        stream << text;
    }
    file.flush();
    file.close();
}

bool CreateFolder(const QString &path)
{
    if (QFileInfo::exists(path)) {
        qDebug() << path << "exists";
        return false;
    }
    if (!QDir().mkpath(path))
        qDebug() << path << "mkpath failure";
    return true;
}

bool DeleteFileOrFolder(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink())) {
        qDebug() << "DeleteFileOrFolder path" << path << " is empty";
        return false;
    }
    // A link is removed itself; following it would delete what it points to.
    if (info.isFile() || info.isSymLink()) {
        const bool ok = QFile::remove(path);
        qDebug() << "DeleteFileOrFolder file" << path << ok;
        return ok;
    }
    if (info.isDir()) {
        const bool ok = QDir(path).removeRecursively();
        qDebug() << "DeleteFileOrFolder dir" << path << ok;
        return ok;
    }
    return false;
}

bool DeleteFileOrFolder(const QString &path, const QString &keepName)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink())) {
        qDebug() << "DeleteFileOrFolder path" << path << " is empty";
        return false;
    }
    if (info.isFile() || info.isSymLink())
        return DeleteFileOrFolder(path);
    if (!info.isDir())
        return false;
    if (keepName.isEmpty())
        return QDir(path).removeRecursively();
    bool ok = true;
    const QFileInfoList entries = QDir(path).entryInfoList(VisibleEntries, ByName);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName() != keepName)
            ok = DeleteFileOrFolder(entry.absoluteFilePath()) && ok;
    }
    return ok;
}

// The shared steps of CopyOneFile and MoveOneFile before the file itself moves:
// clear the destination and make its folder.
static void prepareDestination(const QString &to)
{
    const QFileInfo info(to);
    if ((info.exists() || info.isSymLink()) && !QFile::remove(to))
        qDebug() << "remove " << to << "failure";
    if (hasSeparator(to)) {
        const QString parent = GetParentPath(to);
        if (!QDir(parent).exists() && !QDir().mkpath(parent))
            qDebug() << "makepath " << parent << "failure";
    }
}

bool CopyOneFile(const QString &fromPath, const QString &toPath)
{
    const QString from = toSlashes(fromPath);
    const QString to = toSlashes(toPath);
    qDebug() << "CopyOneFile " << from << " To " << to;
    if (isSameFile(from, to)) {
        qDebug() << "from is same as to";
        return true;
    }
    if (!QFileInfo::exists(from)) {
        qDebug() << from << " is not exists !";
        return false;
    }
    prepareDestination(to);
    const bool ok = QFile::copy(from, to);
    if (!ok)
        qDebug() << "copy " << from << "to " << to << "failure";
    return ok;
}

bool MoveOneFile(const QString &fromPath, const QString &toPath)
{
    const QString from = toSlashes(fromPath);
    const QString to = toSlashes(toPath);
    qDebug() << "MoveOneFile " << from << " To " << to;
    if (isSameFile(from, to))
        return true;
    if (!QFileInfo::exists(from))
        return false;
    prepareDestination(to);
    const bool ok = QFile::rename(from, to);
    if (!ok)
        qDebug() << "rename failure";
    return ok;
}

// One walk for both the copy and the move of a folder tree.
static bool transferTree(const QString &fromDir, const QString &toDir, bool move)
{
    QDir target(toDir);
    if (!target.exists() && !QDir().mkdir(toDir)) {
        if (move)
            qDebug() << toDir << "not exist or  cannot mkdir ";
        else
            qDebug() << "CopyMultiFiles" << toDir << "not is exist and  cannot create path";
        return false;
    }
    const QFileInfoList entries = QDir(fromDir).entryInfoList(VisibleEntries, ByName);
    for (const QFileInfo &entry : entries) {
        const QString destination = CombinePath(toDir, entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            if (!transferTree(entry.absoluteFilePath(), destination, move))
                return false;
            continue;
        }
        if (QFileInfo::exists(destination))
            QFile::remove(destination);
        if (move) {
            if (!QFile::rename(entry.absoluteFilePath(), destination))
                return false;
        } else if (!QFile::copy(entry.absoluteFilePath(), destination)) {
            qDebug() << "CopyMultiFiles copy" << entry.absoluteFilePath() << "to" << destination;
            return false;
        }
    }
    return true;
}

bool CopyMultiFiles(const QString &fromDir, const QString &toDir)
{
    return transferTree(fromDir, toDir, false);
}

bool MoveMultiFiles(const QString &fromDir, const QString &toDir)
{
    return transferTree(fromDir, toDir, true);
}

void Test()
{
}

} // namespace QFileUtils
