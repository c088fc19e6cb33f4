#include "TreeCompare.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

namespace {

QSet<QString> filesUnder(const QString &root)
{
    QSet<QString> files;
    const QDir dir(root);
    QDirIterator walk(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext())
        files.insert(dir.relativeFilePath(walk.next()));
    return files;
}

bool sameBytes(const QString &a, const QString &b)
{
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

} // namespace

QString TreeDifference::describe() const
{
    QStringList parts;
    if (!differing.isEmpty())
        parts << QStringLiteral("differ: ") + differing.join(QStringLiteral(", "));
    if (!onlyInExpected.isEmpty())
        parts << QStringLiteral("missing: ") + onlyInExpected.join(QStringLiteral(", "));
    if (!onlyInActual.isEmpty())
        parts << QStringLiteral("extra: ") + onlyInActual.join(QStringLiteral(", "));
    return parts.isEmpty() ? QStringLiteral("%1 files identical").arg(filesCompared) : parts.join(QStringLiteral("; "));
}

TreeDifference compareTrees(const QString &expected, const QString &actual)
{
    TreeDifference d;
    const QSet<QString> want = filesUnder(expected);
    const QSet<QString> have = filesUnder(actual);
    for (const QString &path : want) {
        if (!have.contains(path)) {
            d.onlyInExpected << path;
            continue;
        }
        ++d.filesCompared;
        if (!sameBytes(QDir(expected).filePath(path), QDir(actual).filePath(path)))
            d.differing << path;
    }
    for (const QString &path : have)
        if (!want.contains(path))
            d.onlyInActual << path;
    d.onlyInExpected.sort();
    d.onlyInActual.sort();
    d.differing.sort();
    return d;
}
