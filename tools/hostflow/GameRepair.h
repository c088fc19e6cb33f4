#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class FlowSession;

// Brings an installed game back to a published version: the files that fail
// their MD5 check are mapped through the version's repair manifest to the
// full-pack archives that hold them, which are downloaded, checked and
// extracted over the game folder (keeping everything else), and the game is
// checked again. Needs SolveGuideManifest to have run (it knows the full packs).
class GameRepair
{
public:
    explicit GameRepair(FlowSession &session);

    // The text of <HostAndChannel>/<version>/manifest.txt.
    bool fetchFileManifest(const QString &version, QString &text, QString &error);
    // The files of the game folder that do not match version's file manifest.
    QVector<QString> findBadFiles(const QString &manifestText);
    // Repairs badFiles; true when the game then matches version's manifest.
    bool repair(const QString &version, const QString &manifestText, const QVector<QString> &badFiles, QString &error);

    QStringList archivesFetched() const { return m_archives; }

private:
    FlowSession &m_session;
    QStringList m_archives;
};
