#pragma once

#include <QString>

namespace Morvaniel {

// The launcher's persistent settings. Field names are the INI keys; CachePath,
// UnZipPath and TempMergePath are derived from InstallPath and never stored.
// The store's defaults (LimitSpeed -1, MusicVolume 50, ...) come from reading
// config.ini, not from this constructor.
struct UpdateSetting
{
    QString InstallPath;
    QString GamePath;
    QString CachePath;
    QString UnZipPath;
    QString TempMergePath;
    QString CurrentGameVersion;
    QString TransitionGameVersion;
    QString TargetGameVersion;
    QString CurrentStage;
    bool bPatchFinished = false;
    bool IsOpenBgMusic = false;
    bool IsAutoStart = false;
    bool IsPopWhenQuitGame = false;
    bool IsMinWhenCloseLauncher = false;
    bool IsSkipInstallPlugin = false;
    int LimitSpeed = 0; // KiB per second; -1 or below means unlimited
    int MusicVolume = 0;
    QString MusicLanguage;
    bool SystemExplorer = false;
    bool NewAgreementCheckedFlag = false;
    QString LoginServer;
    QString GuideServer;
    bool AutoUpdateGame = false;
};

} // namespace Morvaniel
