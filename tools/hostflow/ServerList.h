#pragma once

#include "FlowOptions.h"
#include "Stage.h"

#include <QString>
#include <QStringList>

namespace Morvaniel {
class GameUpdateContext;
}

namespace HostFlow {

// The servers of a run, in the order the host gave them (a server and its
// mirrors, all holding the same publication). The run fetches from the
// current one; one that fails is skipped for the rest of the run and the
// next one takes over. Addresses the planners already formed with a skipped
// server are moved onto the current one by rebased().
class ServerList
{
public:
    // A run begins: its first address is current again, nothing is skipped.
    void reset(const FlowOptions &options);
    QString current() const { return m_addresses.value(m_current); }
    bool hasNext() const { return m_current + 1 < m_addresses.size(); }
    // Points Global::Var (and the accepted signed release) at the current server.
    void apply() const;
    // Skips the current server for the rest of the run and applies the next;
    // false, with nothing changed, when there is none.
    bool skip();
    // url, moved from a skipped server onto the current one; others as they are.
    QString rebased(const QString &url) const;
    // Every address the context holds, rebased.
    void rebase(Morvaniel::GameUpdateContext &ctx) const;

    // Whether the stage failed because of the server that served it (no
    // answer, a reset, a time-out, HTTP 5xx, bytes that failed their digest),
    // rather than for a reason another server would not change (404, a full
    // disk, a stop).
    static bool failedByServer(const StageEnd &end);

private:
    FlowOptions m_options;
    QStringList m_addresses;
    int m_current = 0;
};

} // namespace HostFlow
