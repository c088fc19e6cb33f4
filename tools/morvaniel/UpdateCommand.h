#pragma once

#include <QString>
#include <QStringList>

class HostSession;
class QCommandLineParser;
class QTextStream;
struct HostOptions;

// What one update run did, for the summary of the demo and the last line of `update`.
struct UpdateReport
{
    QString fromVersion; // empty: nothing was installed
    QString toVersion;
    QStringList archives; // file names of the archives downloaded
    qint64 bytes = 0; // bytes that came over the network
    bool fullPack = false;
    int steps = 0; // patch steps applied
    int repairedFiles = 0;
};

// The game update, end to end: settings, remote information, guide manifest,
// plan, and then either the full pack or the patch chain step by step until
// the newest version, recording the reached version after every step.
class GameUpdater
{
public:
    enum Result { Ok = 0, Failed = 1, Paused = 130 };

    GameUpdater(HostSession &session, const HostOptions &options);
    Result run();
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

    HostSession &m_session;
    const HostOptions &m_options;
    UpdateReport m_report;
    QString m_newest;
};

// "morvaniel update --server URL --dir FOLDER [...]": returns the exit code.
int runUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
