#include "VersionTree.h"

#include "util/QFileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

namespace Publisher {

namespace {

bool walk(const QString &root, const QString &relDir, VersionTree &tree, QStringList &warnings, QString &error)
{
    const QString absDir = relDir.isEmpty() ? root : root + QLatin1Char('/') + relDir;
    QDir dir(absDir);
    QStringList names
        = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
    std::sort(names.begin(), names.end());
    for (const QString &name : names) {
        const QString rel = relDir.isEmpty() ? name : relDir + QLatin1Char('/') + name;
        const QFileInfo info(absDir + QLatin1Char('/') + name);
        // Checked first: QFileInfo answers isDir()/isFile() for the link's target.
        if (info.isSymLink()) {
            warnings
                << QStringLiteral("%1: skipped symbolic link %2 (links are never followed)").arg(tree.version, rel);
            continue;
        }
        if (info.isDir()) {
            tree.dirs << rel;
            if (!walk(root, rel, tree, warnings, error))
                return false;
            continue;
        }
        if (!info.isFile()) {
            warnings << QStringLiteral("%1: skipped %2 (not a regular file)").arg(tree.version, rel);
            continue;
        }
        const QString reason = unpublishablePathReason(rel);
        if (!reason.isEmpty()) {
            error = QStringLiteral("%1: cannot publish \"%2\": %3").arg(tree.version, rel, reason);
            return false;
        }
        TreeFile file;
        file.path = rel;
        file.size = info.size();
        file.md5 = QFileUtils::GetFileMD5(info.filePath());
        if (file.md5.isEmpty()) {
            error = QStringLiteral("%1: cannot read \"%2\"").arg(tree.version, rel);
            return false;
        }
        tree.files << file;
    }
    return true;
}

} // namespace

QString unpublishablePathReason(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("empty path");
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("it contains a control character");
        if (QStringLiteral("<>:\"|?*\\").contains(c))
            return QStringLiteral("it contains the character '%1'").arg(c);
        if (c.isSpace() && c != QLatin1Char(' '))
            return QStringLiteral("it contains white space other than a plain blank");
    }
    if (path.contains(QLatin1String("  ")))
        return QStringLiteral("it contains a run of blanks (readers collapse it into one)");
    const QStringList segments = path.split(QLatin1Char('/'));
    for (const QString &segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return QStringLiteral("it has an empty, \".\" or \"..\" segment");
        if (segment.startsWith(QLatin1Char(' ')) || segment.endsWith(QLatin1Char(' '))
            || segment.endsWith(QLatin1Char('.')))
            return QStringLiteral("a name begins or ends with a blank, or ends with a dot");
    }
    return QString();
}

bool scanVersionTree(
    const QString &root, const QString &version, VersionTree &tree, QStringList &warnings, QString &error)
{
    tree = VersionTree();
    tree.version = version;
    tree.root = QDir(root).absolutePath();
    if (!walk(tree.root, QString(), tree, warnings, error))
        return false;
    std::sort(
        tree.files.begin(), tree.files.end(), [](const TreeFile &a, const TreeFile &b) { return a.path < b.path; });
    tree.dirs.sort();

    // Installs live on case-insensitive file systems, where two such paths are one file.
    QHash<QString, QString> seen;
    auto clash = [&](const QString &path) {
        const QString key = path.toLower();
        const auto it = seen.constFind(key);
        if (it != seen.constEnd()) {
            error = QStringLiteral("%1: \"%2\" and \"%3\" differ only in letter case").arg(version, *it, path);
            return true;
        }
        seen.insert(key, path);
        return false;
    };
    for (const QString &dir : qAsConst(tree.dirs))
        if (clash(dir))
            return false;
    for (const TreeFile &file : qAsConst(tree.files))
        if (clash(file.path))
            return false;
    return true;
}

} // namespace Publisher
