#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// File-system helpers that every part of the library builds on. Stateless and
// safe to call from any thread. Failures show in the result and in a debug message.
namespace QFileUtils {

// Paths
MORVANIEL_EXPORT QString CombinePath(const QString &a, const QString &b);
MORVANIEL_EXPORT QString GetParentPath(const QString &path);
MORVANIEL_EXPORT QString AbsoluteToRelativePath(const QString &base, const QString &path);
// The external program base in the application folder, spelled as the system
// starts it ("<app>/7z", "<app>/7z.exe" on Windows).
MORVANIEL_EXPORT QString ApplicationProgram(const QString &base);

// Queries
MORVANIEL_EXPORT bool IsFileExist(const QString &path);
MORVANIEL_EXPORT bool IsDirExist(const QString &path);
MORVANIEL_EXPORT bool IsDirEmpty(const QString &path);
MORVANIEL_EXPORT qint64 GetFileSize(const QString &path);
MORVANIEL_EXPORT bool IsIgnoreFile(const QString &path, const QVector<QString> &suffixes);
MORVANIEL_EXPORT bool FileIsUsing(const QString &path);
MORVANIEL_EXPORT void getFileListUnderDir(const QString &dir, QStringList &list);

// Hashes. A file that shrinks while it is hashed yields an empty digest.
MORVANIEL_EXPORT QString GetFileMD5(const QString &path);
MORVANIEL_EXPORT quint32 GetFileCRC32(const QString &path);

// Reading and writing
MORVANIEL_EXPORT QByteArray ReadBytes(const QString &path);
MORVANIEL_EXPORT QString ReadText(const QString &path);
MORVANIEL_EXPORT bool WriteBytes(const QString &path, const QByteArray &bytes);
MORVANIEL_EXPORT void WriteText(const QString &path, const QString &text);
MORVANIEL_EXPORT void WriteUTF8(const QString &path, const QString &text, bool withBom);

// Folders, copies and moves
// True when the folder was absent before the call (not that it exists now).
MORVANIEL_EXPORT bool CreateFolder(const QString &path);
MORVANIEL_EXPORT bool DeleteFileOrFolder(const QString &path);
// Empties a folder but keeps its entry named keepName.
MORVANIEL_EXPORT bool DeleteFileOrFolder(const QString &path, const QString &keepName);
MORVANIEL_EXPORT bool CopyOneFile(const QString &from, const QString &to);
MORVANIEL_EXPORT bool MoveOneFile(const QString &from, const QString &to);
MORVANIEL_EXPORT bool CopyMultiFiles(const QString &fromDir, const QString &toDir);
MORVANIEL_EXPORT bool MoveMultiFiles(const QString &fromDir, const QString &toDir);

MORVANIEL_EXPORT void Test();

} // namespace QFileUtils
