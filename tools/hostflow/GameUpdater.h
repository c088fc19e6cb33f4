#pragma once

#include "UpdateReport.h"

#include <QString>

class FlowSession;
struct FlowOptions;

// The game update, end to end: settings, remote information, guide manifest,
// plan, and then either the full pack or the patch chain step by step until
// the newest version, recording the reached version after every step.
class GameUpdater
{
public:
    enum Result { Ok = 0, Failed = 1, Paused = 130 };

    GameUpdater(FlowSession &session, const FlowOptions &options);
    Result run();
    // The start of run(): the install's state, the remote information and the
    // plan to the newest version, which newest() then names. An update that
    // stopped in its merge stage is finished first with finishMerge only.
    Result prepare(bool finishMerge);
    QString newest() const { return m_newest; }
    const UpdateReport &report() const { return m_report; }

private:
    Result installFullPack();
    Result applyPatchStep();
    Result resumeInterruptedMerge();
    Result downloadAndCheck(const QString &what);
    bool finishStep(const QString &version, bool verifyAll);
    void tidyLetterCaseTwins(const QString &manifestText);
    Result fail(const QString &message);
    void save();

    FlowSession &m_session;
    const FlowOptions &m_options;
    UpdateReport m_report;
    QString m_newest;
};
