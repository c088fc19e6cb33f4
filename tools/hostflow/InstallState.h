#pragma once

#include <QString>

namespace Morvaniel {
class GameUpdateContext;
}

// How the command line points the library's settings at an install folder.
//
// The library keeps its settings in config.ini beside the executable, one file
// for every install the program works on. The command line therefore writes
// InstallPath (the install folder) and GamePath (<install>/MorvanielGame)
// into config.ini before ReadSetting, so that the library derives the cache
// folders from the install folder, and keeps the update state of each install
// (CurrentGameVersion, TransitionGameVersion, TargetGameVersion, CurrentStage)
// in the install folder's own "morvaniel-install.ini", laid over what
// config.ini says. Two installs updated one after the other from one program
// folder thus never see each other's versions.
class InstallState
{
public:
    static QString stateFileName() { return QStringLiteral("morvaniel-install.ini"); }
    static QString gameFolder(const QString &installDir);

    // Sets the keys, reads the settings into ctx.setting and lays the install's
    // state over them. speedLimitKiB < 0 means no limit for this run (the
    // LimitSpeed of config.ini is left as it is).
    static void load(const QString &installDir, Morvaniel::GameUpdateContext &ctx, int speedLimitKiB);
    // SaveSetting plus the install's own state file.
    static void save(Morvaniel::GameUpdateContext &ctx);
    // Marks installDir as holding version (used to adopt an existing game folder).
    static void writeVersion(const QString &installDir, const QString &version);
};
