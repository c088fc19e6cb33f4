#include "LauncherSettings.h"

#include "SignedRelease.h"

#include "core/SerializeComponent.h"

#include <QDir>
#include <QFileInfo>

namespace Launcher {

using namespace Morvaniel;

namespace {

const QString ServerKey = QStringLiteral("Launcher/Server");
const QString InstallDirKey = QStringLiteral("Launcher/InstallDir");
const QString SpeedLimitKey = QStringLiteral("Launcher/SpeedLimitKiB");
const QString AutoUpdateKey = QStringLiteral("Launcher/AutoUpdate");
const QString MusicKey = QStringLiteral("Launcher/BackgroundMusic");
const QString TrustedKeysKey = QStringLiteral("Launcher/TrustedKeys");

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
    s.trustedKeys = store->getValue(TrustedKeysKey).toStringList();
    s.trustedKeys.removeAll(QString());
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
    store->setValue(TrustedKeysKey, trustedKeys);
}

bool LauncherSettings::readKeyFile(const QString &folder, QString &error)
{
    programKeys.clear();
    const QString file = QDir(folder).filePath(keyFileName());
    return !QFileInfo::exists(file) || HostFlow::SignedRelease::readPublicKeys({ file }, programKeys, error);
}

QStringList LauncherSettings::allTrustedKeys() const
{
    QStringList all = trustedKeys;
    for (const QString &key : programKeys)
        if (!all.contains(key))
            all << key;
    return all;
}

} // namespace Launcher
