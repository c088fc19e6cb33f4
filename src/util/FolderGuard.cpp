#include "util/FolderGuard.h"

#include "util/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Morvaniel {
namespace FolderGuard {

namespace {

QString slashed(const QString &path)
{
    QString p = QDir::fromNativeSeparators(path);
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

} // namespace

QString ComparablePath(const QString &path)
{
    const QString cleaned = QDir::cleanPath(QFileInfo(slashed(path)).absoluteFilePath());
    return QString::fromStdString(Platform::FileNameKey(cleaned.toStdString()));
}

bool IsSameOrInside(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString p = ComparablePath(path);
    QString f = ComparablePath(folder);
    if (p == f)
        return true;
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    return p.startsWith(f);
}

bool IsProtectedFolder(const QString &folder)
{
    const QString p = slashed(folder);
    if (p.trimmed().isEmpty() || QDir::cleanPath(p) == QLatin1String(".")
        || p.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return true;
    if (QDir(QDir::cleanPath(QFileInfo(p).absoluteFilePath())).isRoot())
        return true;
    return QCoreApplication::instance() && IsSameOrInside(QCoreApplication::applicationDirPath(), p);
}

} // namespace FolderGuard
} // namespace Morvaniel
