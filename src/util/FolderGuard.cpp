#include "util/FolderGuard.h"

#include "util/Logger.h"
#include "util/Platform.h"
#include "util/QFileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace Morvaniel {
namespace FolderGuard {

namespace {

// "/" separators, and the Windows long-path prefixes ("\\?\", "\\.\",
// "\\?\UNC\") taken off, so that the spelling test sees the path they prefix.
QString slashed(const QString &path)
{
    // By hand: QDir::fromNativeSeparators drops "\\?\" on Windows and would
    // leave "UNC\server\share" as a relative path.
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.startsWith(QLatin1String("//?/UNC/"), Qt::CaseInsensitive))
        p = QLatin1String("//") + p.mid(8);
    else if (p.startsWith(QLatin1String("//?/")) || p.startsWith(QLatin1String("//./")))
        p = p.mid(4);
    return p;
}

// A share as a whole ("\\server\share"): as much a root as a drive is.
bool isShareRoot(const QString &slashedPath)
{
    static const QRegularExpression share(QStringLiteral("^//[^/]+/[^/]+/?$"));
    return share.match(slashedPath).hasMatch();
}

bool isRoot(const QString &slashedPath)
{
    return isShareRoot(slashedPath) || QDir(QDir::cleanPath(QFileInfo(slashedPath).absoluteFilePath())).isRoot();
}

// What the file system makes of path: the deepest part that exists resolved
// (links, short names, shares), the rest - which cannot hold a link - added.
QString resolved(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(slashed(path)).absoluteFilePath());
    QString rest;
    for (int i = 0; i < 256 && !existing.isEmpty(); ++i) {
        const std::string native = Platform::ToNativeSeparators(existing.toStdString());
        const QString real = QString::fromStdString(Platform::ResolvedPath(native));
        if (!real.isEmpty())
            return rest.isEmpty() ? slashed(real) : QFileUtils::CombinePath(slashed(real), rest);
        const QFileInfo info(existing);
        const QString parent = info.path();
        if (parent == existing)
            break;
        rest = rest.isEmpty() ? info.fileName() : info.fileName() + QLatin1Char('/') + rest;
        existing = parent;
    }
    return QDir::cleanPath(QFileInfo(slashed(path)).absoluteFilePath());
}

// Protected by its spelling alone: nothing to resolve is needed to refuse it.
bool protectedBySpelling(const QString &p)
{
    if (p.trimmed().isEmpty() || QDir::cleanPath(p) == QLatin1String(".")
        || p.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return true;
    if (isRoot(p))
        return true;
    return QCoreApplication::instance() && IsSameOrInside(QCoreApplication::applicationDirPath(), p);
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
    if (protectedBySpelling(p))
        return true;
    // Another name of the same folder: a link to it, a short name, a share.
    const QString real = resolved(p);
    if (isRoot(real))
        return true;
    return QCoreApplication::instance() && IsSameOrInside(resolved(QCoreApplication::applicationDirPath()), real);
}

bool DeleteConfiguredFolder(const QString &folder, const QString &tag)
{
    if (IsProtectedFolder(folder)) {
        Logger::LogInfo(tag, QStringLiteral("refusing to delete %1").arg(folder));
        return false;
    }
    if (!QFileInfo::exists(folder) && !QFileInfo(folder).isSymLink())
        return true;
    return QFileUtils::DeleteFileOrFolder(folder);
}

} // namespace FolderGuard
} // namespace Morvaniel
