#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace Publisher {

// One regular file of a version tree, as the manifests describe it.
struct TreeFile
{
    QString path; // relative, "/"-separated
    QString md5; // lower-case hex
    qint64 size = 0;
};

// The publishable content of one version folder. Files are ordered by plain
// UTF-16 comparison of their paths, the order the manifest parsers keep.
struct VersionTree
{
    QString version;
    QString root;
    QVector<TreeFile> files;
    QStringList dirs; // every real sub-folder, sorted, also the empty ones
};

// Why a relative path cannot be published, or an empty string when it can. The
// manifests are line based with "|" and ":" as separators and every reader
// collapses white space, and the game installs on Windows: a name that would
// not survive one of these would be installed under another name or not at all.
QString unpublishablePathReason(const QString &relativePath);

// Walks root without ever following a symbolic link (a link may point anywhere
// on the publishing machine) and without opening anything but regular files and
// folders. Skipped entries become warnings. Fails on unpublishable names, on two
// paths that differ only in letter case, and on unreadable files.
bool scanVersionTree(
    const QString &root, const QString &version, VersionTree &tree, QStringList &warnings, QString &error);

} // namespace Publisher
