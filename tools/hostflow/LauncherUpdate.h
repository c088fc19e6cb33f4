#pragma once

#include <QString>

class FlowSession;
struct FlowOptions;

// The launcher's own update. The launcher's guide manifest (<Host>/<launcher
// channel>/manifest.txt) names the newest version; its full pack is
// downloaded, checked, unpacked and moved over the install folder by the
// update stage, which deletes what the new version no longer has. The
// installed launcher version is kept in the folder's morvaniel-install.ini
// ("LauncherVersion") unless the options name it.
class LauncherUpdate
{
public:
    LauncherUpdate(FlowSession &session, const FlowOptions &options);

    // Plans only: the installed and the newest launcher version (launcherChecked).
    // Returns the exit code.
    int check();
    // Plans and updates; returns the exit code and sets reached() to the version reached.
    int run();
    QString reached() const { return m_reached; }

private:
    // The launcher's guide manifest planned into the context's launcherInfo.
    bool plan();

    FlowSession &m_session;
    const FlowOptions &m_options;
    QString m_guide;
    QString m_reached;
};
