#include "LauncherSettings.h"

#include "core/SerializeComponent.h"

using namespace Morvaniel;

namespace {

const QString ServerKey = QStringLiteral("Launcher/Server");
const QString InstallDirKey = QStringLiteral("Launcher/InstallDir");
const QString SpeedLimitKey = QStringLiteral("Launcher/SpeedLimitKiB");
const QString AutoUpdateKey = QStringLiteral("Launcher/AutoUpdate");
const QString MusicKey = QStringLiteral("Launcher/BackgroundMusic");

} // namespace

LauncherSettings LauncherSettings::load()
{
    const auto store = GetSerializeComponent();
    LauncherSettings s;
    s.server = store->getValue(ServerKey).toString();
    s.installDir = store->getValue(InstallDirKey).toString();
    s.speedLimitKiB = qMax(0, store->getValue(SpeedLimitKey).toInt());
    s.autoUpdate = store->getValue(AutoUpdateKey).toBool();
    const QVariant music = store->getValue(MusicKey);
    s.backgroundMusic = music.isValid() ? music.toBool() : true;
    return s;
}

void LauncherSettings::save() const
{
    const auto store = GetSerializeComponent();
    store->setValue(ServerKey, server);
    store->setValue(InstallDirKey, installDir);
    store->setValue(SpeedLimitKey, speedLimitKiB);
    store->setValue(AutoUpdateKey, autoUpdate);
    store->setValue(MusicKey, backgroundMusic);
}
