#pragma once

#include "FlowPart.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

namespace HostFlow {

class BlockDelivery;

// Brings an installed game back to a published version. Where the server
// keeps a block store, only the damaged blocks of the files that fail their
// MD5 check are fetched and written. Otherwise the bad files are mapped through the version's repair manifest to the
// full-pack archives that hold them, which are downloaded, checked and
// extracted over the game folder (keeping everything else), and the game is
// checked again. Needs SolveGuideManifest to have run (it knows the full
// packages). A failure fails the owner's run.
class GameRepair : public FlowPart
{
public:
    explicit GameRepair(FlowPart &owner);
    ~GameRepair() override;

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
    // The game checked again once the bad files were written.
    void recheck(const QVector<QString> &badFiles, std::function<void()> then);

    std::unique_ptr<BlockDelivery> m_blocks;
    QString m_manifest;
    QStringList m_archives;
};

} // namespace HostFlow
