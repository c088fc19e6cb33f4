#include "manifest/ManifestPathCheck.h"

#include <QRegularExpression>
#include <QVector>

namespace Morvaniel {

bool IsSafeManifestPath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return false;
    // A colon makes a drive letter ("C:x" is relative to C:'s current folder)
    // or an alternate data stream on Windows.
    if (path.contains(QLatin1Char(':')))
        return false;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    int named = 0;
    const QStringList segments = path.split(separators);
    for (const QString &segment : segments) {
        // Windows drops trailing dots and blanks, so "..." and ".. " climb too.
        QString trimmed = segment;
        while (trimmed.endsWith(QLatin1Char(' ')) || trimmed.endsWith(QLatin1Char('.')))
            trimmed.chop(1);
        if (trimmed.isEmpty() && segment.contains(QLatin1String("..")))
            return false;
        if (!trimmed.isEmpty())
            ++named;
    }
    return named > 0;
}

bool FindUnsafeManifestPath(const QStringList &paths, QString &bad)
{
    for (const QString &path : paths) {
        if (!IsSafeManifestPath(path)) {
            bad = path;
            return true;
        }
    }
    return false;
}

QString PackageFileNameOf(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

bool IsSafePackageFileName(const QString &name)
{
    bool onlyDotsAndBlanks = true;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            onlyDotsAndBlanks = false;
    }
    // Windows strips trailing dots and blanks, so "..." or " . " name the folder itself.
    return !onlyDotsAndBlanks;
}

QString UnsafeManifestPathError(const QString &path)
{
    return QStringLiteral("补丁清单包含非法路径：%1").arg(path);
}

} // namespace Morvaniel
