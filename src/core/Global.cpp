#include "core/Global.h"

#include "util/Logger.h"

namespace Global {

QString Var::BuildStr = QStringLiteral("Release");
QString Var::Channel = QStringLiteral("IOS");
QString Var::FullPackManifestName = QStringLiteral("manifest.txt");
QString Var::FullZipManifestName = QStringLiteral("manifest.txt");
QString Var::FullZipPrefix = QStringLiteral("full_zip");
QString Var::GameName = QStringLiteral("Morvaniel.exe");
QString Var::GuideManifestName = QStringLiteral("manifest.txt");
QString Var::Host = QStringLiteral("http://127.0.0.1:8080");
QString Var::HostAndChannel;
QString Var::ImageCache = QStringLiteral("ImageCache");
QString Var::InfoName = QStringLiteral("info.json");
QString Var::Launcher = QStringLiteral("Launcher");
QString Var::LauncherChannel = QStringLiteral("Launcher");
QString Var::LauncherGUIExe = QStringLiteral("MorvaNiel.exe");
QString Var::PatchManifestName = QStringLiteral("manifest.txt");
QString Var::QQImageCache = QStringLiteral("QQImageCache");
QString Var::StartBat = QStringLiteral("autostart.bat");
QString Var::UpdateGUI = QStringLiteral("UpdateGUI");
QString Var::UpdateGUIExe = QStringLiteral("UpdateGUI.exe");
QString Var::UpdateGUITemp = QStringLiteral("UpdateGUITemp");
QString Var::Updater = QStringLiteral("Updater");
QString Var::fakeGameManifestPath;
QString Var::fakeLauncherManifestPath;
QString Var::gameVersionPrefix;
QString Var::lastLauncherVersionFileName = QStringLiteral("manifest.txt");
QString Var::lastVersionFileName = QStringLiteral("manifest.txt");

bool Var::bCheckLauncherUpdate = false;
bool Var::bTest = false;
bool Var::bLog = false;
bool Var::hideInfo = false;
bool Var::bVerifyPeer = true;

namespace {
// The log file follows bLog; the logger itself knows nothing of these names.
[[maybe_unused]] const bool logSwitchFollowed = (Logger::FollowSwitch(&Var::bLog), true);
} // namespace

} // namespace Global
