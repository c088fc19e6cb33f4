#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Global {

// Process-wide names and switches. The host may overwrite them at start-up,
// before any planning; afterwards the library only reads them.
struct MORVANIEL_EXPORT Var
{
    Var() = default;
    // Assigning one Var to another changes nothing: all state is static.
    Var &operator=(const Var &) { return *this; }
    Var &operator=(Var &&) noexcept { return *this; }

    static QString BuildStr;
    static QString Channel;
    static QString FullPackManifestName;
    static QString FullZipManifestName;
    static QString FullZipPrefix;
    static QString GameName;
    static QString GuideManifestName;
    static QString Host;
    static QString HostAndChannel;
    static QString ImageCache;
    static QString InfoName;
    static QString Launcher;
    static QString LauncherChannel;
    static QString LauncherGUIExe;
    static QString PatchManifestName;
    static QString QQImageCache;
    static QString StartBat;
    static QString UpdateGUI;
    static QString UpdateGUIExe;
    static QString UpdateGUITemp;
    static QString Updater;
    static QString fakeGameManifestPath;
    static QString fakeLauncherManifestPath;
    static QString gameVersionPrefix;
    static QString lastLauncherVersionFileName;
    static QString lastVersionFileName;

    static bool bCheckLauncherUpdate;
    static bool bTest;
    static bool bLog;
    static bool hideInfo;

    // Certificate checks of content and image requests. On by default; a host
    // that must talk to a self-signed test server turns them off.
    static bool bVerifyPeer;
};

} // namespace Global

// Names of folders and files the host works with.
static const QString DOWNLOAD_FOLDER = QStringLiteral("Download");
static const QString GAME_FOLDER = QStringLiteral("Game");
static const QString TEMP_FOLDER = QStringLiteral("Temp");
static const QString UNZIP_FOLDER = QStringLiteral("UnZip");
static const QString LAST_LAUNCHER_VERSION_FILE = QStringLiteral("lastLauncherVersion.txt");
static const QString LAST_VERSION_FILE = QStringLiteral("lastversion.txt");
static const QString DEFAULT_VERSION = QStringLiteral("0.0.0.1");
