#pragma once

#include "VersionTree.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Writers of the server's line-based documents. Every writer takes its entries
// already sorted and produces UTF-8-ready text with "\n" line ends, so equal
// input gives equal bytes.
namespace Publisher {

// One archive as the guide manifest lists it.
struct GuideLine
{
    QString fromVersion;
    QString toVersion;
    QString path; // relative to the download host
    QString md5;
    qint64 size = 0;
};

// "path|md5|size" per file.
QString fileManifestText(const QVector<TreeFile> &files);

// The "--download_version--" section with one line per archive, then
// "--last_version--" with the newest version.
QString guideManifestText(const QVector<GuideLine> &lines, const QString &lastVersion);

// The three sections of a patch folder's manifest. Deleted folders carry an
// empty MD5 and size 0.
QString patchManifestText(
    const QVector<TreeFile> &deleted, const QVector<TreeFile> &added, const QVector<TreeFile> &patches);

// One archive of a version's full pack and the files it holds.
struct RepairGroup
{
    QString archivePath; // as in the guide manifest; readers take its last section
    QStringList files;
};

// "archive:file|file|..." per archive.
QString repairManifestText(const QVector<RepairGroup> &groups);

} // namespace Publisher
