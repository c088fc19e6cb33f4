#pragma once

#include "FlowPart.h"

#include <QString>

namespace HostFlow {

// The launcher's own update. The launcher's guide manifest (<Host>/<launcher
// channel>/manifest.txt) names the newest version; its full pack is
// downloaded, checked, unpacked and moved over the install folder by the
// update stage, which deletes what the new version no longer has. The
// installed launcher version is kept in the folder's morvaniel-install.ini
// ("LauncherVersion") unless the options name it.
class LauncherUpdate : public FlowPart
{
public:
    // checkOnly: plans only, and tells the installed and the newest launcher
    // version (launcherChecked).
    LauncherUpdate(StageRunner &runner, const FlowOptions &options, Finish finish, bool checkOnly);

    void start() override;
    void stopped() override;

private:
    // The launcher's guide manifest planned into the context's launcherInfo.
    void plan(std::function<void()> then);
    void update(const QString &newManifest, const QString &oldManifest);
    void install(const QString &archive, const QString &newManifest, const QString &oldManifest);

    bool m_checkOnly;
    QString m_guide;
};

} // namespace HostFlow
