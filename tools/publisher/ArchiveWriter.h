#pragma once

#include <QString>
#include <QStringList>

namespace Publisher {

// The 7-Zip program to use: "7z" beside the running program when it is there
// (the folder where the library looks for it too), else the first one on PATH.
// Empty when there is none.
QString findSevenZip();

// Writes a 7z archive of the listed files, taken relative to baseDir and stored
// under those relative paths, so that "7z x -o<dir>" recreates them in <dir>.
// The archive holds no times and no attributes and is made with a fixed thread
// count, so equal input gives equal bytes. The archive appears under
// archivePath only once it is complete. workDir holds the list file.
bool writeArchive(const QString &sevenZip, const QString &baseDir, const QStringList &relativePaths,
    const QString &archivePath, const QString &workDir, int level, QString &error);

} // namespace Publisher
