#pragma once

#include "FlowPart.h"

#include <QString>
#include <QVector>

#include <memory>

namespace HostFlow {

class GameRepair;
class GameUpdater;

// What is installed, checked against the server.
//   Check: the remote information, the installed and newest versions, a
//     partial download an interrupted update left, and whether the installed
//     newest version is whole. Files are compared by size, and by MD5 only
//     after a run that wrote into the game did not finish, or when the
//     server's file manifest of the version changed since the last check.
//   Verify: every file of the installed version by MD5 (exit 1 when some differ).
//   Repair: the same, then the bad files fetched again.
class InstallCheck : public FlowPart
{
public:
    enum class Mode { Check, Verify, Repair };

    InstallCheck(StageRunner &runner, const FlowOptions &options, Finish finish, Mode mode);
    ~InstallCheck() override;

    void start() override;
    void stopped() override;

private:
    void prepared();
    void checkNewest(const QString &version);
    void planRepair();
    void verified(const QString &version, const QString &manifest, const QVector<QString> &bad);

    Mode m_mode;
    std::unique_ptr<GameUpdater> m_update;
    std::unique_ptr<GameRepair> m_repair;
};

} // namespace HostFlow
