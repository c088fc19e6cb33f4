#pragma once

#include <QString>
#include <QStringList>

namespace Morvaniel {
class GameUpdateContext;
}

namespace HostFlow {

// How a host points the library's settings at an install folder.
//
// The library keeps its settings in config.ini beside the executable, one file
// for every install the program works on. The flow therefore writes
// InstallPath (the install folder) and GamePath (<install>/MorvanielGame)
// into config.ini before ReadSetting, so that the library derives the cache
// folders from the install folder, and keeps the update state of each install
// (CurrentGameVersion, TransitionGameVersion, TargetGameVersion, CurrentStage)
// in the install folder's own "morvaniel-install.ini", laid over what
// config.ini says. Two installs updated one after the other from one program
// folder thus never see each other's versions.
//
// Every write of the state file is synced and its status checked: a state
// that did not reach the disk must not let a run go on as if it had.
class InstallState
{
public:
    static QString stateFileName() { return QStringLiteral("morvaniel-install.ini"); }
    static QString statePath(const QString &installDir);
    static QString gameFolder(const QString &installDir);

    // Sets the keys, reads the settings into ctx.setting and lays the install's
    // state over them. speedLimitKiB < 0 means no limit for this run (the
    // LimitSpeed of config.ini is left as it is).
    static void load(const QString &installDir, Morvaniel::GameUpdateContext &ctx, int speedLimitKiB);
    // SaveSetting plus the install's own state file; false with error when
    // the state file could not be written.
    static bool save(Morvaniel::GameUpdateContext &ctx, QString &error);
    // Marks installDir as holding version (used to adopt an existing game folder).
    static bool writeVersion(const QString &installDir, const QString &version);

    // Whether the game folder may differ from its version in ways a size
    // check cannot see: a run wrote into it and did not finish.
    static bool needsCheckByMd5(const QString &installDir);
    // Whether manifest differs from the file manifest the game was last found whole against.
    static bool manifestChanged(const QString &installDir, const QString &manifest);
    // A run is about to write into the game: until it records the game whole,
    // the next check goes by MD5.
    static bool recordGameWritten(const QString &installDir, QString &error);
    // A block run brings the game from the version `from` (empty: nothing
    // installed) to `target`: the next run goes on with the same job. Both
    // empty: none is under way.
    static bool recordBlockRun(const QString &installDir, const QString &from, const QString &target, QString &error);
    static void blockRun(const QString &installDir, QString &from, QString &target);
    // How far the block run under way got (bytes written of total), for a view
    // that offers to resume it after a restart. A hint, written as the run
    // goes; recordBlockRun() with no target clears it.
    static void recordBlockProgress(const QString &installDir, qint64 done, qint64 total);
    static void blockProgress(const QString &installDir, qint64 &done, qint64 &total);
    // The full pack of version is extracted one archive after the other, each
    // deleted once extracted: archives ("<name>|<md5>") are in the game
    // folder already. An empty version clears the record.
    static bool recordExtracted(
        const QString &installDir, const QString &version, const QStringList &archives, QString &error);
    // The archives of version that an earlier run extracted; none for another version.
    static QStringList extractedArchives(const QString &installDir, const QString &version);
    // The game matches manifest (checked by MD5, or installed from checked archives).
    static bool recordGameWhole(const QString &installDir, const QString &manifest, QString &error);
};

} // namespace HostFlow
