#pragma once

#include "FlowPart.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace HostFlow {

// Brings an installed game back to a published version: the files that fail
// their MD5 check are mapped through the version's repair manifest to the
// full-pack archives that hold them, which are downloaded, checked and
// extracted over the game folder (keeping everything else), and the game is
// checked again. Needs SolveGuideManifest to have run (it knows the full
// packages). A failure fails the owner's run.
class GameRepair : public FlowPart
{
public:
    explicit GameRepair(FlowPart &owner);

    // The text of <HostAndChannel>/<version>/manifest.txt.
    void fetchFileManifest(const QString &version, std::function<void(const QString &)> then);
    // The files of the game folder that do not match the manifest, by MD5.
    void findBadFiles(const QString &manifestText, std::function<void(const QVector<QString> &)> then);
    // Repairs badFiles; then() once the game matches version's manifest.
    void repair(const QString &version, const QString &manifestText, const QVector<QString> &badFiles,
        std::function<void()> then);

    QStringList archivesFetched() const { return m_archives; }

private:
    void repairFrom(const QString &version, const QString &repairText, const QVector<QString> &badFiles,
        std::function<void()> then);

    QString m_manifest;
    QStringList m_archives;
};

} // namespace HostFlow
