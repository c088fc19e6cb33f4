#include "PatchPlan.h"

#include "core/Global.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace Publisher {

namespace {

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

} // namespace

QString patchFileName(const QString &path)
{
    return path + QStringLiteral(".patch");
}

bool hasUsablePatchName(const QString &path)
{
    // Any letter case: on the install's file system ".PATCH" and ".patch" name the same file.
    return !path.contains(QLatin1String(".patch"), Qt::CaseInsensitive);
}

PatchPlan planPatch(const VersionTree &from, const VersionTree &to)
{
    PatchPlan plan;
    QHash<QString, const TreeFile *> oldFiles;
    QSet<QString> oldFilesLower;
    for (const TreeFile &f : from.files) {
        oldFiles.insert(f.path, &f);
        oldFilesLower.insert(f.path.toLower());
    }
    QSet<QString> oldDirsLower;
    for (const QString &d : from.dirs)
        oldDirsLower.insert(d.toLower());
    QSet<QString> newDirsLower;
    for (const QString &d : to.dirs)
        newDirsLower.insert(d.toLower());

    QSet<QString> newPaths;
    for (const TreeFile &f : to.files) {
        newPaths.insert(f.path);
        const TreeFile *old = oldFiles.value(f.path);
        if (!old)
            plan.added << f;
        else if (old->md5 != f.md5 || old->size != f.size)
            plan.changed << f;
        else
            continue;

        // The patch folder keeps its manifest at the root under this name.
        if (plan.blocker.isEmpty() && f.path.compare(Global::Var::PatchManifestName, Qt::CaseInsensitive) == 0)
            plan.blocker = QStringLiteral("the game file \"%1\" has the name of the patch manifest").arg(f.path);

        if (plan.blocker.isEmpty() && oldDirsLower.contains(f.path.toLower()))
            plan.blocker
                = QStringLiteral("\"%1\" is a folder in %2 and a file in %3").arg(f.path, from.version, to.version);
        for (QString dir = parentOf(f.path); plan.blocker.isEmpty() && !dir.isEmpty(); dir = parentOf(dir))
            if (oldFilesLower.contains(dir.toLower()))
                plan.blocker
                    = QStringLiteral("\"%1\" is a file in %2 and a folder in %3").arg(dir, from.version, to.version);
    }

    // A folder that vanished (in any letter case) goes as one entry; its files
    // need no lines of their own. Deletions run after the additions, so a
    // folder that merely changed its letter case must not be deleted.
    auto survives = [&](const QString &dir) { return dir.isEmpty() || newDirsLower.contains(dir.toLower()); };
    for (const QString &d : from.dirs)
        if (!survives(d) && survives(parentOf(d)))
            plan.deleted << TreeFile{ d, QString(), 0 };
    for (const TreeFile &f : from.files)
        if (!newPaths.contains(f.path) && survives(parentOf(f.path)))
            plan.deleted << f;
    std::sort(
        plan.deleted.begin(), plan.deleted.end(), [](const TreeFile &a, const TreeFile &b) { return a.path < b.path; });
    return plan;
}

} // namespace Publisher
